// tempo-scan's system services on POSIX systems.

#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "scan/platform.hpp"

namespace tempo::scan {
namespace {

std::atomic<bool>* stopFlag = nullptr;
volatile sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
    if (stopFlag != nullptr) stopFlag->store(true);
}

}  // namespace

std::basic_string<PathChar> nativePath(const std::string& path) { return path; }

bool readFileStatus(const std::string& path, FileStatus& status, int& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    status.regular = S_ISREG(info.st_mode);
    status.identity.device = static_cast<std::uint64_t>(info.st_dev);
    status.identity.inode = static_cast<std::uint64_t>(info.st_ino);
    status.identity.size = static_cast<std::int64_t>(info.st_size);
    status.identity.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

int errnoOfSystemError(int systemError) { return systemError; }

void installStopHandlers(std::atomic<bool>* stop) {
    stopFlag = stop;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // A second Ctrl-C ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

int stopExitStatus() { return 128 + static_cast<int>(stopSignal); }

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

void prepareConsole() {}

std::FILE* openReportFile(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

unsigned availableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : std::string();
}

}  // namespace tempo::scan
