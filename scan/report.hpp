#pragma once

// The records as text: TSV (no header), CSV (RFC 4180, with a header) or
// JSON Lines; or, as a whole document written once the run is over, a
// rekordbox collection (rekordbox_xml.hpp).

#include <string>
#include <vector>

#include "record/scan_record.hpp"

namespace tempo::scan {

enum class ReportFormat { Tsv, Csv, Jsonl, RekordboxXml };

// A field of a TSV or CSV record (--columns), each as JSON Lines gives it:
// the tempo, the status, the tag outcome, the path, the confidence (two
// decimals), the warning ("file ends early"), the method, the duration
// (three decimals), the sample rate, the channels and the codec; empty
// where JSON Lines has null or nothing.
enum class ReportColumn { Bpm, Status, Tag, Path, Confidence, Warning, Method, Duration, SampleRate, Channels, Codec };

// The column's name, as --columns and a CSV header give it ("sample_rate").
const char* reportColumnName(ReportColumn column);

// The column `name` names; false for none.
bool reportColumnNamed(const std::string& name, ReportColumn& column);

// Whether `columns` give the channels or the codec, which the decoder
// lists only when asked.
bool columnsDescribe(const std::vector<ReportColumn>& columns);

// The columns of a report that names none: bpm, status and path, with the
// tag outcome before the path when tags are written.
std::vector<ReportColumn> defaultColumns(bool withTag);

// The line that opens a report ("" for TSV and JSON Lines): the CSV header
// names `columns`.
std::string reportHeader(ReportFormat format, const std::vector<ReportColumn>& columns);

// One record, with its line ending: `columns` in TSV and CSV; in JSON
// Lines every field, and "tag" (null where none was considered) when the
// columns hold the tag outcome; "" for the rekordbox collection, which is
// written whole. `decimals` (0 to 2) digits follow the
// point in the tempo; `withBeats` adds "beats" and "tempo_changes" to JSON
// Lines records ([] for no tempo, null for an error).
std::string formatRecord(ReportFormat format, const ScanRecord& record, const std::vector<ReportColumn>& columns,
                         unsigned decimals = 0, bool withBeats = false);

// The same with the default columns, with or without the tag outcome.
std::string reportHeader(ReportFormat format, bool withTag = false);
std::string formatRecord(ReportFormat format, const ScanRecord& record, bool withTag = false, unsigned decimals = 0,
                         bool withBeats = false);

}  // namespace tempo::scan
