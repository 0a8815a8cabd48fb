#include "library/index_keys.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "platform/path.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::scan {
namespace {

namespace fs = std::filesystem;

// `parts` joined under `folder` with this system's separator.
std::string under(const std::string& folder, std::initializer_list<const char*> parts) {
    std::string path = folder;
    for (const char* part : parts) path = platform::joinPath(path, part);
    return path;
}

// Every way of writing one file's path gives one key: absolute, with "."
// and ".." and repeated separators resolved, and links to folders as the
// system resolves them; a link to a file keeps its own name, as the walk
// sees it; a folder that is not there is resolved as far as it is.
TEST(IndexKeys, GiveOneKeyForEveryFormOfAPath) {
    const testing::TempDir dir;
    const std::string base = dir.path().string();
    fs::create_directories(dir.path() / "lib" / "sub");
    ASSERT_TRUE(testing::writeFile(dir.path() / "lib" / "x.flac", {1}));
    int error = 0;
    const std::string real = platform::realPath(base, error);
    ASSERT_FALSE(real.empty());
    const std::string sep(1, platform::kPathSeparator);
    const std::string x = under(real, {"lib", "x.flac"});
    const struct {
        std::string path;
        std::string key;
    } cases[] = {
        {under(base, {"lib", "x.flac"}), x},
        {base + sep + "." + sep + "lib" + sep + sep + "x.flac", x},
        {under(base, {"lib", "sub", "..", "x.flac"}), x},
        {under(base, {"lib", ""}), under(real, {"lib"})},
        {under(base, {"lib", "."}), under(real, {"lib"})},
        {under(base, {"lib", "sub", ".."}), under(real, {"lib"})},
        {under(base, {"gone", "a", "..", "b.mp3"}), under(real, {"gone", "b.mp3"})},
        {base + sep + "gone" + sep + sep + "c" + sep + "." + sep + "d.mp3", under(real, {"gone", "c", "d.mp3"})},
        {"", ""},
    };
    IndexKeys keys;
    for (const auto& c : cases) EXPECT_EQ(keys.keyOf(c.path), c.key) << c.path;
#ifndef _WIN32
    // Links: a folder's is resolved, a file's stays the entry it is.
    fs::create_directory_symlink(dir.path() / "lib", dir.path() / "link");
    fs::create_symlink("x.flac", dir.path() / "lib" / "y.flac");
    EXPECT_EQ(keys.keyOf(under(base, {"link", "x.flac"})), x);
    // A root that is a link to a folder: its key is where its files' keys
    // begin.
    EXPECT_EQ(keys.folderKey(under(base, {"link"})), under(real, {"lib"}));
    EXPECT_EQ(keys.folderKey(under(base, {"lib", ""})), under(real, {"lib"}));
    EXPECT_EQ(keys.keyOf(under(base, {"link", "y.flac"})), under(real, {"lib", "y.flac"}));
    // ".." after a link to a folder goes where the system goes: above the
    // folder the link leads to.
    fs::create_directory_symlink(dir.path() / "lib" / "sub", dir.path() / "deep");
    EXPECT_EQ(keys.keyOf(under(base, {"deep", "..", "x.flac"})), x);
#else
    // Folders are one whatever the case they are given in, spelt as their
    // parent holds them (a file's own name stays as the walk lists it), and
    // a key is written as Windows writes a path: "C:\...", never "\\?\C:\...".
    EXPECT_EQ(keys.keyOf(under(base, {"LIB", "x.flac"})), x);
    EXPECT_EQ(keys.keyOf(under(base, {"Lib", "SUB", "..", "x.flac"})), x);
    EXPECT_EQ(x.rfind("\\\\?\\", 0), std::string::npos) << x;
    EXPECT_EQ(x.substr(1, 2), ":\\") << x;
#endif
}

}  // namespace
}  // namespace tempo::scan
