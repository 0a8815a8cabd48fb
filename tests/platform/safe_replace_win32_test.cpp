// The Windows copies: the original kept from other writers while it is
// copied, the refusals made before a copy, and which copies a killed run
// leaves are removed (the mark in the name, the share modes).

#include "platform/safe_replace.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/files.hpp"
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

HANDLE openForWriting(const fs::path& path) {
    return CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// A copy made and put in place: the original's name holds the change and
// its attributes, nothing is left beside it; while the copy is made no
// other program can open the original for writing.
TEST(SiblingCopyWin32, ReplacesTheOriginalAndKeepsWritersOut) {
    const testing::TempDir dir;
    const fs::path original = dir.path() / "song.flac";
    put(original, std::string(10000, 'a'));
    ASSERT_NE(SetFileAttributesW(original.wstring().c_str(), FILE_ATTRIBUTE_ARCHIVE), 0);
    {
        SiblingCopy copy;
        ASSERT_EQ(copy.make(original.string(), 1 << 20), 0);
        EXPECT_EQ(copy.originalIdentity().size, 10000);
        EXPECT_EQ(openForWriting(original), INVALID_HANDLE_VALUE) << "a writer got in";
        append(copy, std::string(10000, 'a'));
        append(copy, "tag");
        EXPECT_TRUE(isSiblingCopyName(nameOf(copy.path())));
        EXPECT_EQ(contents(copy.path()), std::string(10000, 'a') + "tag");
        ASSERT_EQ(copy.settle(), 0);
        EXPECT_EQ(copy.replaceOriginal().result, ReplaceResult::Replaced);
    }
    EXPECT_EQ(contents(original), std::string(10000, 'a') + "tag");
    EXPECT_NE(GetFileAttributesW(original.wstring().c_str()) & FILE_ATTRIBUTE_ARCHIVE, 0U);
    EXPECT_EQ(entries(dir.path()), 1U);
    const HANDLE writer = openForWriting(original);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "the original stayed held";
    CloseHandle(writer);
}

// A copy never put in place goes with its object; the original stays. A
// file another program holds for writing is not copied at all.
TEST(SiblingCopyWin32, LeavesNothingWhenNotReplacedOrHeld) {
    const testing::TempDir dir;
    const fs::path original = dir.path() / "song.mp3";
    put(original, "original");
    {
        SiblingCopy copy;
        ASSERT_EQ(copy.make(original.string(), 0), 0);
        append(copy, "changed");
        EXPECT_EQ(entries(dir.path()), 2U);
    }
    EXPECT_EQ(contents(original), "original");
    EXPECT_EQ(entries(dir.path()), 1U);
    const HANDLE writer = openForWriting(original);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    {
        SiblingCopy copy;
        const int error = copy.make(original.string(), 0);
        EXPECT_EQ(error, EBUSY);
        EXPECT_EQ(systemReason(error), "in use by another program");
    }
    CloseHandle(writer);
    EXPECT_EQ(entries(dir.path()), 1U);
    SiblingCopy missing;
    EXPECT_EQ(missing.make((dir.path() / "missing.mp3").string(), 0), ENOENT);
}

// An original another program moves away, or puts another file in the
// place of, after it was copied is left as that program left it.
TEST(SiblingCopyWin32, LeavesAnOriginalChangedMeanwhile) {
    const struct {
        const char* name;
        bool newFile;  // a new file is put under the original's name
    } cases[] = {{"moved away", false}, {"moved away, another put in its place", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TempDir dir;
        const fs::path original = dir.path() / "song.mp3";
        const fs::path moved = dir.path() / "moved.mp3";
        put(original, "original");
        {
            SiblingCopy copy;
            ASSERT_EQ(copy.make(original.string(), 0), 0);
            append(copy, "tagged");
            ASSERT_EQ(copy.settle(), 0);
            ASSERT_NE(MoveFileExW(original.wstring().c_str(), moved.wstring().c_str(), 0), 0);
            if (c.newFile) put(original, "original");
            EXPECT_EQ(copy.replaceOriginal().result, ReplaceResult::ChangedMeanwhile);
        }
        EXPECT_EQ(contents(moved), "original");
        EXPECT_EQ(fs::exists(original), c.newFile);
        if (c.newFile) {
            EXPECT_EQ(contents(original), "original");
        }
        EXPECT_EQ(entries(dir.path()), c.newFile ? 2U : 1U);
    }
}

// A copy a killed run left, made here as a kill leaves one: a second name
// keeps the copy's file when its object goes, and is then moved to the
// copy's own name. Only that file, held by no process, is removed.
TEST(RemoveUnheldCopyWin32, RemovesOnlyMarkedCopiesNoProcessHolds) {
    const testing::TempDir dir;
    const fs::path original = dir.path() / "a.mp3";
    const fs::path kept = dir.path() / "kept";
    put(original, "original");
    std::string left;
    {
        SiblingCopy copy;
        ASSERT_EQ(copy.make(original.string(), 0), 0);
        append(copy, "tagged");
        left = copy.path();
        EXPECT_FALSE(removeUnheldCopy(left)) << "a copy this process holds";
        ASSERT_NE(CreateHardLinkW(kept.wstring().c_str(), fs::path(left).wstring().c_str(), nullptr), 0);
    }
    ASSERT_FALSE(fs::exists(left));
    ASSERT_NE(MoveFileExW(kept.wstring().c_str(), fs::path(left).wstring().c_str(), 0), 0);
    const fs::path users = dir.path() / (siblingCopyPrefix("a.mp3") + "200bpm");
    const fs::path renamed = dir.path() / (siblingCopyPrefix("b.mp3") + nameOf(left).substr(nameOf(left).size() - 6));
    put(users, "x");
    put(renamed, "x");
    for (const fs::path& path : {users, renamed}) {
        EXPECT_FALSE(removeUnheldCopy(path.string())) << path;
        EXPECT_EQ(contents(path), "x") << path;
    }
    {
        const HANDLE reader = CreateFileW(fs::path(left).wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(removeUnheldCopy(left)) << "a copy another program holds";
        CloseHandle(reader);
    }
    EXPECT_TRUE(removeUnheldCopy(left));
    EXPECT_FALSE(fs::exists(left));
    EXPECT_FALSE(removeUnheldCopy(left));
}

// What can be told before a copy is made: the read-only attribute, several
// names, room; a missing file.
TEST(CheckReplaceableWin32, RefusesWhatCouldNotBeReplacedWhole) {
    const testing::TempDir dir;
    const fs::path plain = dir.path() / "plain.mp3";
    const fs::path readOnly = dir.path() / "read-only.mp3";
    const fs::path linked = dir.path() / "linked.mp3";
    for (const fs::path& path : {plain, readOnly, linked}) put(path, "x");
    ASSERT_NE(SetFileAttributesW(readOnly.wstring().c_str(), FILE_ATTRIBUTE_READONLY), 0);
    fs::create_hard_link(linked, dir.path() / "second-name.mp3");
    const struct {
        fs::path path;
        std::uint64_t headroom;
        ReplaceBlock block;
    } cases[] = {
        {plain, 1 << 20, ReplaceBlock::None},
        {readOnly, 0, ReplaceBlock::ReadOnly},
        {linked, 0, ReplaceBlock::SeveralHardLinks},
        {dir.path() / "missing.mp3", 0, ReplaceBlock::System},
        // No file system here has an exabyte free.
        {plain, std::uint64_t{1} << 60, ReplaceBlock::NoSpace},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(checkReplaceable(c.path.string(), c.headroom).block, c.block) << c.path << " " << c.headroom;
    }
    EXPECT_EQ(checkReplaceable((dir.path() / "missing.mp3").string(), 0).error, ENOENT);
    SetFileAttributesW(readOnly.wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace tempo::platform
