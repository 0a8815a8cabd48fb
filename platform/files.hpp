#pragma once

// File status and identity, and the files the scan writes besides tags
// (files_posix.cpp, files_win32.cpp). System errors are reported as errno
// values on every platform, so a record reads the same everywhere.

#include <cstdint>
#include <cstdio>
#include <string>

namespace tempo::platform {

// What a file was when it was looked at: a file whose identity changed
// since is not tagged, and an index entry whose identity changed is stale.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;       // bytes; -1: not known
    std::int64_t modifiedNs = 0;  // last modification, ns since the epoch
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs;
    }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

struct FileStatus {
    bool regular = false;  // a plain file (links followed), not a folder or a device
    FileIdentity identity;
    std::uint64_t links = 1;  // names the file has (hard links)
};

// The status of the file `path` names (links followed), or false with
// `error` set to an errno value (ENOENT, EACCES, ...).
bool readFileStatus(const std::string& path, FileStatus& status, int& error);

// Whether this process may write the file `path` names, or make and remove
// files in the folder it names; false with `error` set to an errno value
// (EACCES, EROFS, ENOENT). A check before a write whose failure part way
// would leave something behind.
bool mayWrite(const std::string& path, int& error);

// The errno value for an error a platform call reported (already one
// outside Windows, where it is a system error code).
int errnoOfSystemError(int systemError);

// The system's words for errno value `error`, with a lower-case first
// letter, to read as plain words in a record ("no such file or directory").
std::string systemReason(int error);

// This platform's own words for errno value `error` where the C library's
// would mislead; nullptr for none. On Windows a file another program holds
// open comes as EBUSY, whose C library words ("resource device") say
// nothing of that.
const char* ownSystemReason(int error);

// The report file `path`, created or emptied and opened for writing in
// binary; nullptr with errno set when it cannot be.
std::FILE* openReportFile(const std::string& path);

}  // namespace tempo::platform
