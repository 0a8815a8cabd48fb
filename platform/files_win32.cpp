// File status on Windows: the file is opened for its attributes only (links
// followed, folders included, nobody else's access refused); paths arrive
// as UTF-8 and are opened in their long, wide form.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>

#include "platform/files.hpp"
#include "platform/path.hpp"
#include "platform/wide_text.hpp"

namespace tempo::platform {
namespace {

// The 100 ns ticks from 1601, where the system counts from, to 1970.
constexpr std::int64_t kTicksTo1970 = 116444736000000000;

// Nanoseconds since 1970, as the index keeps a file's time on every
// system, from 100 ns ticks since 1601, as the system keeps them.
std::int64_t nanosecondsOf(const FILETIME& time) {
    const std::uint64_t ticks = static_cast<std::uint64_t>(time.dwHighDateTime) << 32U | time.dwLowDateTime;
    return (static_cast<std::int64_t>(ticks) - kTicksTo1970) * 100;
}

}  // namespace

bool readFileStatus(const std::string& path, FileStatus& status, int& error) {
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
    status.links = information.nNumberOfLinks;
    return true;
}

bool mayWrite(const std::string& path, int& error) {
    // Windows keeps a read-only attribute on files; a folder's rights are
    // its access list, which a write alone tells.
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = errnoOfSystemError(static_cast<int>(GetLastError()));
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = EACCES;
        return false;
    }
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
            return EACCES;
        // Another program holds the file open in a way that shuts this
        // one out: not a lack of permission, and said so.
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        default:
            return EIO;
    }
}

const char* ownSystemReason(int error) { return error == EBUSY ? "in use by another program" : nullptr; }

std::FILE* openReportFile(const std::string& path) { return _wfopen(nativePath(path).c_str(), L"wb"); }

}  // namespace tempo::platform
