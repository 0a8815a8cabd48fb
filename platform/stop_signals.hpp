#pragma once

// Stop requests from outside: an interrupt (Ctrl-C), a termination
// request, or a hang-up (a closed terminal or console)
// (stop_signals_posix.cpp, stop_signals_win32.cpp).

#include <atomic>

namespace tempo::platform {

// Sets `stop` on each stop request; a second interrupt ends the process at
// once. A system call that a stop request interrupts is resumed (a write
// to a blocked pipe does not fail for it).
void installStopHandlers(std::atomic<bool>* stop);

// The exit status after a stop: 128 plus the number of the signal that
// asked for it (130 for Ctrl-C on every platform).
int stopExitStatus();

}  // namespace tempo::platform
