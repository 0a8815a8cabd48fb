#pragma once

// How paths are spelt on this system. Paths travel through the scan as
// UTF-8 text on Windows (names that are not valid UTF-16 carried as their
// surrogates' three-byte forms, see wide_text.hpp) and as bytes elsewhere;
// PathChar is what the file services take.

#include <string>

namespace tempo {

// Paths are handed over exactly as the command line gave them: UTF-16 on
// Windows, where the entry point receives wide strings, bytes elsewhere.
#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

namespace platform {

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

// `name` inside `folder`, with one separator between them.
inline std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && std::string(kPathSeparators).find(folder.back()) != std::string::npos) {
        return folder + name;
    }
    return folder + kPathSeparator + name;
}

// The folder part of `path` ("." for a bare name) and its last component.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);

// True when `name` is one that a sibling copy (safe_replace.hpp) takes:
// ".NAME.tempo-" and six more characters.
bool isSiblingCopyName(const std::string& name);

// The name a sibling copy of the file named `name` begins with.
std::string siblingCopyPrefix(const std::string& name);

// `path` as the file services take it: on Windows wide, absolute and
// behind "\\?\" (no 260-character limit); elsewhere unchanged.
std::basic_string<PathChar> nativePath(const std::string& path);

// The real path of `path` (every link resolved, absolute), or empty with
// `error` set to an errno value. On Windows each name is spelt as the
// folder holds it (so "LIB\X.FLAC" and "lib\x.flac" give one path) and
// the path is written as Windows writes it ("C:\Music\x.flac",
// "\\server\share\x.flac"), without the "\\?\" of nativePath.
std::string realPath(const std::string& path, int& error);

}  // namespace platform
}  // namespace tempo
