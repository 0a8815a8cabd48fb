// The child is started with posix_spawnp, its standard output and error on
// two pipes. Both pipes are polled, so a chatty child cannot block on a
// full error pipe, and the poll wakes often enough to honour the time limit
// and a stop request. Output is read in large blocks: each wake-up takes
// all there is.

#include "platform/subprocess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "platform/descriptor_posix.hpp"

extern char** environ;

namespace tempo::platform {
namespace {

constexpr std::size_t kReadBuffer = 256 * 1024;
// How often a quiet child is checked on: the time limit and a stop request
// are honoured within this.
constexpr int kPollMilliseconds = 100;
// How long a child that died of SIGINT, SIGTERM or SIGHUP waits for this
// process's own stop to show: the signal reaches both at once, but the
// handler here may run a little later.
constexpr int kStopGraceMilliseconds = 500;

bool makePipe(Descriptor& readEnd, Descriptor& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

// A started child; killed and reaped if it is still running when this
// goes out of scope.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            kill();
            wait();
        }
    }
    void kill() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
    }
    // True with the wait status once the child has ended; does not block.
    bool tryWait(int& status) {
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (done == 0) return false;
        pid_ = -1;
        return true;
    }
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_;
};

// Starts `args` with standard input from /dev/null and standard output and
// error on the given pipe ends; 0 or the errno of the failure.
int spawnChild(const std::vector<std::string>& args, int outFd, int errFd, pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    // The child starts with the default signal actions and none blocked,
    // whatever this process ignores or blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGBUS, SIGHUP}) sigaddset(&defaults, signal);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int result = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

ExitStatus statusOf(int status) {
    if (WIFSIGNALED(status)) return {ExitStatus::Kind::Signalled, WTERMSIG(status)};
    return {ExitStatus::Kind::Exited, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// What a running child is held to: its time limit and the stop request.
struct Watch {
    const SubprocessRun& run;
    std::chrono::steady_clock::time_point deadline;

    bool stopAsked() const { return run.stop != nullptr && run.stop->load(); }
    // How the wait must end now, if it must.
    std::optional<ExitStatus> cutShort() const {
        if (stopAsked()) return ExitStatus{ExitStatus::Kind::Interrupted, 0};
        if (std::chrono::steady_clock::now() >= deadline) return ExitStatus{ExitStatus::Kind::TimedOut, 0};
        return std::nullopt;
    }
};

// Reads both pipes until the child closes them, handing standard output on
// and keeping the start of standard error; stops early on the stop request,
// the time limit, or pipes that can no longer be watched (with the child
// left running, they could block for ever).
std::optional<ExitStatus> readPipes(const Watch& watch, int out, int err, Child& child, std::string& errorText) {
    std::vector<unsigned char> buffer(kReadBuffer);
    bool wanted = true;
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (std::optional<ExitStatus> cut = watch.cutShort()) return cut;
        const int ready = ::poll(fds, 2, kPollMilliseconds);
        if (ready < 0 && errno != EINTR) return ExitStatus{ExitStatus::Kind::WatchFailed, errno};
        if (ready <= 0) continue;
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || (fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t got = ::read(fd.fd, buffer.data(), buffer.size());
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) {
                fd.fd = -1;
                continue;
            }
            const auto count = static_cast<std::size_t>(got);
            if (&fd == &fds[1]) {
                const std::size_t room = watch.run.errorLimit - std::min(watch.run.errorLimit, errorText.size());
                errorText.append(reinterpret_cast<const char*>(buffer.data()), std::min(room, count));
            } else if (wanted && watch.run.output && !watch.run.output(buffer.data(), count)) {
                wanted = false;
                child.kill();
            }
        }
    }
    return std::nullopt;
}

// Waits for a child whose pipes are closed: it may close them and still
// not end, so the time limit and the stop request hold until it does.
ExitStatus waitForEnd(const Watch& watch, Child& child) {
    int status = 0;
    while (!child.tryWait(status)) {
        if (std::optional<ExitStatus> cut = watch.cutShort()) return *cut;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A stop that came while the child was ending (Ctrl-C reaches the whole
    // process group) cut it short too. A child that died of a stop signal
    // may have got it a moment before this process ran its handler: wait a
    // little for the stop to show before calling it a death of its own.
    const ExitStatus ended = statusOf(status);
    if (ended.kind == ExitStatus::Kind::Signalled &&
        (ended.detail == SIGINT || ended.detail == SIGTERM || ended.detail == SIGHUP)) {
        const auto patience = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMilliseconds);
        while (!watch.stopAsked() && std::chrono::steady_clock::now() < patience) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (watch.stopAsked()) return {ExitStatus::Kind::Interrupted, 0};
    return ended;
}

}  // namespace

std::string signalText(int signal) {
    const char* name = ::strsignal(signal);
    return name != nullptr ? std::string(name) : "signal " + std::to_string(signal);
}

ExitStatus runSubprocess(const SubprocessRun& run, std::string& errorText) {
    errorText.clear();
    Descriptor outRead, outWrite, errRead, errWrite;
    if (run.args.empty()) return {ExitStatus::Kind::NotStarted, ENOENT};
    if (!makePipe(outRead, outWrite) || !makePipe(errRead, errWrite)) return {ExitStatus::Kind::NotStarted, errno};
    ::fcntl(outWrite.get(), F_SETPIPE_SZ, run.pipeBytes);  // a smaller pipe still works
    pid_t pid = -1;
    const int spawnError = spawnChild(run.args, outWrite.get(), errWrite.get(), pid);
    outWrite.reset();
    errWrite.reset();
    if (spawnError != 0) return {ExitStatus::Kind::NotStarted, spawnError};
    Child child(pid);
    const Watch watch{run, std::chrono::steady_clock::now() + run.timeLimit};
    if (const std::optional<ExitStatus> cut = readPipes(watch, outRead.get(), errRead.get(), child, errorText)) {
        return *cut;  // the child is killed on the way out
    }
    return waitForEnd(watch, child);
}

}  // namespace tempo::platform
