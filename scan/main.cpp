// tempo-scan: the tempo of every audio file under the given paths, one
// record per file in byte order of the paths, analysed N at a time.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "input/file_image.hpp"
#include "scan/analyse_file.hpp"
#include "scan/job_pool.hpp"
#include "scan/library_walk.hpp"
#include "scan/options.hpp"
#include "scan/platform.hpp"
#include "scan/progress.hpp"
#include "scan/report.hpp"
#include "scan/tags.hpp"
#include "scan/wide_text.hpp"

#ifndef TEMPO_VERSION
#define TEMPO_VERSION "unknown"
#endif

namespace {

constexpr int kExitAllKnown = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> stopRequested{false};

int runScan(int argc, char* argv[]) {
    using namespace tempo::scan;
    prepareConsole();
    ScanOptions options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tempo-scan: %s\nTry 'tempo-scan --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(usageText(), stdout);
        return std::fflush(stdout) == 0 ? kExitAllKnown : kExitSomeFailed;
    }
    if (options.version) {
        std::printf("tempo-scan %s\n", TEMPO_VERSION);
        return std::fflush(stdout) == 0 ? kExitAllKnown : kExitSomeFailed;
    }
    if (options.writeTags && !tagWritingAvailable()) {
        std::fputs("tempo-scan: --write-tags needs a tempo-scan built with TagLib\n", stderr);
        return kExitUsage;
    }
    installStopHandlers(&stopRequested);
    tempo::installFileImageGuard();

    std::FILE* out = stdout;
    if (!options.output.empty()) {
        out = openReportFile(options.output);
        if (out == nullptr) {
            std::fprintf(stderr, "tempo-scan: cannot write %s: %s\n", options.output.c_str(), std::strerror(errno));
            return kExitSomeFailed;
        }
    }

    // A folder that cannot be read is named and skipped, and the scan ends
    // with status 1: a cron job must not take it for a whole library.
    bool walkFailed = false;
    const std::vector<std::string> files = keepShard(listLibrary(options.paths,
                                                                 [&walkFailed](const std::string& warning) {
                                                                     walkFailed = true;
                                                                     std::fprintf(stderr, "tempo-scan: %s\n",
                                                                                  warning.c_str());
                                                                 }),
                                                     options.shardIndex, options.shardCount);

    DecodeSettings settings;
    if (std::string program = environmentText("TEMPO_FFMPEG"); !program.empty()) settings.program = program;
    settings.timeoutSeconds = options.timeoutSeconds;
    settings.method = options.method;
    const TempoRange range{options.rangeMin, options.rangeMax};
    settings.stop = &stopRequested;

    ProgressLine progress;
    const bool showProgress =
        options.progress == ProgressMode::On || (options.progress == ProgressMode::Auto && isTerminal(stderr));
    if (showProgress) progress.out = stderr;
    // Records and the progress line on one terminal: the line is cleared
    // before each record and drawn again after it.
    const bool sharedTerminal = showProgress && out == stdout && isTerminal(stdout) && isTerminal(stderr);
    progress.total = files.size();

    TagSettings tagSettings;
    tagSettings.write = options.writeTags;
    tagSettings.overwrite = options.overwriteTags;
    tagSettings.dryRun = options.dryRun;
    if (options.writeTags) tagSettings.roots = tagRoots(options.paths);

    bool anyError = false;
    bool writeFailed = std::fputs(reportHeader(options.format, options.writeTags).c_str(), out) < 0;
    int writeError = writeFailed ? errno : 0;
    std::vector<ScanRecord> records(files.size());
    JobPoolCalls calls;
    calls.run = [&](std::size_t index) {
        ScanRecord& record = records[index];
        record = analyseFile(files[index], settings, range);
        if (!record.interrupted) applyTempoTag(record, tagSettings);
        return !record.interrupted;
    };
    calls.deliver = [&](std::size_t index) {
        const ScanRecord record = std::move(records[index]);
        anyError = anyError || record.status == ScanStatus::Error || record.tag.action == TagAction::Failed;
        const std::string line =
            formatRecord(options.format, record, options.writeTags, options.decimals, options.beats);
        if (sharedTerminal) clearProgress(progress);
        // Each record is out as soon as it is known, so an interrupted
        // scan keeps what it finished.
        if (!writeFailed && (std::fwrite(line.data(), 1, line.size(), out) != line.size() || std::fflush(out) != 0)) {
            // Nobody can read the rest (a closed pipe, a full disk): stop.
            writeFailed = true;
            writeError = errno;
            stopRequested.store(true);
        }
    };
    calls.tick = [&](std::size_t finished) { drawProgress(progress, finished, sharedTerminal); };
    drawProgress(progress, 0, true);
    runJobs(files.size(), options.jobs, calls, stopRequested);
    clearProgress(progress);

    if (!writeFailed && (std::fflush(out) != 0 || std::ferror(out) != 0)) {
        writeFailed = true;
        writeError = errno;
    }
    if (out != stdout && std::fclose(out) != 0 && !writeFailed) {
        writeFailed = true;
        writeError = errno;
    }
    if (writeFailed) {
        // A reader that stopped early (head, a pager quit) is no error to
        // report; a full disk or a failing device is.
        if (writeError != EPIPE) {
            std::fprintf(stderr, "tempo-scan: cannot write the report: %s\n", std::strerror(writeError));
        }
        return kExitSomeFailed;
    }
    if (stopRequested.load()) return stopExitStatus();
    return anyError || walkFailed ? kExitSomeFailed : kExitAllKnown;
}

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; the scan takes them as UTF-8,
// as it writes every path.
int wmain(int argc, wchar_t* argv[]) {
    std::vector<std::string> texts;
    for (int i = 0; i < argc; ++i) texts.push_back(tempo::scan::utf8FromWide(argv[i]));
    std::vector<char*> args;
    for (std::string& text : texts) args.push_back(text.data());
    args.push_back(nullptr);
    return runScan(argc, args.data());
}
#else
int main(int argc, char* argv[]) { return runScan(argc, argv); }
#endif
