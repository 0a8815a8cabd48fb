// tempo-scan's system services on Windows. Ctrl-C and Ctrl-Break arrive
// through a console control handler, as do the closing of the console, a
// log-off and a shutdown (the hang-up of POSIX systems); each child is in
// a Job Object that kills it when this process ends, however it ends.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>

#include "scan/platform.hpp"
#include "scan/wide_text.hpp"

namespace tempo::scan {
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
UINT consoleCodePage = 0;

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

std::int64_t nanosecondsOf(const FILETIME& time) {
    // 100 ns ticks since 1601, as the system keeps them.
    const std::uint64_t ticks = static_cast<std::uint64_t>(time.dwHighDateTime) << 32U | time.dwLowDateTime;
    return static_cast<std::int64_t>(ticks) * 100;
}

}  // namespace

std::basic_string<PathChar> nativePath(const std::string& path) {
    const std::wstring given = wideFromUtf8(path);
    if (given.rfind(L"\\\\?\\", 0) == 0) return given;
    const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return given;
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    full.resize(written);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool readFileStatus(const std::string& path, FileStatus& status, int& error) {
    // Opened for its attributes only, links followed, folders included;
    // nobody else's access is refused.
    HANDLE file = CreateFileW(nativePath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = errnoOfSystemError(static_cast<int>(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(file, &information) != 0;
    const DWORD type = GetFileType(file);
    if (!known) error = errnoOfSystemError(static_cast<int>(GetLastError()));
    CloseHandle(file);
    if (!known) return false;
    status.regular = type == FILE_TYPE_DISK && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    status.identity.device = information.dwVolumeSerialNumber;
    status.identity.inode =
        static_cast<std::uint64_t>(information.nFileIndexHigh) << 32U | information.nFileIndexLow;
    status.identity.size =
        static_cast<std::int64_t>(static_cast<std::uint64_t>(information.nFileSizeHigh) << 32U | information.nFileSizeLow);
    status.identity.modifiedNs = nanosecondsOf(information.ftLastWriteTime);
    return true;
}

int errnoOfSystemError(int systemError) {
    switch (static_cast<DWORD>(systemError)) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

void installStopHandlers(std::atomic<bool>* stop) {
    stopFlag = stop;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int stopExitStatus() { return 128 + stopSignal.load(); }

bool isTerminal(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    // A console answers GetConsoleMode; NUL and other character devices
    // do not.
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

void prepareConsole() {
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

std::FILE* openReportFile(const std::string& path) { return _wfopen(nativePath(path).c_str(), L"wb"); }

unsigned availableCpus() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    unsigned count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        for (; process != 0; process &= process - 1) ++count;
    }
    return count > 0 ? count : 1;
}

std::string environmentText(const char* name) {
    const wchar_t* value = _wgetenv(wideFromUtf8(name).c_str());
    return value != nullptr ? utf8FromWide(value) : std::string();
}

}  // namespace tempo::scan
