// Copies on Windows. A file cannot be made without a name here, so the copy
// is created beside the original under ".NAME.tempo-" and six random
// characters, then renamed at once, through its own handle, to the six
// characters of its mark: a keyed hash of the original's name, the copy's
// volume serial number and its file index. A user's file named like a
// copy has its own file index, and so, but for a one in 62^6 chance, not
// the mark; and a copy does not keep its mark when it is copied or renamed.
//
// The original is opened for reading with only reading and renaming left
// to others (FILE_SHARE_READ | FILE_SHARE_DELETE), from make() until the
// replace, so no program can write into it underneath. The copy is written
// through a handle that allows others to read only, then held through one
// that reads, so the decoders and TagLib can open it; removeUnheldCopy
// removes only a copy it can open with no sharing at all, which no copy a
// running process holds allows. ReplaceFileW, with a backup name kept for
// the instant of the swap (an empty file made for it first, since
// ReplaceFileW replaces whatever that name holds), puts the copy in place
// with the original's attributes, security descriptor, streams and
// creation time.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "platform/path.hpp"
#include "platform/safe_replace.hpp"
#include "platform/wide_text.hpp"

namespace tempo::platform {
namespace {

constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kLetterCount = sizeof kLetters - 1;
constexpr char kMarkKey[] = "a copy made by tempo-scan --write-tags";
constexpr std::size_t kSuffixLength = 6;
// The 100 ns ticks from 1601, where the system counts from, to 1970.
constexpr std::int64_t kTicksTo1970 = 116444736000000000;

HANDLE handleOf(void* handle) { return static_cast<HANDLE>(handle); }

int lastErrno() { return errnoOfSystemError(static_cast<int>(GetLastError())); }

void closeHandle(void*& handle) {
    if (handle != nullptr) CloseHandle(handleOf(handle));
    handle = nullptr;
}

std::uint64_t fileIndex(const BY_HANDLE_FILE_INFORMATION& information) {
    return static_cast<std::uint64_t>(information.nFileIndexHigh) << 32U | information.nFileIndexLow;
}

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& information) {
    const FILETIME& time = information.ftLastWriteTime;
    const std::uint64_t ticks = static_cast<std::uint64_t>(time.dwHighDateTime) << 32U | time.dwLowDateTime;
    FileIdentity identity;
    identity.device = information.dwVolumeSerialNumber;
    identity.inode = fileIndex(information);
    identity.size =
        static_cast<std::int64_t>(static_cast<std::uint64_t>(information.nFileSizeHigh) << 32U | information.nFileSizeLow);
    identity.modifiedNs = (static_cast<std::int64_t>(ticks) - kTicksTo1970) * 100;
    return identity;
}

// The six characters that mark a copy named `prefix` on the file with
// `information`: FNV-1a over the key, the prefix, the volume and the index.
std::string markOf(const std::string& prefix, const BY_HANDLE_FILE_INFORMATION& information) {
    std::uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            hash ^= (value >> (8 * i)) & 0xFFU;
            hash *= 1099511628211ULL;
        }
    };
    for (const char c : std::string(kMarkKey) + prefix) mix(static_cast<unsigned char>(c), 1);
    mix(information.dwVolumeSerialNumber, 4);
    mix(fileIndex(information), 8);
    std::string mark(kSuffixLength, 'x');
    for (char& c : mark) {
        c = kLetters[hash % kLetterCount];
        hash /= kLetterCount;
    }
    return mark;
}

std::string randomSuffix() {
    static std::mt19937 random(std::random_device{}());
    std::string suffix(kSuffixLength, 'x');
    for (char& c : suffix) c = kLetters[random() % kLetterCount];
    return suffix;
}

// Renames the file `handle` (opened with DELETE) to `target`, a path, never
// over another file; false with the last error set.
bool renameHandle(HANDLE handle, const std::string& target) {
    std::wstring name = nativePath(target);
    if (name.rfind(L"\\\\?\\", 0) == 0) name[1] = L'?';  // the system's own form, "\??\"
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* information = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    information->ReplaceIfExists = FALSE;
    information->RootDirectory = nullptr;
    information->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(information->FileName, name.data(), information->FileNameLength);
    return SetFileInformationByHandle(handle, FileRenameInfo, information, static_cast<DWORD>(buffer.size())) != 0;
}

