// tempo-scan: the tempo of every audio file under the given paths, one
// record per file in byte order of the paths, analysed N at a time.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "input/audio_container.hpp"
#include "platform/console.hpp"
#include "platform/file_image.hpp"
#include "platform/files.hpp"
#include "platform/machine.hpp"
#include "platform/path.hpp"
#include "platform/stop_signals.hpp"
#include "platform/wide_text.hpp"
#include "decode/analyse_file.hpp"
#include "library/index_records.hpp"
#include "scan/job_pool.hpp"
#include "library/library_walk.hpp"
#include "scan/options.hpp"
#include "scan/progress.hpp"
#include "scan/rekordbox_xml.hpp"
#include "scan/report.hpp"
#include "tags/tag_title.hpp"
#include "tags/tags.hpp"

#ifndef TEMPO_VERSION
#define TEMPO_VERSION "unknown"
#endif

namespace {

using namespace tempo;
using namespace tempo::scan;
namespace platform = tempo::platform;

constexpr int kExitAllKnown = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> stopRequested{false};

// Where the records go, and whether they all got there. The first failed
// write stops the scan: nobody can read the rest (a closed pipe, a full
// disk).
struct ReportOutput {
    std::FILE* out = stdout;
    bool failed = false;
    int error = 0;

    bool write(const std::string& text) {
        if (failed) return false;
        if (std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0) return true;
        failed = true;
        error = errno;
        stopRequested.store(true);
        return false;
    }

    // Flushes and closes; true when every byte got out.
    bool finish() {
        if (!failed && (std::fflush(out) != 0 || std::ferror(out) != 0)) {
            failed = true;
            error = errno;
        }
        if (out != stdout && std::fclose(out) != 0 && !failed) {
            failed = true;
            error = errno;
        }
        return !failed;
    }
};

// The rekordbox collection of a run: a track for each record with a
// tempo, in the order of the records, written whole once the run is over.
struct RekordboxExport {
    std::vector<RekordboxTrack> tracks;
    std::size_t leftOut = 0;  // records with no tempo to give

    void add(const ScanRecord& record) {
        if (record.status != ScanStatus::Ok) {
            ++leftOut;
            return;
        }
        RekordboxTrack track;
        int error = 0;
        track.location = platform::realPath(record.path, error);
        if (track.location.empty()) track.location = record.path;
        track.name = titleTag(record.path);
        if (track.name.empty()) track.name = platform::nameOf(record.path);
        track.seconds = record.facts.seconds.value_or(0.0);
        track.averageBpm = record.tempo;
        track.segments = gridSegments(record);
        tracks.push_back(std::move(track));
    }

