// Stop requests on Windows: Ctrl-C and Ctrl-Break arrive through a console
// control handler, as do the closing of the console, a log-off and a
// shutdown (the hang-up of POSIX systems).

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/stop_signals.hpp"

namespace tempo::platform {
namespace {

// The numbers POSIX gives the same requests, so the exit status after a
// stop is the same as there.
constexpr int kInterruptSignal = 2;  // SIGINT
constexpr int kHangUpSignal = 1;     // SIGHUP
// The system ends the process once the handler of a closed console
// returns (and at the latest after 5 s): the scan gets this long to stop
// its children and write what it finished.
constexpr DWORD kCloseGraceMilliseconds = 3000;

std::atomic<bool>* stopFlag = nullptr;
std::atomic<int> stopSignal{0};

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            // A second Ctrl-C goes to the default handler, which ends the
            // process at once.
            if (stopSignal.load() != 0) return FALSE;
            stopSignal.store(kInterruptSignal);
            if (stopFlag != nullptr) stopFlag->store(true);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            stopSignal.store(kHangUpSignal);
            if (stopFlag != nullptr) stopFlag->store(true);
            Sleep(kCloseGraceMilliseconds);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void installStopHandlers(std::atomic<bool>* stop) {
    stopFlag = stop;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int stopExitStatus() { return 128 + stopSignal.load(); }

}  // namespace tempo::platform
