// The child is started with posix_spawnp, its standard output and error on
// two pipes, and each further output on a pipe of its own as descriptor 3,
// 4, ... All pipes are polled, so a chatty child cannot block on a full
// error pipe, and the poll wakes often enough to honour the time limit and
// a stop request. Output is read in large blocks: each wake-up takes all
// there is.

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

// The lowest number a child's pipe end is moved to before the start, so
// that putting one in place as descriptor 1, 2, 3, ... never closes
// another still to be put in place.
constexpr int kAboveChildDescriptors = 64;

// Starts `args` with standard input from /dev/null and the pipe ends
// `childEnds` as its descriptors 1, 2, 3, ...; 0 or the errno of the
// failure.
int spawnChild(const std::vector<std::string>& args, const std::vector<int>& childEnds, pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (std::size_t i = 0; i < childEnds.size(); ++i) {
        posix_spawn_file_actions_adddup2(&actions, childEnds[i], static_cast<int>(i) + 1);
    }
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

// Keeps what fits of `count` bytes under `limit` in `text`.
void keepText(std::string& text, std::size_t limit, const unsigned char* bytes, std::size_t count) {
    const std::size_t room = limit - std::min(limit, text.size());
    text.append(reinterpret_cast<const char*>(bytes), std::min(room, count));
}

// Reads every pipe until the child closes them, handing standard output on
// and keeping the start of standard error and of each further output
// (`texts`: the error first, then the channels); stops early on the stop
// request, the time limit, or pipes that can no longer be watched (with
// the child left running, they could block for ever).
std::optional<ExitStatus> readPipes(const Watch& watch, const std::vector<int>& pipes, Child& child,
                                    std::vector<std::string*> texts) {
    std::vector<unsigned char> buffer(kReadBuffer);
    bool wanted = true;
    std::vector<pollfd> fds;
    for (int pipe : pipes) fds.push_back({pipe, POLLIN, 0});
    const auto open = [&fds] { return std::any_of(fds.begin(), fds.end(), [](const pollfd& fd) { return fd.fd >= 0; }); };
    while (open()) {
        if (std::optional<ExitStatus> cut = watch.cutShort()) return cut;
        const int ready = ::poll(fds.data(), fds.size(), kPollMilliseconds);
        if (ready < 0 && errno != EINTR) return ExitStatus{ExitStatus::Kind::WatchFailed, errno};
        if (ready <= 0) continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            pollfd& fd = fds[i];
            if (fd.fd < 0 || (fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t got = ::read(fd.fd, buffer.data(), buffer.size());
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) {
                fd.fd = -1;
                continue;
            }
            const auto count = static_cast<std::size_t>(got);
            if (i > 0) {
                keepText(*texts[i - 1], i == 1 ? watch.run.errorLimit : watch.run.channelLimit, buffer.data(), count);
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
    std::vector<std::string> channelText;
    return runSubprocess(run, errorText, channelText);
}

ExitStatus runSubprocess(const SubprocessRun& run, std::string& errorText, std::vector<std::string>& channelText) {
    errorText.clear();
    channelText.assign(run.channels, std::string());
    if (run.args.empty()) return {ExitStatus::Kind::NotStarted, ENOENT};
    // Output, error and each channel: this process's read end, and the
    // child's write end moved above the descriptors it is to become.
    const std::size_t count = 2 + run.channels;
    std::vector<Descriptor> readEnds(count), writeEnds(count);
    std::vector<int> pipes, childEnds;
    for (std::size_t i = 0; i < count; ++i) {
        Descriptor writeEnd;
        if (!makePipe(readEnds[i], writeEnd)) return {ExitStatus::Kind::NotStarted, errno};
        writeEnds[i].reset(::fcntl(writeEnd.get(), F_DUPFD_CLOEXEC, kAboveChildDescriptors));
        if (writeEnds[i].get() < 0) return {ExitStatus::Kind::NotStarted, errno};
        pipes.push_back(readEnds[i].get());
        childEnds.push_back(writeEnds[i].get());
    }
    ::fcntl(childEnds[0], F_SETPIPE_SZ, run.pipeBytes);  // a smaller pipe still works
    pid_t pid = -1;
    const int spawnError = spawnChild(run.args, childEnds, pid);
    writeEnds.clear();
    if (spawnError != 0) return {ExitStatus::Kind::NotStarted, spawnError};
    Child child(pid);
    const Watch watch{run, std::chrono::steady_clock::now() + run.timeLimit};
    std::vector<std::string*> texts{&errorText};
    for (std::string& text : channelText) texts.push_back(&text);
    if (const std::optional<ExitStatus> cut = readPipes(watch, pipes, child, texts)) {
        return *cut;  // the child is killed on the way out
    }
    return waitForEnd(watch, child);
}

}  // namespace tempo::platform
