// Sibling copies on Linux. The copy is made with mkostemp in the original's
// folder and locked with flock for as long as its descriptor stays open;
// room for the tag to grow is reserved with fallocate, since a library
// writing into the copy may not notice a write that fails for want of
// space, and given back once the copy is written, so no block stays
// allocated past its end.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/descriptor_posix.hpp"
#include "platform/path.hpp"
#include "platform/safe_replace.hpp"

namespace tempo::platform {
namespace {

int writeAll(int fd, const char* bytes, std::size_t count) {
    for (std::size_t put = 0; put < count;) {
        const ssize_t wrote = ::write(fd, bytes + put, count - put);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return errno;
        put += static_cast<std::size_t>(wrote);
    }
    return 0;
}

int copyBytes(int from, int to) {
    std::vector<char> block(1 << 16);
    for (;;) {
        const ssize_t got = ::read(from, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno;
        if (got == 0) return 0;
        if (const int error = writeAll(to, block.data(), static_cast<std::size_t>(got))) return error;
    }
}

// Extended attributes (ACLs, labels, user data) that can be copied; one the
// system will not set here is left behind.
void copyAttributes(int from, int to) {
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0) return;
    std::vector<char> names(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    for (ssize_t at = 0; at < got;) {
        const char* name = names.data() + at;
        at += static_cast<ssize_t>(std::strlen(name)) + 1;
        const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length < 0) continue;
        std::vector<char> value(static_cast<std::size_t>(length) + 1);
        const ssize_t read = ::fgetxattr(from, name, value.data(), value.size());
        if (read >= 0) ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(read), 0);
    }
}

bool inGroup(gid_t group) {
    if (group == ::getegid()) return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(::getgroups(0, nullptr)) + 1);
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) return true;
    }
    return false;
}

}  // namespace

SiblingCopy::~SiblingCopy() {
    if (!path_.empty()) ::unlink(path_.c_str());
    if (copy_ >= 0) ::close(copy_);
    if (source_ >= 0) ::close(source_);
}

int SiblingCopy::make(const std::string& original, std::uint64_t headroom) {
    original_ = original;
    source_ = ::open(original.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (source_ < 0 || ::fstat(source_, &status) != 0) return errno;
    std::string name = joinPath(folderOf(original), siblingCopyPrefix(nameOf(original)) + "XXXXXX");
    copy_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (copy_ < 0) return errno;
    path_ = name;
    if (::flock(copy_, LOCK_EX) != 0) return errno;
    if (const int error = copyBytes(source_, copy_)) return error;
    // The blocks the tag may grow into, taken now; a file system that
    // cannot reserve them is written without.
    const auto end = static_cast<off_t>(status.st_size);
    if (headroom == 0) return 0;
    if (::fallocate(copy_, FALLOC_FL_KEEP_SIZE, end, static_cast<off_t>(headroom)) == 0) {
        reserved_ = headroom;
    } else if (errno != EOPNOTSUPP && errno != ENOSYS) {
        return errno;
    }
    return 0;
}

int SiblingCopy::settle() {
    struct stat status {};
    if (::fstat(copy_, &status) != 0) return errno;
    if (reserved_ > 0) {
        // Truncating to the same length frees the blocks past the end on
        // ext4 and tmpfs; the punched hole does it where truncation to an
        // unchanged length does nothing.
        if (::ftruncate(copy_, status.st_size) != 0) return errno;
        const int punched = ::fallocate(copy_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, status.st_size,
                                        static_cast<off_t>(reserved_));
        if (punched != 0 && errno != EOPNOTSUPP && errno != ENOSYS) return errno;
        reserved_ = 0;
    }
    return ::fsync(copy_) == 0 ? 0 : errno;
}

int SiblingCopy::replaceOriginal() {
    struct stat status {};
    if (::fstat(source_, &status) != 0) return errno;
    if ((status.st_uid != ::geteuid() || status.st_gid != ::getegid()) &&
        ::fchown(copy_, status.st_uid, status.st_gid) != 0) {
        return errno;
    }
    if (::fchmod(copy_, status.st_mode & 07777) != 0) return errno;
    copyAttributes(source_, copy_);
    if (::fsync(copy_) != 0) return errno;
    if (::rename(path_.c_str(), original_.c_str()) != 0) return errno;
    path_.clear();
    const Descriptor folder(::open(folderOf(original_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
    return 0;
}

ReplaceCheck checkReplaceable(const std::string& original, std::uint64_t headroom) {
    struct stat status {};
    if (::stat(original.c_str(), &status) != 0) return {ReplaceBlock::System, errno};
    if (status.st_nlink > 1) return {ReplaceBlock::SeveralHardLinks, 0};
    if (::access(original.c_str(), W_OK) != 0) return {ReplaceBlock::NotWritable, errno};
    const std::string folder = folderOf(original);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return {ReplaceBlock::FolderNotWritable, errno};
    const bool root = ::geteuid() == 0;
    if (!root && (status.st_uid != ::geteuid() || !inGroup(status.st_gid))) return {ReplaceBlock::OwnerNotKept, 0};
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) == 0) {
        const std::uint64_t free = static_cast<std::uint64_t>(root ? space.f_bfree : space.f_bavail) * space.f_frsize;
        if (free < static_cast<std::uint64_t>(status.st_size) + headroom) return {ReplaceBlock::NoSpace, ENOSPC};
    }
    return {};
}

bool removeUnheldCopy(const std::string& path) {
    const Descriptor copy(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (copy.get() < 0 || ::flock(copy.get(), LOCK_EX | LOCK_NB) != 0) return false;
    // The name may have been renamed over an original, or reused, since it
    // was opened: only the file that is locked here is removed.
    struct stat opened {};
    struct stat named {};
    if (::fstat(copy.get(), &opened) != 0 || ::lstat(path.c_str(), &named) != 0 || opened.st_ino != named.st_ino ||
        opened.st_dev != named.st_dev) {
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

}  // namespace tempo::platform
