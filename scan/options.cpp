#include "scan/options.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "input/glob.hpp"
#include "input/text.hpp"
#include "platform/machine.hpp"
#include "platform/path.hpp"

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

// Each option's effect on the options, from its value ("" for an option
// that takes none); false with `error` set for a value it cannot take.
using OptionHandler = bool (*)(const std::string& value, ScanOptions& options, std::string& error);

struct OptionEntry {
    const char* shortName;  // "" where there is none
    const char* longName;
    bool takesValue;
    OptionHandler apply;
};

bool readJobs(const std::string& value, ScanOptions& options, std::string& error) {
    if (parseNumber(value, 1, kMaxJobs, options.jobs)) return true;
    error = "--jobs needs a number from 1 to " + std::to_string(kMaxJobs) + ", not '" + value + "'";
    return false;
}

bool readFormat(const std::string& value, ScanOptions& options, std::string& error) {
    if (value == "tsv") {
        options.format = ReportFormat::Tsv;
    } else if (value == "csv") {
        options.format = ReportFormat::Csv;
    } else if (value == "jsonl") {
        options.format = ReportFormat::Jsonl;
    } else if (value == "rekordbox-xml") {
        options.format = ReportFormat::RekordboxXml;
    } else {
        error = "--format is tsv, csv, jsonl or rekordbox-xml, not '" + value + "'";
        return false;
    }
    return true;
}

bool readMethod(const std::string& value, ScanOptions& options, std::string& error) {
    if (value == "accurate") {
        options.method = Method::Accurate;
    } else if (value == "classic") {
        options.method = Method::Classic;
    } else {
        error = "--method is accurate or classic, not '" + value + "'";
        return false;
    }
    return true;
}

bool readRange(const std::string& value, ScanOptions& options, std::string& error) {
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
    return true;
}

bool readOutput(const std::string& value, ScanOptions& options, std::string& error) {
    if (value.empty()) {
        error = "--output needs a file name";
        return false;
    }
    options.output = value;
    return true;
}

bool readShard(const std::string& value, ScanOptions& options, std::string& error) {
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
    return true;
}

bool readDecimals(const std::string& value, ScanOptions& options, std::string& error) {
    if (parseNumber(value, 0, 2, options.decimals)) return true;
    error = "--decimals needs 0, 1 or 2, not '" + value + "'";
    return false;
}

bool readTimeout(const std::string& value, ScanOptions& options, std::string& error) {
    if (parseNumber(value, 1, 1000000, options.timeoutSeconds)) return true;
    error = "--timeout needs a number of seconds from 1 to 1000000, not '" + value + "'";
    return false;
}

// A confidence from 0 to 1: digits, at most one point, nothing else.
bool readMinConfidence(const std::string& value, ScanOptions& options, std::string& error) {
    const bool digits = !value.empty() && value.find_first_not_of("0123456789.") == std::string::npos &&
                        value.find('.') == value.rfind('.') && value != ".";
    const double confidence = digits ? std::strtod(value.c_str(), nullptr) : -1.0;
    if (confidence < 0.0 || confidence > 1.0) {
        error = "--min-confidence needs a number from 0 to 1, not '" + value + "'";
        return false;
    }
    options.minConfidence = confidence;
    return true;
}

bool readDb(const std::string& value, ScanOptions& options, std::string& error) {
    if (value.empty()) {
        error = "--db needs a file name";
        return false;
    }
    options.db = value;
    return true;
}

bool readExclude(const std::string& value, ScanOptions& options, std::string& error) {
    GlobPattern pattern;
    if (!compileGlob(value, platform::kPathSeparators, pattern)) {
        error = "--exclude needs a pattern, not '" + value + "'";
        return false;
    }
    options.excludes.push_back(value);
    return true;
}

// "mp3,flac,.XM": each lower case, without its dot; given twice, the
// lists join.
bool readExtensions(const std::string& value, ScanOptions& options, std::string& error) {
    std::vector<std::string> extensions;
    for (std::size_t at = 0; at <= value.size();) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        std::string extension = asciiLower(value.substr(at, comma - at));
        if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
        if (extension.empty() || extension.find_first_of(std::string(".") + platform::kPathSeparators) !=
                                     std::string::npos) {
            error = "--extensions needs a list such as mp3,flac,xm, not '" + value + "'";
            return false;
        }
        extensions.push_back(std::move(extension));
        at = comma + 1;
    }
    options.extensions.insert(options.extensions.end(), extensions.begin(), extensions.end());
    return true;
}

