#pragma once

// Changing a user's file only by replacing it with a checked copy
// (safe_replace_linux.cpp). The copy is made beside the original, as a
// hidden ".NAME.tempo-XXXXXX" in the same folder, so the final rename is
// atomic: at every moment the original's name holds either the original
// or the finished copy. The copy is locked for as long as this process
// works on it, so a later run can tell a copy left by a killed run (no
// lock) from one another run is still making.

#include <cstdint>
#include <string>
#include <vector>

namespace tempo::platform {

// A sibling copy of a file; removed when this goes out of scope unless it
// has replaced the original. Every operation returns 0 or an errno value.
class SiblingCopy {
public:
    SiblingCopy() = default;
    SiblingCopy(const SiblingCopy&) = delete;
    SiblingCopy& operator=(const SiblingCopy&) = delete;
    ~SiblingCopy();

    // Copies `original` (a real path: no link in it) to a new, locked
    // sibling, and reserves `headroom` bytes of room past the copy's end,
    // so that no later write into the copy can run out of space.
    int make(const std::string& original, std::uint64_t headroom);

    // The copy's path, once made.
    const std::string& path() const { return path_; }

    // Gives back the room reserved past the copy's end and flushes the
    // copy to disk: the copy then holds no more blocks than its bytes need.
    int settle();

    // Gives the copy the original's mode, owner and extended attributes,
    // flushes it, renames it over the original and flushes the folder.
    int replaceOriginal();

private:
    std::string original_;
    std::string path_;
    int source_ = -1;  // the original, open for reading
    int copy_ = -1;    // the copy, open and locked
    std::uint64_t reserved_ = 0;  // bytes reserved past the copy's end
};

// Why a file cannot be replaced, checked before any copy is made.
enum class ReplaceBlock {
    None,
    SeveralHardLinks,   // a rename would part it from its other names
    NotWritable,        // the file refuses writing (its mode, an immutable flag)
    FolderNotWritable,  // no new file can be made beside it
    OwnerNotKept,       // the copy could not be given the original's owner and group
    NoSpace,            // the folder's file system has no room for a copy
    System,             // the file could not be looked at: see the errno value
};

struct ReplaceCheck {
    ReplaceBlock block = ReplaceBlock::None;
    int error = 0;  // System: the errno value
};

// Whether `original` (a real path) could be replaced by a copy `headroom`
// bytes larger, as far as can be told without making one.
ReplaceCheck checkReplaceable(const std::string& original, std::uint64_t headroom);

// Removes the left copy `path` unless a running process holds its lock;
// true when it was removed.
bool removeUnheldCopy(const std::string& path);

}  // namespace tempo::platform
