#pragma once

// tempo-scan's command line.

#include <string>
#include <vector>

#include "scan/report.hpp"
#include "tempo/estimate.hpp"

namespace tempo::scan {

enum class ProgressMode { Auto, On, Off };

constexpr unsigned kMaxJobs = 256;

struct ScanOptions {
    unsigned jobs = 0;  // 0: as many as the CPUs this process may use
    ReportFormat format = ReportFormat::Tsv;
    // The fields of a TSV or CSV record, in order: --columns, or by
    // default bpm, status, (tag,) path.
    std::vector<ReportColumn> columns;
    std::string output;  // empty: standard output
    unsigned shardIndex = 0;
    unsigned shardCount = 1;
    ProgressMode progress = ProgressMode::Auto;
    unsigned timeoutSeconds = 600;  // per decoded file
    bool writeTags = false;
    bool overwriteTags = false;
    bool dryRun = false;
    double minConfidence = 0.0;  // --min-confidence: 0 for none, else 0 to 1
    Method method = Method::Accurate;
    // The tempos reported: doubled or halved into [rangeMin, rangeMax];
    // 0 and 0 for none. rangeMax >= 2 * rangeMin, so each tempo has one place.
    unsigned rangeMin = 0;
    unsigned rangeMax = 0;
    unsigned decimals = 0;  // digits after the point in the bpm field, 0 to 2
    bool beats = false;     // JSON Lines records carry the beats and tempo changes
    std::vector<std::string> paths;
    std::string db;  // --db: the index file; empty: none
    bool prune = false;  // --prune: with --db, remove the rows of files under the PATHs that are not there
    // What counts below each folder named: names that start with '.' too,
    // the exclude patterns as given, and the extensions (lower case, no
    // dot; empty: the default list).
    bool hidden = false;
    std::vector<std::string> excludes;
    std::vector<std::string> extensions;
    bool help = false;
    bool version = false;
};

// Fills `options` from argv; false with `error` set (one line, no newline)
// on a usage error. --help and --version set their flag and need no path.
bool parseOptions(int argc, const char* const argv[], ScanOptions& options, std::string& error);

// The usage text printed by --help.
const char* usageText();

}  // namespace tempo::scan