// A new copy beside `original`, open for writing, renamed to its mark; its
// path in `path` (left under its random name where the marked one is
// taken, and so never removed as a left copy). nullptr with the last error
// set when none can be made.
HANDLE createCopy(const std::string& original, std::string& path) {
    const std::string prefix = siblingCopyPrefix(nameOf(original));
    HANDLE copy = INVALID_HANDLE_VALUE;
    std::string name;
    // `path` names only a file made here: the destructor removes it.
    for (int attempt = 0; attempt < 100 && copy == INVALID_HANDLE_VALUE; ++attempt) {
        name = joinPath(folderOf(original), prefix + randomSuffix());
        copy = CreateFileW(nativePath(name).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (copy == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return nullptr;
    }
    if (copy == INVALID_HANDLE_VALUE) return nullptr;
    path = name;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(copy, &information) != 0) {
        const std::string marked = joinPath(folderOf(original), prefix + markOf(prefix, information));
        if (renameHandle(copy, marked)) path = marked;
    }
    return copy;
}

// Makes an empty file beside `original` under a copy's name, never over
// another file, for ReplaceFileW to put the original's old bytes under:
// it replaces whatever the backup name holds, and that must be a file made
// here. "" with the last error set when none can be made.
std::string reserveBackupName(const std::string& original) {
    const std::string prefix = siblingCopyPrefix(nameOf(original));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = joinPath(folderOf(original), prefix + randomSuffix());
        HANDLE file = CreateFileW(nativePath(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return name;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return std::string();
    }
    return std::string();
}

}  // namespace

SiblingCopy::~SiblingCopy() {
    closeHandle(copy_);
    if (!copyPath_.empty()) DeleteFileW(nativePath(copyPath_).c_str());
    closeHandle(source_);
}

int SiblingCopy::make(const std::string& original, std::uint64_t /*reserve*/) {
    original_ = original;
    HANDLE source = CreateFileW(nativePath(original).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE) return lastErrno();
    source_ = source;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(source, &information) == 0) return lastErrno();
    identity_ = identityOf(information);
    HANDLE copy = createCopy(original, copyPath_);
    if (copy == nullptr) return lastErrno();
    copy_ = copy;
    writing_ = true;
    return 0;
}

int SiblingCopy::append(const unsigned char* bytes, std::size_t count) {
    if (!writing_) return EBADF;
    for (std::size_t put = 0; put < count;) {
        const DWORD slice = static_cast<DWORD>(std::min<std::size_t>(count - put, 1U << 30));
        DWORD wrote = 0;
        if (WriteFile(handleOf(copy_), bytes + put, slice, &wrote, nullptr) == 0) return lastErrno();
        put += wrote;
    }
    return 0;
}

bool SiblingCopy::originalUnchanged() const {
    FileStatus now;
    int error = 0;
    return readFileStatus(original_, now, error) && now.identity == identity_;
}

int SiblingCopy::holdForReading() const {
    if (!writing_) return 0;
    // The reading handle leaves others every access the writing one has,
    // so both are open for an instant and the copy is never unheld.
    HANDLE reader = CreateFileW(nativePath(copyPath_).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE) return lastErrno();
    const int error = FlushFileBuffers(handleOf(copy_)) != 0 ? 0 : lastErrno();
    CloseHandle(handleOf(copy_));
    copy_ = reader;
    writing_ = false;
    return error;
}

std::string SiblingCopy::path() const {
    holdForReading();
    return copyPath_;
}

// Once the copy is held for reading (another program, TagLib, may have
// written it through its own handle), a short-lived writing handle flushes it.
int SiblingCopy::settle() {
    if (writing_) return holdForReading();
    HANDLE writer = CreateFileW(nativePath(copyPath_).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer == INVALID_HANDLE_VALUE) return lastErrno();
    const int error = FlushFileBuffers(writer) != 0 ? 0 : lastErrno();
    CloseHandle(writer);
    return error;
}