// "bpm,status,confidence,path": each column once; given twice, the lists
// join.
bool readColumns(const std::string& value, ScanOptions& options, std::string& error) {
    for (std::size_t at = 0; at <= value.size();) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        const std::string name = value.substr(at, comma - at);
        ReportColumn column = ReportColumn::Bpm;
        if (!reportColumnNamed(name, column)) {
            error = "--columns takes bpm, status, tag, path, confidence, warning, method, duration, sample_rate, "
                    "channels and codec, not '" + name + "'";
            return false;
        }
        if (std::find(options.columns.begin(), options.columns.end(), column) != options.columns.end()) {
            error = "--columns names " + name + " twice";
            return false;
        }
        options.columns.push_back(column);
        at = comma + 1;
    }
    return true;
}

const OptionEntry kOptions[] = {
    {"-h", "--help", false, [](const std::string&, ScanOptions& o, std::string&) { o.help = true; return true; }},
    {"", "--version", false, [](const std::string&, ScanOptions& o, std::string&) { o.version = true; return true; }},
    {"", "--progress", false,
     [](const std::string&, ScanOptions& o, std::string&) { o.progress = ProgressMode::On; return true; }},
    {"", "--no-progress", false,
     [](const std::string&, ScanOptions& o, std::string&) { o.progress = ProgressMode::Off; return true; }},
    {"", "--write-tags", false, [](const std::string&, ScanOptions& o, std::string&) { o.writeTags = true; return true; }},
    {"", "--overwrite-tags", false,
     [](const std::string&, ScanOptions& o, std::string&) { o.overwriteTags = true; return true; }},
    {"", "--min-confidence", true, readMinConfidence},
    {"", "--dry-run", false, [](const std::string&, ScanOptions& o, std::string&) { o.dryRun = true; return true; }},
    {"", "--beats", false, [](const std::string&, ScanOptions& o, std::string&) { o.beats = true; return true; }},
    {"", "--decimals", true, readDecimals},
    {"-j", "--jobs", true, readJobs},
    {"", "--format", true, readFormat},
    {"", "--method", true, readMethod},
    {"", "--range", true, readRange},
    {"-o", "--output", true, readOutput},
    {"", "--shard", true, readShard},
    {"", "--timeout", true, readTimeout},
    {"", "--db", true, readDb},
    {"", "--hidden", false, [](const std::string&, ScanOptions& o, std::string&) { o.hidden = true; return true; }},
    {"", "--exclude", true, readExclude},
    {"", "--extensions", true, readExtensions},
    {"", "--prune", false, [](const std::string&, ScanOptions& o, std::string&) { o.prune = true; return true; }},
    {"", "--columns", true, readColumns},
};

const OptionEntry* findOption(const std::string& name) {
    for (const OptionEntry& entry : kOptions) {
        if (name == entry.shortName || name == entry.longName) return &entry;
    }
    return nullptr;
}

// One argument that starts with '-': "--name=value", "-jN" and "-oFILE"
// carry their value inline, else an option that takes one takes the next
// argument. `at` moves past what was used.
bool readOption(int argc, const char* const argv[], int& at, ScanOptions& options, std::string& error) {
    const std::string arg = argv[at];
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
    const OptionEntry* entry = findOption(name);
    if (entry == nullptr || (!entry->takesValue && hasValue)) {
        error = "unknown option " + arg;
        return false;
    }
    if (entry->takesValue && !hasValue) {
        if (at + 1 >= argc) {
            error = "option " + name + " needs a value";
            return false;
        }
        value = argv[++at];
    }
    return entry->apply(value, options, error);
}

// The columns asked for go with the format and the tags; none asked for
// gives the default.
bool checkColumns(ScanOptions& options, std::string& error) {
    if (options.columns.empty()) {
        options.columns = defaultColumns(options.writeTags);
        return true;
    }
    if (options.format == ReportFormat::Jsonl) {
        error = "--columns is for TSV and CSV (JSON Lines records carry every field)";
        return false;
    }
    if (options.format == ReportFormat::RekordboxXml) {
        error = "--columns is for TSV and CSV (a rekordbox collection has fields of its own)";
        return false;
    }
    const bool tag = std::find(options.columns.begin(), options.columns.end(), ReportColumn::Tag) != options.columns.end();
    if (tag && !options.writeTags) {
        error = "--columns tag needs --write-tags";
        return false;
    }
    return true;
}

