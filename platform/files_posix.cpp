// File status on POSIX systems: stat, with the modification time to the
// nanosecond; paths are bytes.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.hpp"

namespace tempo::platform {

bool readFileStatus(const std::string& path, FileStatus& status, int& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    status.regular = S_ISREG(info.st_mode);
    status.identity.device = static_cast<std::uint64_t>(info.st_dev);
    status.identity.inode = static_cast<std::uint64_t>(info.st_ino);
    status.identity.size = static_cast<std::int64_t>(info.st_size);
    status.identity.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    status.links = static_cast<std::uint64_t>(info.st_nlink);
    return true;
}

bool mayWrite(const std::string& path, int& error) {
    if (::access(path.c_str(), W_OK) == 0) return true;
    error = errno;
    return false;
}

int errnoOfSystemError(int systemError) { return systemError; }

const char* ownSystemReason(int /*error*/) { return nullptr; }

std::FILE* openReportFile(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

}  // namespace tempo::platform
