#pragma once

// Changing a user's file only by replacing it with a checked copy
// (safe_replace_linux.cpp). The copy is made in the original's folder with
// no name at all, so nothing a user sees or keeps can be taken for it
// while it is written and checked. Just before the rename it gets a name,
// ".NAME.tempo-XXXXXX", and a mark in its extended attributes; it is
// renamed over the original at once, and the mark comes off. Only a copy
// that a run killed in that instant leaves behind has that name and mark
// both, and only such a file, unlocked, is ever removed as a left copy.
// The copy is locked for as long as this process works on it.

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

// An unnamed copy of a file; it goes when this goes out of scope unless it
// has replaced the original. Every int result is 0 or an errno value.
class SiblingCopy {
public:
    SiblingCopy() = default;
    SiblingCopy(const SiblingCopy&) = delete;
    SiblingCopy& operator=(const SiblingCopy&) = delete;
    ~SiblingCopy();

    // Opens `original` (a real path: no link in it), makes an empty,
    // locked, unnamed file in its folder and reserves `reserve` bytes for
    // it, so that no later write into it can run out of space.
    int make(const std::string& original, std::uint64_t reserve);

    // What the original was when it was opened.
    const FileIdentity& originalIdentity() const { return identity_; }

    // Whether the original's name still holds the file that was opened,
    // with the same device, inode, size, modification and change times.
    bool originalUnchanged() const;

    // Appends bytes to the copy.
    int append(const unsigned char* bytes, std::size_t count);

    // A path by which the copy can be opened again while this lives, by
    // this process and by its children.
    std::string path() const;

    // Gives back the room reserved past the copy's end and flushes the
    // copy to disk: the copy then holds no more blocks than its bytes need.
    int settle();

    // Gives the copy exactly the original's rights (owner, group, every
    // extended attribute, the ACL among them, and the mode; whatever the
    // copy inherited from the folder removed), flushes it, looks at the
    // original once more, and names the copy and renames it over the
    // original only if the original's device, inode, size, modification
    // and change times are still those it had when it was opened.
    ReplaceOutcome replaceOriginal();

private:
    std::string original_;
    FileIdentity identity_;
    std::int64_t changedNs_ = 0;  // the original's change time when opened
    int source_ = -1;             // the original, open for reading
    int copy_ = -1;               // the copy, open and locked
    std::uint64_t reserved_ = 0;  // bytes reserved for the copy
};

// Why a file cannot be replaced, checked before any copy is made.
enum class ReplaceBlock {
    None,
    ReadOnly,           // the file, or its folder, has no write permission for its owner
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
// bytes larger, as far as can be told without making one. The mode bits
// are respected by everyone, root included: a file they mark read-only,
// or one in a folder they mark so, is not replaced.
ReplaceCheck checkReplaceable(const std::string& original, std::uint64_t headroom);

// Removes `path` if it is a copy a killed run left: named as a copy, marked
// as one, and locked by no running process; true when it was removed.
bool removeUnheldCopy(const std::string& path);

}  // namespace tempo::platform
