#pragma once

// The entries of a folder, as the system lists them (folder_posix.cpp,
// folder_win32.cpp). What to make of them (which to walk into, which to
// analyse) is the walk's business, not this floor's.

#include <string>
#include <vector>

namespace tempo::platform {

enum class EntryKind {
    Folder,        // a folder itself
    LinkToFolder,  // a symbolic link or junction that leads to a folder
    Other,         // anything else: a file, a link to one, a broken link, a FIFO, a device
};

struct FolderEntry {
    std::string name;  // UTF-8 on Windows (lone surrogates in their three-byte form), bytes elsewhere
    EntryKind kind = EntryKind::Other;
};

// The entries of `folder` but "." and "..", in the system's order. False
// with `error` set to an errno value when the folder cannot be opened, or
// when listing it fails part way (`entries` then holds those listed
// before the failure).
bool readFolder(const std::string& folder, std::vector<FolderEntry>& entries, int& error);

// True when `path` names a folder (links followed).
bool isFolder(const std::string& path);

}  // namespace tempo::platform
