// The walk on Windows: FindFirstFileExW over wide paths, with the "\\?\"
// prefix so folders deeper than 260 characters are read too. Junctions and
// symbolic links to folders are not followed (so no walk can loop); links
// to files are listed; hidden and system files count like any other. Names
// come as UTF-16 and leave as UTF-8; a lone surrogate, which is no valid
// UTF-16, keeps its three-byte form, so the name can be opened again from
// the record.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <string>

#include "scan/library_walk.hpp"
#include "scan/library_walk_platform.hpp"
#include "scan/platform.hpp"
#include "scan/wide_text.hpp"

namespace tempo::scan {

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void readFolder(const std::string& folder, std::vector<std::string>& files, std::vector<std::string>& pending,
                const std::function<void(const std::string&)>& warn) {
    WIN32_FIND_DATAW entry;
    const std::wstring pattern = nativePath(folder) + L"\\*";
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return;  // an empty folder
        warn("cannot read directory " + folder + ": " + std::strerror(errnoOfSystemError(static_cast<int>(error))));
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string path = joinPath(folder, utf8FromWide(entry.cFileName));
        const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // A junction or a link to a folder is left alone.
            if (!link) pending.push_back(std::move(path));
            continue;
        }
        if (hasAudioExtension(path)) files.push_back(std::move(path));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

}  // namespace tempo::scan
