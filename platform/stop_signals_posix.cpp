// Stop requests on POSIX systems: SIGINT, SIGTERM and SIGHUP.

#include <signal.h>

#include "platform/stop_signals.hpp"

namespace tempo::platform {
namespace {

std::atomic<bool>* stopFlag = nullptr;
volatile sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
    if (stopFlag != nullptr) stopFlag->store(true);
}

}  // namespace

void installStopHandlers(std::atomic<bool>* stop) {
    stopFlag = stop;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // A second Ctrl-C ends the process at once; a write or read that the
    // signal interrupts carries on, so a stop never shows as a failed
    // write of the report.
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_RESTART);
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

int stopExitStatus() { return 128 + static_cast<int>(stopSignal); }

}  // namespace tempo::platform
