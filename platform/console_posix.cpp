// The standard streams on POSIX systems.

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/console.hpp"

namespace tempo::platform {

void prepareStandardOutput() { ::signal(SIGPIPE, SIG_IGN); }

void prepareConsole() { prepareStandardOutput(); }

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

unsigned terminalColumns(std::FILE* stream) {
    struct winsize size {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

}  // namespace tempo::platform
