#include "scan/options.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "scan/platform.hpp"

namespace tempo::scan {
namespace {

// A decimal number in [low, high], all of `text`.
bool parseNumber(const std::string& text, unsigned long low, unsigned long high, unsigned& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long parsed = std::strtoul(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed < low || parsed > high) return false;
    value = static_cast<unsigned>(parsed);
    return true;
}

}  // namespace

const char* usageText() {
    return "usage: tempo-scan [OPTIONS] PATH...\n"
           "Reports the tempo of every audio file under the PATHs, one record per file,\n"
           "in byte order of the paths.\n"
           "\n"
           "  -j, --jobs N          analyses at once (default: the CPUs available)\n"
           "      --method METHOD   accurate (default) or classic: tempo's own number\n"
           "      --range MIN-MAX   double or halve each tempo into MIN to MAX BPM\n"
           "                        (MAX at least twice MIN)\n"
           "      --decimals N      digits after the point in the tempo, 0 (default) to 2\n"
           "      --beats           with --format jsonl: give each file's beat times and\n"
           "                        where its tempo changes\n"
           "      --format FORMAT   tsv (default), csv or jsonl\n"
           "  -o, --output FILE     write the records to FILE instead of standard output\n"
           "      --shard I/N       only the files at positions I, I+N, I+2N, ... (0 <= I < N)\n"
           "      --progress        show a progress line on standard error\n"
           "      --no-progress     never show it (default: only on a terminal)\n"
           "      --timeout SECONDS time limit for decoding one file, 1 to 1000000 (default 600)\n"
           "      --write-tags      write each tempo found into the file's own tag, in place,\n"
           "                        unless the file already holds a tempo\n"
           "      --overwrite-tags  with --write-tags: replace a tempo the file already holds\n"
           "      --dry-run         with --write-tags: report what would be written, touch nothing\n"
           "  -h, --help            show this text\n"
           "      --version         show the version\n";
}

bool parseOptions(int argc, const char* const argv[], ScanOptions& options, std::string& error) {
    options = ScanOptions{};
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value", "-jN" and "-oFILE" carry their value inline.
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                name = arg.substr(0, equals);
                value = arg.substr(equals + 1);
                hasValue = true;
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            value = arg.substr(2);
            hasValue = true;
        }
        const bool takesValue = name == "-j" || name == "--jobs" || name == "--format" || name == "-o" ||
                                name == "--output" || name == "--shard" || name == "--timeout" || name == "--method" ||
                                name == "--range" || name == "--decimals";
        if (takesValue && !hasValue) {
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!takesValue && hasValue) {
            error = "unknown option " + arg;
            return false;
        }

        if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--progress") {
            options.progress = ProgressMode::On;
        } else if (name == "--no-progress") {
            options.progress = ProgressMode::Off;
        } else if (name == "--write-tags") {
            options.writeTags = true;
        } else if (name == "--overwrite-tags") {
            options.overwriteTags = true;
        } else if (name == "--dry-run") {
            options.dryRun = true;
        } else if (name == "--beats") {
            options.beats = true;
        } else if (name == "--decimals") {
            if (!parseNumber(value, 0, 2, options.decimals)) {
                error = "--decimals needs 0, 1 or 2, not '" + value + "'";
                return false;
            }
        } else if (name == "-j" || name == "--jobs") {
            if (!parseNumber(value, 1, kMaxJobs, options.jobs)) {
                error = "--jobs needs a number from 1 to " + std::to_string(kMaxJobs) + ", not '" + value + "'";
                return false;
            }
        } else if (name == "--format") {
            if (value == "tsv") {
                options.format = ReportFormat::Tsv;
            } else if (value == "csv") {
                options.format = ReportFormat::Csv;
            } else if (value == "jsonl") {
                options.format = ReportFormat::Jsonl;
            } else {
                error = "--format is tsv, csv or jsonl, not '" + value + "'";
                return false;
            }
        } else if (name == "--method") {
            if (value == "accurate") {
                options.method = Method::Accurate;
            } else if (value == "classic") {
                options.method = Method::Classic;
            } else {
                error = "--method is accurate or classic, not '" + value + "'";
                return false;
            }
        } else if (name == "--range") {
            const std::size_t dash = value.find('-');
            unsigned low = 0;
            unsigned high = 0;
            if (dash == std::string::npos || !parseNumber(value.substr(0, dash), 1, 100000, low) ||
                !parseNumber(value.substr(dash + 1), 1, 1000000, high) || high < 2 * low) {
                error = "--range needs MIN-MAX with MAX at least twice MIN, not '" + value + "'";
                return false;
            }
            options.rangeMin = low;
            options.rangeMax = high;
        } else if (name == "-o" || name == "--output") {
            if (value.empty()) {
                error = "--output needs a file name";
                return false;
            }
            options.output = value;
        } else if (name == "--shard") {
            const std::size_t slash = value.find('/');
            unsigned index = 0;
            unsigned count = 0;
            if (slash == std::string::npos || !parseNumber(value.substr(slash + 1), 1, 1000000, count) ||
                !parseNumber(value.substr(0, slash), 0, count - 1, index)) {
                error = "--shard needs I/N with 0 <= I < N, not '" + value + "'";
                return false;
            }
            options.shardIndex = index;
            options.shardCount = count;
        } else if (name == "--timeout") {
            if (!parseNumber(value, 1, 1000000, options.timeoutSeconds)) {
                error = "--timeout needs a number of seconds from 1 to 1000000, not '" + value + "'";
                return false;
            }
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if ((options.overwriteTags || options.dryRun) && !options.writeTags) {
        error = std::string(options.dryRun ? "--dry-run" : "--overwrite-tags") + " needs --write-tags";
        return false;
    }
    if (options.beats && options.format != ReportFormat::Jsonl) {
        error = "--beats needs --format jsonl (TSV and CSV have no field for them)";
        return false;
    }
    if (options.beats && options.method != Method::Accurate) {
        error = "--beats needs the accurate method";
        return false;
    }
    if (!options.help && !options.version && options.paths.empty()) {
        error = "no PATH given";
        return false;
    }
    if (options.jobs == 0) options.jobs = std::min(availableCpus(), kMaxJobs);
    return true;
}

}  // namespace tempo::scan
