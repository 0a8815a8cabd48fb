#pragma once

// What tempo-scan asks of the system beyond the walk and the child process
// (platform_posix.cpp, platform_win32.cpp). Paths are UTF-8 text on
// Windows (see wide_text.hpp) and bytes elsewhere; system errors are
// reported as errno values on both, so a record reads the same.

#include <atomic>
#include <cstdio>
#include <string>

#include "input/file_image.hpp"
#include "scan/file_identity.hpp"

namespace tempo::scan {

// The separator written between a folder and a name; "/" is also one on
// Windows.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr const char* kPathSeparators = "\\/";
// What a program's file name ends in, left out where a program is named.
constexpr const char* kProgramSuffix = ".exe";
#else
constexpr char kPathSeparator = '/';
constexpr const char* kPathSeparators = "/";
constexpr const char* kProgramSuffix = "";
#endif

// `path` as the file services take it: on Windows wide, absolute and
// behind "\\?\" (no 260-character limit); elsewhere unchanged.
std::basic_string<PathChar> nativePath(const std::string& path);

struct FileStatus {
    bool regular = false;  // a plain file (links followed), not a folder or a device
    FileIdentity identity;
};

// The status of the file `path` names, or false with `error` set to an
// errno value (ENOENT, EACCES, ...).
bool readFileStatus(const std::string& path, FileStatus& status, int& error);

// The errno value for an error the file image reported (already one
// outside Windows).
int errnoOfSystemError(int systemError);

// Sets `stop` on an interrupt (Ctrl-C), a termination request, or a
// hang-up (a closed terminal or console); a second interrupt ends the
// process at once. A closed output pipe shows as a failed write, not as a
// signal.
void installStopHandlers(std::atomic<bool>* stop);

// The exit status after a stop: 128 plus the number of the signal that
// asked for it (130 for Ctrl-C on every platform).
int stopExitStatus();

// True when `stream` is a terminal or console.
bool isTerminal(std::FILE* stream);

// Standard output written byte for byte (no LF turned into CR LF), and
// the console made to understand the progress line's escapes.
void prepareConsole();

// The report file `path`, opened for writing in binary; nullptr with
// errno set when it cannot be.
std::FILE* openReportFile(const std::string& path);

// The CPUs this process may run on (what nproc prints), at least 1.
unsigned availableCpus();

// The value of the environment variable `name` as UTF-8, or empty.
std::string environmentText(const char* name);

}  // namespace tempo::scan