    // The collection, and a count of the files left out of it.
    bool write(ReportOutput& report) const {
        if (leftOut > 0) {
            std::fprintf(stderr, "tempo-scan: %zu file%s with no tempo left out of the rekordbox collection\n",
                         leftOut, leftOut == 1 ? "" : "s");
        }
        return report.write(rekordboxCollection(tracks, TEMPO_VERSION));
    }
};

CollectionRules collectionRules(const ScanOptions& options) {
    CollectionRules rules;
    rules.hidden = options.hidden;
    for (const std::string& text : options.excludes) {
        GlobPattern pattern;
        if (compileGlob(text, platform::kPathSeparators, pattern)) rules.excludes.push_back(std::move(pattern));
    }
    if (!options.extensions.empty()) rules.extensions = options.extensions;
    return rules;
}

// Every file of the scan, each once, before the shard is taken. A folder
// that cannot be read is named and the scan ends with status 1: a cron job
// must not take it for a whole library.
struct Collection {
    std::vector<ListedFile> files;
    std::vector<UnreadFolder> unread;
    std::vector<std::string> leftCopies;
    std::vector<WalkedRoot> roots;
};

Collection collectFiles(const ScanOptions& options) {
    // A tag-writing run clears away the copies that killed runs left; a
    // dry run touches nothing.
    const bool clearCopies = options.writeTags && !options.dryRun;
    const Library library = listLibrary(options.paths, collectionRules(options), clearCopies);
    for (const UnreadFolder& folder : library.unread) {
        std::fprintf(stderr, "tempo-scan: cannot read directory %s: %s\n", folder.folder.c_str(),
                     std::strerror(folder.error));
    }
    return {keepEachFileOnce(library.files), library.unread, library.leftCopies, library.roots};
}

void clearLeftCopies(const Collection& collection) {
    for (const std::string& copy : removeLeftCopies(collection.leftCopies)) {
        std::fprintf(stderr, "tempo-scan: removed a copy left by an interrupted run: %s\n", copy.c_str());
    }
}

bool sameFile(const platform::FileIdentity& a, const platform::FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode;
}

// What the content of the file `path` is: audio, an index, or neither ("").
std::string contentOf(const std::string& path) {
    FileImage image;
    if (openFileImage(platform::nativePath(path).c_str(), image) != WaveCheckResult::Ok) return std::string();
    const ByteSpan bytes = bytesOf(image);
    const AudioContainer container = identifyContainer(bytes);
    const bool index = bytes.length >= 16 && std::memcmp(bytes.bytes, "SQLite format 3", 16) == 0;
    closeFileImage(image);
    if (index) return "it holds an SQLite database";
    if (container != AudioContainer::Unknown && container != AudioContainer::Empty) {
        return std::string("it holds audio (") + containerName(container) + ")";
    }
    return std::string();
}

// Why the report may not be written over --output's file ("" when it
// may): emptying it would lose audio, an index, or a file this run reads.
std::string outputRefusal(const ScanOptions& options, const Collection& collection) {
    platform::FileStatus status;
    platform::FileStatus index;
    int error = 0;
    if (options.output.empty() || !platform::readFileStatus(options.output, status, error) || !status.regular) {
        return std::string();
    }
    for (const ListedFile& file : collection.files) {
        if (file.known && sameFile(file.identity, status.identity)) return "it is one of the files scanned";
    }
    if (!options.db.empty() && platform::readFileStatus(options.db, index, error) &&
        sameFile(index.identity, status.identity)) {
        return "it is the index";
    }
    return contentOf(options.output);
}

DecodeSettings decodeSettings(const ScanOptions& options) {
    DecodeSettings settings;
    if (std::string program = platform::environmentText("TEMPO_FFMPEG"); !program.empty()) settings.program = program;
    settings.timeoutSeconds = options.timeoutSeconds;
    settings.method = options.method;
    settings.stop = &stopRequested;
    // A tagged copy is checked against the samples the analysis read.
    settings.hashAudio = options.writeTags && !options.dryRun;
    // JSON Lines and the index keep the channels and codec, and TSV and
    // CSV give them when asked.
    settings.describe = options.format == ReportFormat::Jsonl || !options.db.empty() || columnsDescribe(options.columns);
    return settings;
}

TagSettings tagSettings(const ScanOptions& options, const DecodeSettings& decoder) {
    TagSettings settings;
    settings.decoder = decoder;
    settings.stop = &stopRequested;
    settings.write = options.writeTags;
    settings.overwrite = options.overwriteTags;
    settings.dryRun = options.dryRun;
    settings.minConfidence = options.minConfidence;
    if (options.writeTags) settings.roots = tagRoots(options.paths);
    return settings;
}

// The run's index, when --db names one, and the first of its failures.
struct IndexOfRun {
    std::unique_ptr<IndexedRun> run;
    std::string file;
    IndexWriting failure = IndexWriting::Written;

