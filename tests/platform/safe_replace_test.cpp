#include "platform/safe_replace.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/path.hpp"
#include "tests/support/temp_dir.hpp"

namespace tempo::platform {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A copy beside the file, changed and put in place: the original's name
// then holds the change with the original's mode, nothing is left beside
// it, and no block stays reserved past its end.
TEST(SiblingCopy, ReplacesTheOriginalWithTheCopy) {
    const testing::TempDir dir;
    const fs::path original = dir.path() / "song.flac";
    put(original, std::string(10000, 'a'));
    ASSERT_EQ(::chmod(original.c_str(), 0640), 0);
    {
        SiblingCopy copy;
        ASSERT_EQ(copy.make(original.string(), 1 << 20), 0);
        EXPECT_TRUE(isSiblingCopyName(nameOf(copy.path())));
        EXPECT_EQ(folderOf(copy.path()), dir.path().string());
        EXPECT_EQ(contents(copy.path()), std::string(10000, 'a'));
        put(copy.path(), std::string(10000, 'a') + "tag");
        ASSERT_EQ(copy.settle(), 0);
        struct stat settled {};
        ASSERT_EQ(::stat(copy.path().c_str(), &settled), 0);
        EXPECT_LE(settled.st_blocks * 512, (settled.st_size + settled.st_blksize - 1) / settled.st_blksize * settled.st_blksize);
        ASSERT_EQ(copy.replaceOriginal(), 0);
    }
    EXPECT_EQ(contents(original), std::string(10000, 'a') + "tag");
    struct stat status {};
    ASSERT_EQ(::stat(original.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640U);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// A copy never put in place goes with its object; the original stays.
TEST(SiblingCopy, LeavesNothingWhenNotReplaced) {
    const testing::TempDir dir;
    const fs::path original = dir.path() / "song.mp3";
    put(original, "original");
    {
        SiblingCopy copy;
        ASSERT_EQ(copy.make(original.string(), 0), 0);
        put(copy.path(), "changed");
    }
    EXPECT_EQ(contents(original), "original");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    SiblingCopy missing;
    EXPECT_EQ(missing.make((dir.path() / "missing.mp3").string(), 0), ENOENT);
}

// A copy whose maker still holds its lock stays; one nobody holds goes.
TEST(RemoveUnheldCopy, RemovesOnlyWhatNoProcessHolds) {
    const testing::TempDir dir;
    const fs::path held = dir.path() / ".a.mp3.tempo-held00";
    const fs::path left = dir.path() / ".b.mp3.tempo-left00";
    put(held, "x");
    put(left, "x");
    const int lock = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    EXPECT_FALSE(removeUnheldCopy(held.string()));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(removeUnheldCopy(left.string()));
    EXPECT_FALSE(fs::exists(left));
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

}  // namespace
}  // namespace tempo::platform
