// The walk on POSIX systems: opendir and readdir, with lstat and stat
// where the entry's type is not given or it is a link.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "scan/library_walk.hpp"
#include "scan/library_walk_platform.hpp"

namespace tempo::scan {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

void readFolder(const std::string& directory, std::vector<std::string>& files, std::vector<std::string>& pending,
                const std::function<void(const std::string&)>& warn) {
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) {
        warn("cannot read directory " + directory + ": " + std::strerror(errno));
        return;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        std::string path = joinPath(directory, entry->d_name);
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            isDirectory = ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
        }
        if (isDirectory) {
            pending.push_back(std::move(path));
            continue;
        }
        if (!hasAudioExtension(path)) continue;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link to a directory is left alone, so no walk can loop.
            struct stat target {};
            if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) continue;
        }
        files.push_back(std::move(path));
    }
}

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace tempo::scan
