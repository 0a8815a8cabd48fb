#include "platform/safe_replace.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/path.hpp"
#include "tests/support/copy_files.hpp"
#include "tests/support/temp_dir.hpp"

namespace tempo::platform {
namespace {

namespace fs = std::filesystem;

using testing::append;
using testing::contents;
using testing::entries;
using testing::put;

// The copy's bytes, as appended.
std::string copyBytes(const SiblingCopy& copy) { return contents(copy.path()); }

// A copy made, changed and put in place: the original's name then holds
// the change with the original's mode, nothing is left beside it, the
// copy had no name while it was written, and no block stays reserved past
// its end.
TEST(SiblingCopy, ReplacesTheOriginalWithTheCopy) {
    const testing::TempDir dir;
    const fs::path original = dir.path() / "song.flac";
    put(original, std::string(10000, 'a'));
    ASSERT_EQ(::chmod(original.c_str(), 0640), 0);
    {
        SiblingCopy copy;
        ASSERT_EQ(copy.make(original.string(), 1 << 20), 0);
        EXPECT_EQ(copy.originalIdentity().size, 10000);
        append(copy, std::string(10000, 'a'));
        append(copy, "tag");
        EXPECT_EQ(copyBytes(copy), std::string(10000, 'a') + "tag");
        EXPECT_EQ(entries(dir.path()), 1U);
        ASSERT_EQ(copy.settle(), 0);
        struct stat settled {};
        ASSERT_EQ(::stat(copy.path().c_str(), &settled), 0);
        EXPECT_LE(settled.st_blocks * 512, (settled.st_size + settled.st_blksize - 1) / settled.st_blksize * settled.st_blksize);
        EXPECT_EQ(copy.replaceOriginal().result, ReplaceResult::Replaced);
    }
    EXPECT_EQ(contents(original), std::string(10000, 'a') + "tag");
    struct stat status {};
    ASSERT_EQ(::stat(original.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640U);
    EXPECT_EQ(entries(dir.path()), 1U);
    char mark[64];
    EXPECT_LT(::getxattr(original.c_str(), "user.tempo-scan.copy", mark, sizeof mark), 0) << "the mark stayed";
}

// A copy never put in place goes with its object; the original stays.
TEST(SiblingCopy, LeavesNothingWhenNotReplaced) {
    const testing::TempDir dir;
    const fs::path original = dir.path() / "song.mp3";
    put(original, "original");
    {
        SiblingCopy copy;
        ASSERT_EQ(copy.make(original.string(), 0), 0);
        append(copy, "changed");
    }
    EXPECT_EQ(contents(original), "original");
    EXPECT_EQ(entries(dir.path()), 1U);
    SiblingCopy missing;
    EXPECT_EQ(missing.make((dir.path() / "missing.mp3").string(), 0), ENOENT);
}

// An original that another program changes, or replaces, after it was
// copied is left as that program left it, and the copy goes.
TEST(SiblingCopy, LeavesAnOriginalChangedMeanwhile) {
    const struct {
        const char* name;
        void (*change)(const fs::path&);
    } cases[] = {
        {"appended", [](const fs::path& path) { std::ofstream(path, std::ios::binary | std::ios::app) << "x"; }},
        {"replaced", [](const fs::path& path) { put(path.string() + ".new", "original"); fs::rename(path.string() + ".new", path); }},
        {"same size, new content", [](const fs::path& path) { put(path, "ORIGINAL"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TempDir dir;
        const fs::path original = dir.path() / "song.mp3";
        put(original, "original");
        std::string after;
        {
            SiblingCopy copy;
            ASSERT_EQ(copy.make(original.string(), 0), 0);
            append(copy, "tagged");
            ASSERT_EQ(copy.settle(), 0);
            c.change(original);
            after = contents(original);
            EXPECT_EQ(copy.replaceOriginal().result, ReplaceResult::ChangedMeanwhile);
        }
        EXPECT_EQ(contents(original), after);
        EXPECT_EQ(entries(dir.path()), 1U);
    }
}

// The replaced file has exactly the original's extended attributes: what
// the original had is set, what only the copy had is gone.
TEST(SiblingCopy, GivesTheCopyExactlyTheOriginalsAttributes) {
    const testing::TempDir dir;
    const fs::path original = dir.path() / "song.mp3";
    put(original, "original");
    ASSERT_EQ(::setxattr(original.c_str(), "user.rating", "5", 1, 0), 0) << "no user attributes here";
    SiblingCopy copy;
    ASSERT_EQ(copy.make(original.string(), 0), 0);
    append(copy, "tagged");
    ASSERT_EQ(::setxattr(copy.path().c_str(), "user.inherited", "1", 1, 0), 0);
    ASSERT_EQ(copy.replaceOriginal().result, ReplaceResult::Replaced);
    char value[16] = {};
    EXPECT_EQ(::getxattr(original.c_str(), "user.rating", value, sizeof value), 1);
    EXPECT_EQ(std::string(value), "5");
    EXPECT_LT(::getxattr(original.c_str(), "user.inherited", value, sizeof value), 0);
}

// Only a file named as a copy, marked as one, and held by no process is
// removed: a user's file of the same name pattern stays.
TEST(RemoveUnheldCopy, RemovesOnlyMarkedCopiesNoProcessHolds) {
    const testing::TempDir dir;
    const char mark[] = "a copy made by tempo-scan --write-tags";
    const fs::path held = dir.path() / ".a.mp3.tempo-held00";
    const fs::path left = dir.path() / ".b.mp3.tempo-left00";
    const fs::path users = dir.path() / ".setlist.tempo-200bpm";
    const fs::path wrongMark = dir.path() / ".c.mp3.tempo-other0";
    const fs::path markedOtherName = dir.path() / "song.tempo-left00";
    for (const fs::path& path : {held, left, users, wrongMark, markedOtherName}) put(path, "x");
    for (const fs::path& path : {held, left, markedOtherName}) {
        ASSERT_EQ(::setxattr(path.c_str(), "user.tempo-scan.copy", mark, sizeof mark - 1, 0), 0);
    }
    ASSERT_EQ(::setxattr(wrongMark.c_str(), "user.tempo-scan.copy", "mine", 4, 0), 0);
    const int lock = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    EXPECT_FALSE(removeUnheldCopy(held.string()));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(removeUnheldCopy(left.string()));
    EXPECT_FALSE(fs::exists(left));
    for (const fs::path& path : {users, wrongMark, markedOtherName}) {
        EXPECT_FALSE(removeUnheldCopy(path.string())) << path;
        EXPECT_EQ(contents(path), "x") << path;
    }
    ::close(lock);
    EXPECT_TRUE(removeUnheldCopy(held.string()));
    EXPECT_FALSE(removeUnheldCopy((dir.path() / ".gone.mp3.tempo-000000").string()));
}

// What can be told before a copy is made.
TEST(CheckReplaceable, RefusesWhatCouldNotBeReplacedWhole) {
    const testing::TempDir dir;
    const fs::path plain = dir.path() / "plain.mp3";
    const fs::path linked = dir.path() / "linked.mp3";
    put(plain, "x");
    put(linked, "x");
    fs::create_hard_link(linked, dir.path() / "second-name.mp3");
    EXPECT_EQ(checkReplaceable(plain.string(), 1 << 20).block, ReplaceBlock::None);
    EXPECT_EQ(checkReplaceable(linked.string(), 0).block, ReplaceBlock::SeveralHardLinks);
    const ReplaceCheck missing = checkReplaceable((dir.path() / "missing.mp3").string(), 0);
    EXPECT_EQ(missing.block, ReplaceBlock::System);
    EXPECT_EQ(missing.error, ENOENT);
    // No file system here has an exabyte free.
    EXPECT_EQ(checkReplaceable(plain.string(), std::uint64_t{1} << 60).block, ReplaceBlock::NoSpace);
}

// The mode bits hold for everyone, root included: a file without its
// owner's write bit, or in a folder without it, is read-only.
TEST(CheckReplaceable, RespectsTheModeBits) {
    const testing::TempDir dir;
    const fs::path file = dir.path() / "song.mp3";
    const fs::path folder = dir.path() / "album";
    fs::create_directory(folder);
    const fs::path inFolder = folder / "song.mp3";
    put(file, "x");
    put(inFolder, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    EXPECT_EQ(checkReplaceable(file.string(), 0).block, ReplaceBlock::ReadOnly);
    EXPECT_EQ(checkReplaceable(inFolder.string(), 0).block, ReplaceBlock::ReadOnly);
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    EXPECT_EQ(checkReplaceable(file.string(), 0).block, ReplaceBlock::None);
    EXPECT_EQ(checkReplaceable(inFolder.string(), 0).block, ReplaceBlock::None);
}

}  // namespace
}  // namespace tempo::platform
