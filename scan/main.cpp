// tempo-scan: the tempo of every audio file under the given paths, one
// record per file in byte order of the paths, analysed N at a time.

#include <signal.h>
#include <unistd.h>

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
#include "scan/progress.hpp"
#include "scan/report.hpp"
#include "scan/tags.hpp"

#ifndef TEMPO_VERSION
#define TEMPO_VERSION "unknown"
#endif

namespace {

constexpr int kExitAllKnown = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> stopRequested{false};
volatile sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
    stopRequested.store(true);
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // A second Ctrl-C ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    // A closed output pipe shows as a failed write.
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tempo::scan;
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
    installSignalHandlers();
    tempo::installFileImageGuard();

    std::FILE* out = stdout;
    if (!options.output.empty()) {
        out = std::fopen(options.output.c_str(), "w");
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
    if (const char* program = std::getenv("TEMPO_FFMPEG"); program != nullptr && *program != '\0') {
        settings.program = program;
    }
    settings.timeoutSeconds = options.timeoutSeconds;
    settings.method = options.method;
    const TempoRange range{options.rangeMin, options.rangeMax};
    settings.stop = &stopRequested;

    ProgressLine progress;
    const bool showProgress =
        options.progress == ProgressMode::On || (options.progress == ProgressMode::Auto && ::isatty(2));
    if (showProgress) progress.out = stderr;
    // Records and the progress line on one terminal: the line is cleared
    // before each record and drawn again after it.
    const bool sharedTerminal = showProgress && out == stdout && ::isatty(1) && ::isatty(2);
    progress.total = files.size();

    TagSettings tagSettings;
    tagSettings.write = options.writeTags;
    tagSettings.overwrite = options.overwriteTags;
    tagSettings.dryRun = options.dryRun;
    for (const std::string& path : options.paths) {
        std::string root = realPath(path);
        if (!root.empty()) tagSettings.roots.push_back(std::move(root));
    }

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
        const std::string line = formatRecord(options.format, record, options.writeTags);
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
    if (stopRequested.load()) return 128 + static_cast<int>(stopSignal);
    return anyError || walkFailed ? kExitSomeFailed : kExitAllKnown;
}
