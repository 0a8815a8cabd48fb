#include "scan/library_walk.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::scan {
namespace {

namespace fs = std::filesystem;

TEST(HasAudioExtension, KnowsTheAudioExtensionsInAnyCase) {
    const struct {
        const char* path;
        bool audio;
    } cases[] = {
        {"a.wav", true},       {"a.WAV", true},       {"dir/b.Flac", true}, {"c.mp3", true},
        {"d.opus", true},      {"e.m4a", true},       {"f.aiff", true},     {"g.webm", true},
        {"h.txt", false},      {"wav", false},        {"i.wav.bak", false}, {"dir.wav/readme", false},
        {"j.", false},         {"k.wav2", false},     {".wav", true},       {"x/y.AifC", true},
    };
    for (const auto& c : cases) EXPECT_EQ(hasAudioExtension(c.path), c.audio) << c.path;
}

// A tree with nested folders, links to files and to folders, a loop, a
// FIFO, names with newlines and bytes that are not UTF-8: audio entries
// come out once each, sorted by bytes, and no link to a folder is walked.
TEST(ListLibrary, WalksTheTreeInByteOrder) {
    testing::TempDir dir;
    const fs::path root = dir.path() / "lib";
    fs::create_directories(root / "B" / "deep" / "deeper");
    fs::create_directories(root / "a");
    for (const char* name : {"B/deep/deeper/x.flac", "B/z.mp3", "a/y.WAV", "a/notes.txt", "b.ogg",
                             "a/new\nline.wav", "a/\xff\xfe.wav", "a/\xc3\xa9.wav"}) {
        ASSERT_TRUE(testing::writeFile(root / name, {1}));
    }
    ASSERT_EQ(::mkfifo((root / "pipe.wav").c_str(), 0600), 0);
    fs::create_symlink(root / "b.ogg", root / "link.mp3");
    fs::create_directory_symlink(root, root / "B" / "loop.wav");
    fs::create_directory_symlink(root / "a", root / "to-a");
    std::vector<std::string> warnings;
    const std::string r = root.string();
    const std::vector<std::string> files =
        listLibrary({r, r + "/b.ogg", r + "/a/notes.txt", r + "/missing.txt"},
                    [&warnings](const std::string& warning) { warnings.push_back(warning); });
    const std::vector<std::string> expected = {
        r + "/B/deep/deeper/x.flac", r + "/B/z.mp3", r + "/a/new\nline.wav", r + "/a/notes.txt",
        r + "/a/y.WAV", r + "/a/\xc3\xa9.wav", r + "/a/\xff\xfe.wav", r + "/b.ogg",
        r + "/link.mp3", r + "/missing.txt", r + "/pipe.wav",
    };
    EXPECT_EQ(files, expected);
    EXPECT_TRUE(warnings.empty());
}

TEST(KeepShard, SplitsTheListWithoutOverlap) {
    const std::vector<std::string> files = {"a", "b", "c", "d", "e", "f", "g"};
    const struct {
        unsigned index, count;
        std::vector<std::string> kept;
    } cases[] = {
        {0, 1, files}, {0, 3, {"a", "d", "g"}}, {1, 3, {"b", "e"}}, {2, 3, {"c", "f"}}, {6, 9, {"g"}}, {7, 8, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(keepShard(files, c.index, c.count), c.kept) << c.index << "/" << c.count;
}

}  // namespace
}  // namespace tempo::scan
