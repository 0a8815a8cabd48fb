#pragma once

// Changing a user's file only by replacing it with a checked copy, made in
// the original's folder and renamed over it only if the original is still
// the file that was copied. A copy a killed run leaves behind is named
// ".NAME.tempo-XXXXXX" and carries a mark only this tool makes; only such
// a file, held open by no running process, is ever removed as a left copy.
//
// Linux (safe_replace_linux.cpp): the copy has no name at all while it is
// written and checked, so nothing a user sees can be taken for it; just
// before the rename it gets the copy name and the mark (an extended
// attribute), and the mark comes off once it holds the original's name.
// The copy is locked with flock for as long as this process works on it.
//
// Windows (safe_replace_win32.cpp): a file always has a name, so the copy
// is named from the start, its six last characters the mark: a keyed hash
// of its own volume and file number, which a file of the same name that
// this tool did not make does not have. The original is open from the copy
// until the replace with a share mode that keeps every other writer out,
// and the copy is held open without leave to delete it. ReplaceFileW puts
// the copy in place, keeping the original's attributes, security
// descriptor, streams and creation time.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.hpp"

namespace tempo::platform {

// How a replace ended.
enum class ReplaceResult {
    Replaced,
    ChangedMeanwhile,  // the original is no longer the file that was copied: left as it is now
    Failed,            // see the errno value
};

struct ReplaceOutcome {
    ReplaceResult result = ReplaceResult::Failed;
    int error = 0;  // Failed: the errno value
};

// A copy of a file (unnamed on Linux); it goes when this goes out of scope
// unless it has replaced the original. Every int result is 0 or an errno
// value (Windows errors mapped by errnoOfSystemError).
class SiblingCopy {
public:
    SiblingCopy() = default;
    SiblingCopy(const SiblingCopy&) = delete;
    SiblingCopy& operator=(const SiblingCopy&) = delete;
    ~SiblingCopy();

    // Opens `original` (a real path: no link in it), makes an empty,
    // locked copy in its folder and reserves `reserve` bytes for it, so
    // that no later write into it can run out of space (Linux; Windows
    // checks the free space before, in checkReplaceable).
    int make(const std::string& original, std::uint64_t reserve);

    // What the original was when it was opened.
    const FileIdentity& originalIdentity() const { return identity_; }

    // Whether the original's name still holds the file that was opened,
    // with the same device, inode, size and modification time (and, on
    // Linux, change time; on Windows, the volume serial number and file
    // index stand for device and inode).
    bool originalUnchanged() const;

    // Appends bytes to the copy; on Windows only before path() is asked.
    int append(const unsigned char* bytes, std::size_t count);

    // A path by which the copy can be opened again while this lives, by
    // this process and by its children. On Windows the copy is then held
    // for reading only, so that others may open it to read or write.
    std::string path() const;

    // Gives back the room reserved past the copy's end and flushes the
    // copy to disk: the copy then holds no more blocks than its bytes need.
    int settle();

    // Gives the copy exactly the original's rights (Linux: owner, group,
    // every extended attribute, the ACL among them, and the mode, whatever
    // the copy inherited from the folder removed; Windows: ReplaceFileW
    // keeps the attributes, security descriptor, streams and creation
    // time), flushes it, looks at the original once more, and puts the
    // copy in its place only if the original is still the file that was
    // opened (see originalUnchanged).
    ReplaceOutcome replaceOriginal();

private:
    std::string original_;
    FileIdentity identity_;
#ifdef _WIN32
    // Leaves the copy open for reading alone; 0 or an errno value.
    int holdForReading() const;
    void* source_ = nullptr;        // the original, open for reading, other writers kept out
    mutable void* copy_ = nullptr;  // the copy: open for writing, then for reading alone
    mutable bool writing_ = false;  // copy_ is the handle that writes
    std::string copyPath_;    // the copy's name beside the original
#else
    std::int64_t changedNs_ = 0;  // the original's change time when opened
    int source_ = -1;             // the original, open for reading
    int copy_ = -1;               // the copy, open and locked
    std::uint64_t reserved_ = 0;  // bytes reserved for the copy
#endif
};

// Why a file cannot be replaced, checked before any copy is made.
enum class ReplaceBlock {
    None,
    ReadOnly,           // the file, or its folder, has no write permission for its owner (Windows: the read-only attribute)
    SeveralHardLinks,   // a rename would part it from its other names
    NotWritable,        // the file refuses writing (its mode, an immutable flag)
    FolderNotWritable,  // no new file can be made beside it
    OwnerNotKept,       // the copy could not be given the original's owner and group (not on Windows)
    NoSpace,            // the folder's file system has no room for a copy
    System,             // the file could not be looked at: see the errno value
};

struct ReplaceCheck {
    ReplaceBlock block = ReplaceBlock::None;
    int error = 0;  // System: the errno value
};

// Whether `original` (a real path) could be replaced by a copy `headroom`
// bytes larger, as far as can be told without making one. The mode bits
// (on Windows the read-only attribute) are respected by everyone, root
// and administrators included: a file they mark read-only, or one in a
// folder they mark so, is not replaced.
ReplaceCheck checkReplaceable(const std::string& original, std::uint64_t headroom);

// Removes `path` if it is a copy a killed run left: named as a copy, marked
// as one, and locked (Windows: held open) by no running process; true when
// it was removed.
bool removeUnheldCopy(const std::string& path);

}  // namespace tempo::platform
