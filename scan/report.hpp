#pragma once

// The records as text: TSV (no header), CSV (RFC 4180, with a header) or
// JSON Lines.

#include <string>

#include "scan/options.hpp"
#include "scan/scan_record.hpp"

namespace tempo::scan {

// The line that opens a report ("" for TSV and JSON Lines).
std::string reportHeader(ReportFormat format);

// One record, with its line ending.
std::string formatRecord(ReportFormat format, const ScanRecord& record);

}  // namespace tempo::scan