ReplaceOutcome SiblingCopy::replaceOriginal() {
    const auto failed = [](int error) { return ReplaceOutcome{ReplaceResult::Failed, error}; };
    if (const int error = settle()) return failed(error);
    if (!originalUnchanged()) return {ReplaceResult::ChangedMeanwhile, 0};
    // ReplaceFileW needs the copy open by nobody, this process included.
    closeHandle(copy_);
    const std::string backup = reserveBackupName(original_);
    if (backup.empty()) return failed(lastErrno());
    const std::wstring originalName = nativePath(original_);
    const std::wstring backupName = nativePath(backup);
    BOOL done = ReplaceFileW(originalName.c_str(), nativePath(copyPath_).c_str(), backupName.c_str(), 0, nullptr, nullptr);
    DWORD error = done ? 0 : GetLastError();
    if (!done && (error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_SHARING_VIOLATION)) {
        // A system that will not move a file this process holds open: let
        // go of it, and replace it only if it is still untouched.
        closeHandle(source_);
        if (!originalUnchanged()) {
            DeleteFileW(backupName.c_str());
            return {ReplaceResult::ChangedMeanwhile, 0};
        }
        done = ReplaceFileW(originalName.c_str(), nativePath(copyPath_).c_str(), backupName.c_str(), 0, nullptr, nullptr);
        error = done ? 0 : GetLastError();
    }
    if (!done) {
        // Only this failure leaves the original under the backup name: it
        // goes back. Otherwise the backup name holds the empty file made
        // for it, and that goes.
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            MoveFileExW(backupName.c_str(), originalName.c_str(), 0);
        } else {
            DeleteFileW(backupName.c_str());
        }
        return failed(errnoOfSystemError(static_cast<int>(error)));
    }
    copyPath_.clear();
    closeHandle(source_);
    DeleteFileW(backupName.c_str());
    return {ReplaceResult::Replaced, 0};
}

ReplaceCheck checkReplaceable(const std::string& original, std::uint64_t headroom) {
    const std::string folder = folderOf(original);
    const DWORD attributes = GetFileAttributesW(nativePath(original).c_str());
    const DWORD folderAttributes = GetFileAttributesW(nativePath(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || folderAttributes == INVALID_FILE_ATTRIBUTES) {
        return {ReplaceBlock::System, lastErrno()};
    }
    if (((attributes | folderAttributes) & FILE_ATTRIBUTE_READONLY) != 0) return {ReplaceBlock::ReadOnly, 0};
    FileStatus status;
    int error = 0;
    if (!readFileStatus(original, status, error)) return {ReplaceBlock::System, error};
    if (status.links > 1) return {ReplaceBlock::SeveralHardLinks, 0};
    HANDLE writer = CreateFileW(nativePath(original).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer == INVALID_HANDLE_VALUE) return {ReplaceBlock::NotWritable, lastErrno()};
    CloseHandle(writer);
    ULARGE_INTEGER free{};
    if (GetDiskFreeSpaceExW(nativePath(folder).c_str(), &free, nullptr, nullptr) != 0 &&
        free.QuadPart < static_cast<std::uint64_t>(status.identity.size) + headroom) {
        return {ReplaceBlock::NoSpace, ENOSPC};
    }
    return {};
}

bool removeUnheldCopy(const std::string& path) {
    const std::string name = nameOf(path);
    if (!isSiblingCopyName(name)) return false;
    // No sharing at all: this opens only a file that no process holds.
    HANDLE copy = CreateFileW(nativePath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (copy == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const std::string prefix = name.substr(0, name.size() - kSuffixLength);
    bool removed = GetFileInformationByHandle(copy, &information) != 0 &&
                   (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                   name.compare(prefix.size(), kSuffixLength, markOf(prefix, information)) == 0;
    if (removed) {
        // Through the handle: only the file that was looked at goes.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        removed = SetFileInformationByHandle(copy, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    }
    CloseHandle(copy);
    return removed;
}

}  // namespace tempo::platform
