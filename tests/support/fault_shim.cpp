// Faults of the system, injected into a program under test through
// LD_PRELOAD: this library stands in front of a few C library calls and
// makes them fail, or damages what they touch, as TEMPO_FAULT asks. The
// program itself has no test hook; it meets these faults as it would meet
// a failing disk or a starved kernel.
//
// TEMPO_FAULT holds rules separated by ';':
//   poll=E            every poll fails with errno E
//   readdir=E@N       readdir fails with errno E after N entries of a folder
//   corrupt-copy      each fsync of a tag writer's copy (unnamed, or
//                     ".NAME.tempo-XXXXXX") first flips 16 bytes in its middle
//   touch=PATH        the first fsync of a tag writer's copy first sets the
//                     last byte of PATH to 'x': another program (an ID3v1
//                     tag editor) writing the original between the copy and
//                     its rename
//   copy-full         the first write into a sibling copy takes only half
//                     its bytes, and every later one fails with ENOSPC, as
//                     on a disk that fills while the copy is made
//   full=SUFFIX       every write into a file whose path ends in SUFFIX
//                     fails with ENOSPC (full=-wal: SQLite's write-ahead
//                     log, so no transaction of an index can commit)
//   synced=FILE       each fsync and fdatasync adds the path of the file it
//                     syncs, and a newline, to FILE: what a power cut
//                     right then would leave on the disk
// Errno values are numbers (5 is EIO, 12 ENOMEM).

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

// The value of rule `name=VALUE` in TEMPO_FAULT, or nullptr.
const char* ruleValue(const char* name) {
    const char* faults = std::getenv("TEMPO_FAULT");
    if (faults == nullptr) return nullptr;
    const std::size_t length = std::strlen(name);
    for (const char* at = faults; *at != '\0';) {
        if (std::strncmp(at, name, length) == 0 && (at[length] == '=' || at[length] == ';' || at[length] == '\0')) {
            return at[length] == '=' ? at + length + 1 : at + length;
        }
        const char* next = std::strchr(at, ';');
        if (next == nullptr) break;
        at = next + 1;
    }
    return nullptr;
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// Entries handed out from the folder being read (one folder at a time).
thread_local const void* currentFolder = nullptr;
thread_local long entriesGiven = 0;

// True when this readdir must fail, with errno set.
bool readdirFails(const void* dir) {
    const char* rule = ruleValue("readdir");
    if (rule == nullptr) return false;
    if (dir != currentFolder) {
        currentFolder = dir;
        entriesGiven = 0;
    }
    char* after = nullptr;
    const long error = std::strtol(rule, &after, 10);
    const long limit = *after == '@' ? std::strtol(after + 1, nullptr, 10) : 0;
    if (entriesGiven++ < limit) return false;
    errno = static_cast<int>(error);
    return true;
}

// The path the descriptor `fd` was opened by, or "".
std::string pathOf(int fd) {
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length <= 0) return std::string();
    return std::string(target, static_cast<std::size_t>(length));
}

// A tag writer's copy: named as one, or unnamed (an O_TMPFILE reads as
// "/folder/#INODE (deleted)").
bool isSiblingCopy(int fd) {
    const std::string target = pathOf(fd);
    const std::size_t slash = target.rfind('/');
    if (slash == std::string::npos) return false;
    const std::string name = target.substr(slash + 1);
    const std::string deleted = " (deleted)";
    const bool unnamed = name[0] == '#' && name.size() > deleted.size() &&
                         name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0;
    return unnamed || (name[0] == '.' && name.find(".tempo-") != std::string::npos);
}

// Sets the last byte of the file the touch rule names, once per process.
void touchOnce() {
    static bool touched = false;
    const char* rule = ruleValue("touch");
    if (rule == nullptr || touched) return;
    touched = true;
    const std::string path(rule, std::strcspn(rule, ";"));
    const int fd = ::open(path.c_str(), O_WRONLY);
    struct stat status {};
    if (fd < 0) return;
    const char byte = 'x';
    if (::fstat(fd, &status) != 0 || status.st_size == 0 ||
        next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(fd, &byte, 1, status.st_size - 1) != 1) {
        std::abort();
    }
    ::close(fd);
}

// True when a write to `fd` must fail as on a full disk, with errno set.
bool diskFull(int fd) {
    const char* suffix = ruleValue("full");
    if (suffix == nullptr) return false;
    const std::string end(suffix, std::strcspn(suffix, ";"));
    const std::string target = pathOf(fd);
    if (end.empty() || target.size() < end.size() || target.compare(target.size() - end.size(), end.size(), end) != 0) {
        return false;
    }
    errno = ENOSPC;
    return true;
}

void noteSync(int fd) {
    const char* rule = ruleValue("synced");
    if (rule == nullptr) return;
    const std::string log(rule, std::strcspn(rule, ";"));
    const std::string line = pathOf(fd) + "\n";
    const int out = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (out < 0) return;
    next<ssize_t (*)(int, const void*, size_t)>("write")(out, line.data(), line.size());
    ::close(out);
}

void damageMiddle(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size < 64) return;
    const off_t middle = status.st_size / 2;
    unsigned char bytes[16];
    if (::pread(fd, bytes, sizeof bytes, middle) != static_cast<ssize_t>(sizeof bytes)) return;
    for (unsigned char& byte : bytes) byte ^= 0x5A;
    if (::pwrite(fd, bytes, sizeof bytes, middle) != static_cast<ssize_t>(sizeof bytes)) return;
}

}  // namespace

extern "C" {

int poll(struct pollfd* fds, nfds_t count, int timeout) {
    if (const char* rule = ruleValue("poll")) {
        errno = std::atoi(rule);
        return -1;
    }
    return next<int (*)(struct pollfd*, nfds_t, int)>("poll")(fds, count, timeout);
}

struct dirent* readdir(DIR* dir) {
    if (readdirFails(dir)) return nullptr;
    return next<struct dirent* (*)(DIR*)>("readdir")(dir);
}

struct dirent64* readdir64(DIR* dir) {
    if (readdirFails(dir)) return nullptr;
    return next<struct dirent64* (*)(DIR*)>("readdir64")(dir);
}

ssize_t write(int fd, const void* bytes, size_t count) {
    if (diskFull(fd)) return -1;
    if (ruleValue("copy-full") != nullptr && isSiblingCopy(fd)) {
        struct stat status {};
        if (::fstat(fd, &status) == 0 && status.st_size > 0) {
            errno = ENOSPC;
            return -1;
        }
        count /= 2;
    }
    return next<ssize_t (*)(int, const void*, size_t)>("write")(fd, bytes, count);
}

ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) {
    if (diskFull(fd)) return -1;
    return next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(fd, bytes, count, offset);
}

ssize_t pwrite64(int fd, const void* bytes, size_t count, off64_t offset) {
    if (diskFull(fd)) return -1;
    return next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64")(fd, bytes, count, offset);
}

int fsync(int fd) {
    if (isSiblingCopy(fd)) touchOnce();
    if (ruleValue("corrupt-copy") != nullptr && isSiblingCopy(fd)) damageMiddle(fd);
    noteSync(fd);
    return next<int (*)(int)>("fsync")(fd);
}

int fdatasync(int fd) {
    noteSync(fd);
    return next<int (*)(int)>("fdatasync")(fd);
}

}  // extern "C"
