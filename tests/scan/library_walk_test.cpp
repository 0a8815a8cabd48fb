#include "scan/library_walk.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

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

#ifndef _WIN32
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
    const std::string r = root.string();
    const Library library = listLibrary({r, r + "/b.ogg", r + "/a/notes.txt", r + "/missing.txt"});
    const std::vector<std::string> expected = {
        r + "/B/deep/deeper/x.flac", r + "/B/z.mp3", r + "/a/new\nline.wav", r + "/a/notes.txt",
        r + "/a/y.WAV", r + "/a/\xc3\xa9.wav", r + "/a/\xff\xfe.wav", r + "/b.ogg",
        r + "/link.mp3", r + "/missing.txt", r + "/pipe.wav",
    };
    EXPECT_EQ(library.files, expected);
    EXPECT_TRUE(library.unread.empty());
}

#else
// The same walk on Windows: nested folders, a Unicode name, a name with
// spaces and &, a hidden file, and a path deeper than 260 characters come
// out as Windows writes them (backslashes, UTF-8 from UTF-16), in the
// order the same tree has elsewhere (the separator counts as '/', so
// "a\x" comes before "a0").
TEST(ListLibrary, WalksTheTreeInTheSameOrderAsElsewhere) {
    testing::TempDir dir;
    const fs::path root = dir.path() / "lib";
    std::wstring deep = L"deep";
    while (deep.size() < 300) deep += L"\\" + std::wstring(40, L'd');
    const std::wstring longPrefix = L"\\\\?\\";
    fs::create_directories(root / L"a");
    fs::create_directories(root / L"B");
    fs::create_directories(fs::path(longPrefix + (root / deep).wstring()));
    const std::wstring names[] = {L"a\\x.flac", L"a0.wav", L"B\\z.mp3", L"caf\u00e9 & co.mp3",
                                  L"m\u00fasica \u30c6.ogg", L"hidden.wav", L"notes.txt"};
    for (const std::wstring& name : names) ASSERT_TRUE(testing::writeFile(root / name, {1}));
    ASSERT_TRUE(testing::writeFile(fs::path(longPrefix + (root / deep / L"far.wav").wstring()), {1}));
    SetFileAttributesW((root / L"hidden.wav").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    const std::string r = root.u8string();
    const std::string deepText = fs::path(deep).u8string();
    const Library library = listLibrary({r});
    const std::vector<std::string> expected = {
        r + "\\B\\z.mp3",
        r + "\\a\\x.flac",
        r + "\\a0.wav",
        r + "\\caf\xc3\xa9 & co.mp3",
        r + "\\" + deepText + "\\far.wav",
        r + "\\hidden.wav",
        r + "\\m\xc3\xbasica \xe3\x83\x86.ogg",
    };
    EXPECT_EQ(library.files, expected);
    EXPECT_TRUE(library.unread.empty());
}
#endif

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