// What no single option can check: how they go together.
bool checkTogether(ScanOptions& options, std::string& error) {
    if ((options.overwriteTags || options.dryRun || options.minConfidence > 0.0) && !options.writeTags) {
        error = std::string(options.dryRun ? "--dry-run" : options.overwriteTags ? "--overwrite-tags" : "--min-confidence") +
                " needs --write-tags";
        return false;
    }
    if (options.minConfidence > 0.0 && options.method != Method::Accurate) {
        error = "--min-confidence needs the accurate method (the classic method gives no confidence)";
        return false;
    }
    if (options.prune && options.db.empty()) {
        error = "--prune needs --db";
        return false;
    }
    if (!checkColumns(options, error)) return false;
    if (options.beats && options.format != ReportFormat::Jsonl) {
        error = "--beats needs --format jsonl (TSV and CSV have no field for them)";
        return false;
    }
    if (options.beats && options.method != Method::Accurate) {
        error = "--beats needs the accurate method";
        return false;
    }
    if (options.format == ReportFormat::RekordboxXml && options.method != Method::Accurate) {
        error = "--format rekordbox-xml needs the accurate method (the classic method finds no beats)";
        return false;
    }
    if (!options.help && !options.version && options.paths.empty()) {
        error = "no PATH given";
        return false;
    }
    if (options.jobs == 0) options.jobs = std::min(platform::availableCpus(), kMaxJobs);
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
           "      --format FORMAT   tsv (default), csv, jsonl, or rekordbox-xml: one collection\n"
           "                        of every file with a tempo, its beat grid and bars, for\n"
           "                        rekordbox to import\n"
           "      --columns LIST    the fields of a TSV or CSV record, in order, from bpm,\n"
           "                        status, tag, path, confidence, warning, method, duration,\n"
           "                        sample_rate, channels, codec (default: bpm,status,path)\n"
           "  -o, --output FILE     write the records to FILE instead of standard output\n"
           "      --shard I/N       only the files at positions I, I+N, I+2N, ... (0 <= I < N)\n"
           "      --db FILE         keep every record in the index FILE (SQLite) and analyse\n"
           "                        only the files that are new or changed since\n"
           "      --prune           with --db: remove the rows of files under the PATHs that\n"
           "                        are not there (kept by default: a drive may be unmounted)\n"
           "      --hidden          also walk names that start with '.' (skipped by default)\n"
           "      --exclude GLOB    leave out what GLOB matches below each PATH (repeatable;\n"
           "                        *, ?, [a-z], ** for any folders; no '/': any depth)\n"
           "      --extensions LIST the extensions walked for, instead of the default list\n"
           "                        (comma-separated: mp3,flac,xm)\n"
           "      --progress        show a progress line on standard error\n"
           "      --no-progress     never show it (default: only on a terminal)\n"
           "      --timeout SECONDS time limit for decoding one file, 1 to 1000000 (default 600)\n"
           "      --write-tags      write each tempo found into the file's own tag, unless the\n"
           "                        file already holds a tempo: the tempo field alone changes,\n"
           "                        through a copy checked to hold every other tag item and the\n"
           "                        audio unchanged, then renamed over the file (on Windows\n"
           "                        too, where other programs may not write the file meanwhile)\n"
           "      --overwrite-tags  with --write-tags: replace a tempo the file already holds\n"
           "      --min-confidence C\n"
           "                        with --write-tags: write no tempo whose confidence is\n"
           "                        below C (0 to 1)\n"
           "      --dry-run         with --write-tags: report what would be written, touch nothing\n"
           "  -h, --help            show this text\n"
           "      --version         show the version\n";
}

bool parseOptions(int argc, const char* const argv[], ScanOptions& options, std::string& error) {
    options = ScanOptions{};
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.paths.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (!readOption(argc, argv, i, options, error)) {
            return false;
        }
    }
    return checkTogether(options, error);
}

}  // namespace tempo::scan
