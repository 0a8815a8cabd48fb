// The standard streams on POSIX systems.

#include <signal.h>
#include <unistd.h>

#include "platform/console.hpp"

namespace tempo::platform {

void prepareStandardOutput() { ::signal(SIGPIPE, SIG_IGN); }

void prepareConsole() { prepareStandardOutput(); }

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

}  // namespace tempo::platform
