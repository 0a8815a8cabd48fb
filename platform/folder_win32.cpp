// Folders on Windows: FindFirstFileExW over wide paths, with the "\\?\"
// prefix so folders deeper than 260 characters are read too. A junction or
// a symbolic link to a folder is told apart from a folder, so no walk need
// loop; hidden and system files are listed like any other. Names come as
// UTF-16 and leave as UTF-8; a lone surrogate, which is no valid UTF-16,
// keeps its three-byte form, so the name can be opened again.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/files.hpp"
#include "platform/folder.hpp"
#include "platform/path.hpp"
#include "platform/wide_text.hpp"

namespace tempo::platform {
namespace {

EntryKind kindOf(const WIN32_FIND_DATAW& entry) {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return EntryKind::Other;
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryKind::LinkToFolder : EntryKind::Folder;
}

}  // namespace

bool readFolder(const std::string& folder, std::vector<FolderEntry>& entries, int& error) {
    WIN32_FIND_DATAW entry;
    const std::wstring pattern = nativePath(folder) + L"\\*";
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD failure = GetLastError();
        if (failure == ERROR_FILE_NOT_FOUND) return true;  // an empty folder
        error = errnoOfSystemError(static_cast<int>(failure));
        return false;
    }
    DWORD failure = ERROR_NO_MORE_FILES;
    for (;;) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") entries.push_back({utf8FromWide(name), kindOf(entry)});
        if (FindNextFileW(search, &entry)) continue;
        failure = GetLastError();
        break;
    }
    FindClose(search);
    if (failure != ERROR_NO_MORE_FILES) {
        error = errnoOfSystemError(static_cast<int>(failure));
        return false;
    }
    return true;
}

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace tempo::platform