    // Writes what waits (all of it when `now`); the first failure is named
    // and the index is left alone from then on.
    void flush(bool now) {
        int error = 0;
        if (!run || failure != IndexWriting::Written) return;
        failure = run->flush(now, error);
        if (failure == IndexWriting::Written) return;
        std::fprintf(stderr, "tempo-scan: cannot write the index %s: %s\n", file.c_str(),
                     indexWritingText(failure, error).c_str());
    }
};

// Analyses every file, `options.jobs` at a time, and writes each record
// as soon as every earlier one is out, so an interrupted scan keeps what it
// finished. True when any file had an error.
bool scanFiles(const std::vector<ListedFile>& files, const ScanOptions& options, ReportOutput& report,
               IndexOfRun& indexed, RekordboxExport& exported) {
    const DecodeSettings settings = decodeSettings(options);
    const TempoRange range{options.rangeMin, options.rangeMax};
    const TagSettings tags = tagSettings(options, settings);
    ProgressLine progress;
    const bool showProgress = options.progress == ProgressMode::On ||
                              (options.progress == ProgressMode::Auto && platform::isTerminal(stderr));
    if (showProgress) progress.out = stderr;
    // Records and the progress line on one terminal: the line is cleared
    // before each record and drawn again after it.
    const bool sharedTerminal =
        showProgress && report.out == stdout && platform::isTerminal(stdout) && platform::isTerminal(stderr);
    progress.total = files.size();

    bool anyError = false;
    std::vector<ScanRecord> records(files.size());
    JobPoolCalls calls;
    calls.run = [&](std::size_t index) {
        ScanRecord& record = records[index];
        if (indexed.run && indexed.run->known(files[index], record)) return true;
        record = analyseFile(files[index].path, settings, range);
        // A file cut short by a stop, or left as it was because of one, has
        // no record; one that was changed always has.
        const bool whole = record.status != ScanStatus::Interrupted && applyTempoTag(record, tags);
        if (whole && indexed.run) indexed.run->keep(record);
        return whole;
    };
    calls.deliver = [&](std::size_t index) {
        const ScanRecord record = std::move(records[index]);
        anyError = anyError || record.status == ScanStatus::Error || record.tag.action == TagAction::Failed;
        if (options.format == ReportFormat::RekordboxXml) return exported.add(record);
        if (sharedTerminal) clearProgress(progress);
        report.write(formatRecord(options.format, record, options.columns, options.decimals, options.beats));
    };
    calls.tick = [&](std::size_t finished) {
        drawProgress(progress, finished, sharedTerminal);
        indexed.flush(false);
    };
    drawProgress(progress, 0, true);
    runJobs(files.size(), options.jobs, calls, stopRequested);
    clearProgress(progress);
    indexed.flush(true);
    return anyError;
}

// The options, or the status to end with at once (usage, --help,
// --version).
bool readOptions(int argc, char* argv[], ScanOptions& options, int& status) {
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tempo-scan: %s\nTry 'tempo-scan --help'.\n", error.c_str());
        status = kExitUsage;
        return false;
    }
    if (options.help || options.version) {
        if (options.help) {
            std::fputs(usageText(), stdout);
        } else {
            std::printf("tempo-scan %s\n", TEMPO_VERSION);
        }
        status = std::fflush(stdout) == 0 ? kExitAllKnown : kExitSomeFailed;
        return false;
    }
    if (options.writeTags && !tagWritingAvailable()) {
        std::fputs("tempo-scan: --write-tags needs a tempo-scan built with TagLib\n", stderr);
        status = kExitUsage;
        return false;
    }
    if (!options.db.empty() && !indexAvailable()) {
        std::fputs("tempo-scan: --db needs a tempo-scan built with SQLite\n", stderr);
        status = kExitUsage;
        return false;
    }
    return true;
}

// Opens the index --db names, before anything else is touched; false when
// it is refused (status 2: it is not the file that was meant).
bool openIndex(const ScanOptions& options, IndexOfRun& indexed) {
    if (options.db.empty()) return true;
    IndexUse use;
    use.method = options.method;
    use.decoder = decodeSettings(options).program;
    use.range = TempoRange{options.rangeMin, options.rangeMax};
    use.writeTags = options.writeTags;
    use.overwriteTags = options.overwriteTags;
    indexed.file = options.db;
    indexed.run = std::make_unique<IndexedRun>(use);
    int error = 0;
    const IndexOpening opening = indexed.run->open(options.db, error);
    if (opening == IndexOpening::Opened) return true;
    std::fprintf(stderr, "tempo-scan: --db %s: %s\n", options.db.c_str(), indexOpeningText(opening, error).c_str());
    return false;
}

