// Copies on Linux. The copy is an O_TMPFILE in the original's folder,
// locked with flock for as long as its descriptor stays open; the room it
// needs is reserved with fallocate, since a library writing into it may
// not notice a write that fails for want of space, and what was reserved
// past its end is given back once it is written. Just before the rename
// it is linked in under ".NAME.tempo-XXXXXX" (linkat through /proc), with
// the mark attribute user.tempo-scan.copy; the mark is taken off once the
// copy holds the original's name. A file system that takes no user
// attributes gets no mark, and a copy left there is never removed.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "platform/descriptor_posix.hpp"
#include "platform/path.hpp"
#include "platform/safe_replace.hpp"

namespace tempo::platform {
namespace {

constexpr const char* kMark = "user.tempo-scan.copy";
constexpr const char kMarkValue[] = "a copy made by tempo-scan --write-tags";

int writeAll(int fd, const unsigned char* bytes, std::size_t count) {
    for (std::size_t put = 0; put < count;) {
        const ssize_t wrote = ::write(fd, bytes + put, count - put);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return errno;
        put += static_cast<std::size_t>(wrote);
    }
    return 0;
}

// The names of `fd`'s extended attributes; false with errno set.
bool attributeNames(int fd, std::vector<std::string>& names) {
    names.clear();
    std::vector<char> list(4096);
    ssize_t size = 0;
    while ((size = ::flistxattr(fd, list.data(), list.size())) < 0 && errno == ERANGE) list.resize(list.size() * 4);
    if (size < 0) return errno == ENOTSUP;
    for (ssize_t at = 0; at < size;) {
        names.emplace_back(list.data() + at);
        at += static_cast<ssize_t>(names.back().size()) + 1;
    }
    return true;
}

bool attributeValue(int fd, const std::string& name, std::vector<char>& value) {
    const ssize_t length = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (length < 0) return false;
    value.resize(static_cast<std::size_t>(length));
    const ssize_t read = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (read < 0) return false;
    value.resize(static_cast<std::size_t>(read));
    return true;
}

// The copy's extended attributes made exactly the original's: what the
// copy inherited (a folder's default ACL) removed, every one of the
// original's set; 0 or the errno value of the first that fails.
int copyAttributes(int from, int to) {
    std::vector<std::string> wanted;
    std::vector<std::string> present;
    if (!attributeNames(from, wanted) || !attributeNames(to, present)) return errno;
    for (const std::string& name : present) {
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() && ::fremovexattr(to, name.c_str()) != 0) {
            return errno;
        }
    }
    std::vector<char> value;
    for (const std::string& name : wanted) {
        if (!attributeValue(from, name, value)) return errno;
        if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) return errno;
    }
    return 0;
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

std::int64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileIdentity identityOf(const struct stat& status) {
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.size = static_cast<std::int64_t>(status.st_size);
    identity.modifiedNs = nanoseconds(status.st_mtim);
    return identity;
}

// Links the copy in beside the original under a new copy name; the name,
// or "" with errno set.
std::string linkCopy(int copy, const std::string& original) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::mt19937 random(device());
    const std::string source = "/proc/self/fd/" + std::to_string(copy);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
        const std::string name = joinPath(folderOf(original), siblingCopyPrefix(nameOf(original)) + suffix);
        if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return name;
        if (errno != EEXIST) return std::string();
    }
    return std::string();
}

}  // namespace

SiblingCopy::~SiblingCopy() {
    if (copy_ >= 0) ::close(copy_);
    if (source_ >= 0) ::close(source_);
}

