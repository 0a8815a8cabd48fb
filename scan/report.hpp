#pragma once

// The records as text: TSV (no header), CSV (RFC 4180, with a header) or
// JSON Lines; or, as a whole document written once the run is over, a
// rekordbox collection (rekordbox_xml.hpp).

#include <string>

#include "record/scan_record.hpp"

namespace tempo::scan {

enum class ReportFormat { Tsv, Csv, Jsonl, RekordboxXml };

// The line that opens a report ("" for TSV and JSON Lines). With
// `withTag`, every record carries the tag outcome too: a field before the
// path in TSV and CSV, "tag" (null where none was considered) in JSON.
std::string reportHeader(ReportFormat format, bool withTag = false);

// One record, with its line ending ("" for the rekordbox collection,
// which is written whole). `decimals` (0 to 2) digits follow the
// point in the tempo; `withBeats` adds "beats" and "tempo_changes" to JSON
// Lines records ([] for no tempo, null for an error).
std::string formatRecord(ReportFormat format, const ScanRecord& record, bool withTag = false, unsigned decimals = 0,
                         bool withBeats = false);

}  // namespace tempo::scan
