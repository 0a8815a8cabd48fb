#pragma once

// A child process with its standard output and error on pipes, and any
// further outputs it is asked for on pipes of their own: started,
// read until it ends, and ended (killed and reaped) on a time limit, a stop
// request, or when its reader wants no more (subprocess_linux.cpp,
// subprocess_win32.cpp).

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tempo::platform {

// How a child ended.
struct ExitStatus {
    enum class Kind {
        NotStarted,   // detail: the system's error number (ENOENT: no such program)
        Exited,       // detail: the exit code
        Signalled,    // detail: the signal number
        TimedOut,     // killed at the time limit
        Interrupted,  // killed because a stop was requested
        WatchFailed,  // killed because its pipes could no longer be watched; detail: the errno value
    };
    Kind kind = Kind::NotStarted;
    int detail = 0;
};

struct SubprocessRun {
    std::vector<std::string> args;  // args[0] is looked up in PATH
    std::chrono::steady_clock::duration timeLimit = std::chrono::seconds(600);
    const std::atomic<bool>* stop = nullptr;  // when set, the child is killed
    // Standard output as it arrives; returning false kills the child (its
    // exit status is then reported as it is).
    std::function<bool(const unsigned char* bytes, std::size_t count)> output;
    // Standard error is kept up to this many bytes.
    std::size_t errorLimit = 8192;
    // The capacity asked for the output pipe (the system may give less).
    int pipeBytes = 1 << 20;
    // Further outputs, each on a pipe of its own that the child has as its
    // descriptor 3, 4, ... (on Windows, C runtime descriptors handed over
    // at its start): what it lists, kept apart from its complaints so that
    // neither can be taken for the other nor push it out. Each is kept up
    // to `channelLimit` bytes.
    std::size_t channels = 0;
    std::size_t channelLimit = 64 * 1024;
};

// Runs the child to its end. Standard input is /dev/null; the child starts
// with the default signal actions and none blocked. `errorText` receives
// the start of its standard error. A child that closes its pipes and
// lingers is still held to the time limit and the stop request. A child
// that died of SIGINT, SIGTERM or SIGHUP while a stop is requested, or
// within half a second before it is, was interrupted.
ExitStatus runSubprocess(const SubprocessRun& run, std::string& errorText);
// The same with `run.channels` further outputs, whose starts
// `channelText` receives, one string each.
ExitStatus runSubprocess(const SubprocessRun& run, std::string& errorText, std::vector<std::string>& channelText);

// The name of signal `signal` in words ("Segmentation fault").
std::string signalText(int signal);

}  // namespace tempo::platform
