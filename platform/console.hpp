#pragma once

// The standard streams and the terminal (console_posix.cpp,
// console_win32.cpp).

#include <cstdio>

namespace tempo::platform {

// Makes a failed write to standard output an error the writer can see
// (EPIPE for a closed pipe) rather than a signal that ends the process.
// The one place where a program gives up SIGPIPE.
void prepareStandardOutput();

// Standard output written byte for byte (no LF turned into CR LF), and the
// console made to understand the progress line's escapes; includes
// prepareStandardOutput.
void prepareConsole();

// True when `stream` is a terminal or console.
bool isTerminal(std::FILE* stream);

// The width in columns of the terminal or console `stream` writes to, as it
// is now; 0 when it is none or does not say.
unsigned terminalColumns(std::FILE* stream);

}  // namespace tempo::platform