// What the index knows of the files, and the rows of those gone dropped;
// an index that cannot be read is named, and the scan goes on without it.
void prepareIndex(const ScanOptions& options, const Collection& collection, IndexOfRun& indexed) {
    if (!indexed.run) return;
    int error = 0;
    std::vector<KeptRows> kept;
    const CollectionRules rules = collectionRules(options);
    const RunWalk walk{collection.roots, collection.files, collection.unread, rules, options.prune};
    indexed.failure = indexed.run->prepare(walk, kept, error);
    // Rows of what the run could not see stay for the next run that can.
    for (const KeptRows& rows : kept) std::fprintf(stderr, "tempo-scan: %s\n", keptRowsText(rows).c_str());
    if (indexed.failure == IndexWriting::Written) return;
    std::fprintf(stderr, "tempo-scan: cannot read the index %s: %s\n", indexed.file.c_str(),
                 indexWritingText(indexed.failure, error).c_str());
    indexed.run.reset();
}

int runScan(int argc, char* argv[]) {
    platform::prepareConsole();
    ScanOptions options;
    int status = kExitAllKnown;
    if (!readOptions(argc, argv, options, status)) return status;
    IndexOfRun indexed;
    if (!openIndex(options, indexed)) return kExitUsage;
    platform::installStopHandlers(&stopRequested);
    tempo::installFileImageGuard();

    const Collection collection = collectFiles(options);
    if (const std::string refusal = outputRefusal(options, collection); !refusal.empty()) {
        std::fprintf(stderr, "tempo-scan: --output %s: %s; no report is written over it (left as it is)\n",
                     options.output.c_str(), refusal.c_str());
        return kExitUsage;
    }
    ReportOutput report;
    if (!options.output.empty()) {
        report.out = platform::openReportFile(options.output);
        if (report.out == nullptr) {
            std::fprintf(stderr, "tempo-scan: cannot write %s: %s\n", options.output.c_str(), std::strerror(errno));
            return kExitSomeFailed;
        }
    }
    clearLeftCopies(collection);
    prepareIndex(options, collection, indexed);
    const std::vector<ListedFile> files = keepShard(collection.files, options.shardIndex, options.shardCount);
    // A header that cannot be written stops the scan as a record would:
    // nothing is analysed, let alone tagged, for a report nobody reads.
    RekordboxExport exported;
    const bool anyError = report.write(reportHeader(options.format, options.columns)) &&
                          scanFiles(files, options, report, indexed, exported);
    if (options.format == ReportFormat::RekordboxXml) exported.write(report);
    if (!report.finish()) {
        // A reader that stopped early (head, a pager quit) is no error to
        // report; a full disk or a failing device is.
        if (report.error != EPIPE) {
            std::fprintf(stderr, "tempo-scan: cannot write the report: %s\n", std::strerror(report.error));
        }
        return kExitSomeFailed;
    }
    if (stopRequested.load()) return platform::stopExitStatus();
    const bool indexFailed = !options.db.empty() && indexed.failure != IndexWriting::Written;
    return anyError || !collection.unread.empty() || indexFailed ? kExitSomeFailed : kExitAllKnown;
}

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; the scan takes them as UTF-8,
// as it writes every path.
int wmain(int argc, wchar_t* argv[]) {
    std::vector<std::string> texts;
    for (int i = 0; i < argc; ++i) texts.push_back(platform::utf8FromWide(argv[i]));
    std::vector<char*> args;
    for (std::string& text : texts) args.push_back(text.data());
    args.push_back(nullptr);
    return runScan(argc, args.data());
}
#else
int main(int argc, char* argv[]) { return runScan(argc, argv); }
#endif
