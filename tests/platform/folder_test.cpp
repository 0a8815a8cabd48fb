#include "platform/folder.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::platform {
namespace {

namespace fs = std::filesystem;

std::map<std::string, EntryKind> listed(const fs::path& folder, bool& whole, int& error) {
    std::vector<FolderEntry> entries;
    whole = readFolder(folder.u8string(), entries, error);
    std::map<std::string, EntryKind> kinds;
    for (const FolderEntry& entry : entries) kinds[entry.name] = entry.kind;
    return kinds;
}

// Every entry but "." and "..", each with its kind; nothing is followed or
// left out here (that is the walk's business).
TEST(ReadFolder, ListsEveryEntryWithItsKind) {
    const testing::TempDir dir;
    fs::create_directories(dir.path() / "sub");
    ASSERT_TRUE(testing::writeFile(dir.path() / "a.wav", {1}));
    ASSERT_TRUE(testing::writeFile(dir.path() / ".hidden", {1}));
    std::map<std::string, EntryKind> expected = {
        {"sub", EntryKind::Folder}, {"a.wav", EntryKind::Other}, {".hidden", EntryKind::Other}};
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir.path() / "pipe.wav").c_str(), 0600), 0);
    fs::create_symlink(dir.path() / "a.wav", dir.path() / "to-file.wav");
    fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling.wav");
    fs::create_directory_symlink(dir.path() / "sub", dir.path() / "to-sub");
    expected.insert({{"pipe.wav", EntryKind::Other},
                     {"to-file.wav", EntryKind::Other},
                     {"dangling.wav", EntryKind::Other},
                     {"to-sub", EntryKind::LinkToFolder}});
#endif
    bool whole = false;
    int error = 0;
    EXPECT_EQ(listed(dir.path(), whole, error), expected);
    EXPECT_TRUE(whole);
    EXPECT_TRUE(isFolder((dir.path() / "sub").u8string()));
    EXPECT_FALSE(isFolder((dir.path() / "a.wav").u8string()));
}

TEST(ReadFolder, SaysWhyAFolderCannotBeRead) {
    const testing::TempDir dir;
    ASSERT_TRUE(testing::writeFile(dir.path() / "a.wav", {1}));
    bool whole = true;
    int error = 0;
    EXPECT_TRUE(listed(dir.path() / "missing", whole, error).empty());
    EXPECT_FALSE(whole);
    EXPECT_EQ(error, ENOENT);
#ifndef _WIN32
    error = 0;
    listed(dir.path() / "a.wav", whole, error);
    EXPECT_FALSE(whole);
    EXPECT_EQ(error, ENOTDIR);
#endif
}

}  // namespace
}  // namespace tempo::platform