int SiblingCopy::make(const std::string& original, std::uint64_t reserve) {
    original_ = original;
    source_ = ::open(original.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (source_ < 0 || ::fstat(source_, &status) != 0) return errno;
    identity_ = identityOf(status);
    changedNs_ = nanoseconds(status.st_ctim);
    copy_ = ::open(folderOf(original).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (copy_ < 0) return errno;
    if (::flock(copy_, LOCK_EX) != 0) return errno;
    if (reserve == 0) return 0;
    // A file system that cannot reserve room is written without.
    if (::fallocate(copy_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(reserve)) == 0) {
        reserved_ = reserve;
    } else if (errno != EOPNOTSUPP && errno != ENOSYS) {
        return errno;
    }
    return 0;
}

int SiblingCopy::append(const unsigned char* bytes, std::size_t count) { return writeAll(copy_, bytes, count); }

bool SiblingCopy::originalUnchanged() const {
    struct stat now {};
    return ::stat(original_.c_str(), &now) == 0 && identityOf(now) == identity_ && nanoseconds(now.st_ctim) == changedNs_;
}

// Through this process's own number, so that a child (the decoder) opens
// it too.
std::string SiblingCopy::path() const { return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(copy_); }

int SiblingCopy::settle() {
    struct stat status {};
    if (::fstat(copy_, &status) != 0) return errno;
    if (reserved_ > static_cast<std::uint64_t>(status.st_size)) {
        // Truncating to the same length frees the blocks past the end on
        // ext4 and tmpfs; the punched hole does it where truncation to an
        // unchanged length does nothing.
        if (::ftruncate(copy_, status.st_size) != 0) return errno;
        const int punched = ::fallocate(copy_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, status.st_size,
                                        static_cast<off_t>(reserved_ - static_cast<std::uint64_t>(status.st_size)));
        if (punched != 0 && errno != EOPNOTSUPP && errno != ENOSYS) return errno;
    }
    reserved_ = 0;
    return ::fsync(copy_) == 0 ? 0 : errno;
}

ReplaceOutcome SiblingCopy::replaceOriginal() {
    const auto failed = [](int error) { return ReplaceOutcome{ReplaceResult::Failed, error}; };
    struct stat status {};
    if (::fstat(source_, &status) != 0) return failed(errno);
    if ((status.st_uid != ::geteuid() || status.st_gid != ::getegid()) &&
        ::fchown(copy_, status.st_uid, status.st_gid) != 0) {
        return failed(errno);
    }
    if (const int error = copyAttributes(source_, copy_)) return failed(error);
    if (::fchmod(copy_, status.st_mode & 07777) != 0) return failed(errno);
    const bool marked = ::fsetxattr(copy_, kMark, kMarkValue, sizeof kMarkValue - 1, 0) == 0;
    if (::fsync(copy_) != 0) return failed(errno);
    if (!originalUnchanged()) return {ReplaceResult::ChangedMeanwhile, 0};
    const std::string name = linkCopy(copy_, original_);
    if (name.empty()) return failed(errno);
    if (::rename(name.c_str(), original_.c_str()) != 0) {
        const int error = errno;
        ::unlink(name.c_str());
        return failed(error);
    }
    if (marked) ::fremovexattr(copy_, kMark);
    const Descriptor folder(::open(folderOf(original_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
    return {ReplaceResult::Replaced, 0};
}

ReplaceCheck checkReplaceable(const std::string& original, std::uint64_t headroom) {
    struct stat status {};
    struct stat folderStatus {};
    const std::string folder = folderOf(original);
    if (::stat(original.c_str(), &status) != 0 || ::stat(folder.c_str(), &folderStatus) != 0) {
        return {ReplaceBlock::System, errno};
    }
    if ((status.st_mode & S_IWUSR) == 0 || (folderStatus.st_mode & S_IWUSR) == 0) return {ReplaceBlock::ReadOnly, 0};
    if (status.st_nlink > 1) return {ReplaceBlock::SeveralHardLinks, 0};
    if (::access(original.c_str(), W_OK) != 0) return {ReplaceBlock::NotWritable, errno};
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
    if (!isSiblingCopyName(nameOf(path))) return false;
    const Descriptor copy(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (copy.get() < 0 || ::flock(copy.get(), LOCK_EX | LOCK_NB) != 0) return false;
    std::vector<char> mark;
    if (!attributeValue(copy.get(), kMark, mark) || std::string(mark.begin(), mark.end()) != kMarkValue) return false;
    // The name may have been renamed over an original, or reused, since it
    // was opened: only the file that is locked here is removed.
    struct stat opened {};
    struct stat named {};
    if (::fstat(copy.get(), &opened) != 0 || ::lstat(path.c_str(), &named) != 0 || opened.st_ino != named.st_ino ||
        opened.st_dev != named.st_dev || !S_ISREG(named.st_mode)) {
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

}  // namespace tempo::platform
