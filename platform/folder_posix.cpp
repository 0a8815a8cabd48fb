// Folders on POSIX systems: opendir and readdir, with lstat and stat where
// the entry's type is not given or it is a link. readdir tells the end of
// a folder from a failure only through errno, which is cleared before
// each call.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/folder.hpp"
#include "platform/path.hpp"

namespace tempo::platform {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// What the entry `name` of `folder` is, asking the system only where the
// listing did not say.
EntryKind kindOf(const std::string& folder, const dirent& entry) {
    unsigned char type = entry.d_type;
    const std::string path = joinPath(folder, entry.d_name);
    if (type == DT_UNKNOWN) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) return EntryKind::Other;
        if (S_ISDIR(status.st_mode)) return EntryKind::Folder;
        if (!S_ISLNK(status.st_mode)) return EntryKind::Other;
        type = DT_LNK;
    }
    if (type == DT_DIR) return EntryKind::Folder;
    if (type != DT_LNK) return EntryKind::Other;
    struct stat target {};
    return ::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) ? EntryKind::LinkToFolder : EntryKind::Other;
}

}  // namespace

bool readFolder(const std::string& folder, std::vector<FolderEntry>& entries, int& error) {
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        error = errno;
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        entries.push_back({entry->d_name, kindOf(folder, *entry)});
    }
    if (errno != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace tempo::platform
