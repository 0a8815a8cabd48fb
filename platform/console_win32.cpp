// The standard streams on Windows: a failed write already shows as an
// error on the stream; the console is told to take UTF-8 and the progress
// line's escapes.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdlib>

#include "platform/console.hpp"

namespace tempo::platform {
namespace {

UINT consoleCodePage = 0;

}  // namespace

void prepareStandardOutput() {}

bool isTerminal(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    // A console answers GetConsoleMode; NUL and other character devices
    // do not.
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

unsigned terminalColumns(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO information{};
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &information)) return 0;
    const int columns = information.srWindow.Right - information.srWindow.Left + 1;
    return columns > 0 ? static_cast<unsigned>(columns) : 0;
}

void prepareConsole() {
    prepareStandardOutput();
    _setmode(_fileno(stdout), _O_BINARY);
    // Records shown in a console are UTF-8 like any other: the console is
    // told so for as long as the scan runs, and given its own code page
    // back at the end.
    if (isTerminal(stdout) || isTerminal(stderr)) {
        consoleCodePage = GetConsoleOutputCP();
        if (consoleCodePage != 0 && consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            std::atexit([] { SetConsoleOutputCP(consoleCodePage); });
        }
    }
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (error != INVALID_HANDLE_VALUE && GetConsoleMode(error, &mode)) {
        SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

}  // namespace tempo::platform
