#include "library/library_walk.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
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
        {"song.mod", true},    {"song.XM", true},     {"a.s3m", true},      {"a.it", true},
        {"chip.vgm", true},    {"a.mpc", true},       {"a.dsf", true},      {"notes.pdf", false},
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

#ifndef _WIN32
std::vector<std::string> namesBelow(const Library& library, const std::string& root) {
    std::vector<std::string> names;
    for (const std::string& file : library.files) names.push_back(file.substr(root.size() + 1));
    return names;
}

// Below each folder named: hidden names skipped unless asked for, what an
// exclude pattern matches left out (a folder with all below it), and only
// the extensions asked for; the paths named themselves always count.
TEST(ListLibrary, KeepsToTheCollectionRules) {
    testing::TempDir dir;
    const fs::path root = dir.path() / "lib";
    for (const char* name : {"a.mp3", "._a.mp3", ".Trash/b.mp3", "live/c.flac", "live/sub/d.flac", "e.xm",
                             "f.opus", "g.MOD", "notes.txt", "x/.hidden/h.mp3", "x/live/i.mp3", "x/j.tmp.mp3"}) {
        fs::create_directories((root / name).parent_path());
        ASSERT_TRUE(testing::writeFile(root / name, {1}));
    }
    const std::vector<std::string> tree = {"a.mp3", "._a.mp3", ".Trash/b.mp3", "live/c.flac", "live/sub/d.flac",
                                           "e.xm", "f.opus", "g.MOD", "notes.txt", "x/.hidden/h.mp3", "x/live/i.mp3",
                                           "x/j.tmp.mp3"};
    const std::string r = root.string();
    const auto rules = [](bool hidden, std::vector<std::string> excludes, std::vector<std::string> extensions) {
        CollectionRules made;
        made.hidden = hidden;
        for (const std::string& text : excludes) {
            GlobPattern pattern;
            EXPECT_TRUE(compileGlob(text, "/", pattern));
            made.excludes.push_back(pattern);
        }
        if (!extensions.empty()) made.extensions = std::move(extensions);
        return made;
    };
    const struct {
        const char* what;
        CollectionRules rules;
        std::vector<std::string> names;
    } cases[] = {
        {"defaults", rules(false, {}, {}),
         {"a.mp3", "e.xm", "f.opus", "g.MOD", "live/c.flac", "live/sub/d.flac", "x/j.tmp.mp3", "x/live/i.mp3"}},
        {"hidden", rules(true, {}, {}),
         {".Trash/b.mp3", "._a.mp3", "a.mp3", "e.xm", "f.opus", "g.MOD", "live/c.flac", "live/sub/d.flac",
          "x/.hidden/h.mp3", "x/j.tmp.mp3", "x/live/i.mp3"}},
        {"a name at any depth", rules(false, {"live"}, {}), {"a.mp3", "e.xm", "f.opus", "g.MOD", "x/j.tmp.mp3"}},
        {"a folder from the root", rules(false, {"/live"}, {}),
         {"a.mp3", "e.xm", "f.opus", "g.MOD", "x/j.tmp.mp3", "x/live/i.mp3"}},
        {"any depth below", rules(false, {"live/**/*.flac", "*.tmp.*"}, {}),
         {"a.mp3", "e.xm", "f.opus", "g.MOD", "x/live/i.mp3"}},
        {"one level below", rules(false, {"live/*/*.flac"}, {}),
         {"a.mp3", "e.xm", "f.opus", "g.MOD", "live/c.flac", "x/j.tmp.mp3", "x/live/i.mp3"}},
        {"extensions", rules(false, {}, {"mp3", "mod"}), {"a.mp3", "g.MOD", "x/j.tmp.mp3", "x/live/i.mp3"}},
        {"all at once", rules(true, {".Trash/", "x"}, {"mp3"}), {"._a.mp3", "a.mp3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(namesBelow(listLibrary({r}, c.rules), r), c.names);
        // What an index asks of a file it cannot see: the walk's answer.
        for (const std::string& name : tree) {
            const bool listed = std::find(c.names.begin(), c.names.end(), name) != c.names.end();
            EXPECT_EQ(collectionIncludes(c.rules, name), listed) << name;
        }
    }
    // Named, a hidden or excluded file still counts.
    const Library named = listLibrary({r + "/._a.mp3", r + "/notes.txt"}, rules(false, {"*"}, {"flac"}));
    EXPECT_EQ(named.files, (std::vector<std::string>{r + "/._a.mp3", r + "/notes.txt"}));
}

// What the walk found where each root was given: a folder with entries
// (even none that count), one with none at all, a file, nothing, and a
// folder that cannot be read (no empty one: it is named as unread).
TEST(ListLibrary, SaysWhatItFoundAtEachRoot) {
    testing::TempDir dir;
    fs::create_directories(dir.path() / "full" / "sub");
    fs::create_directories(dir.path() / "empty");
    fs::create_directories(dir.path() / "locked");
    ASSERT_TRUE(testing::writeFile(dir.path() / "full" / "notes.txt", {1}));
    ASSERT_TRUE(testing::writeFile(dir.path() / "song.mp3", {1}));
    ASSERT_TRUE(testing::writeFile(dir.path() / "locked" / "a.mp3", {1}));
    const std::string r = dir.path().string();
    const bool asRoot = ::geteuid() == 0;
    ::chmod((dir.path() / "locked").c_str(), 0);
    const Library library = listLibrary({r + "/full", r + "/empty", r + "/song.mp3", r + "/gone", r + "/locked"});
    ::chmod((dir.path() / "locked").c_str(), 0755);
    ASSERT_EQ(library.roots.size(), 5U);
    const struct {
        RootSight sight;
        int error;
    } expected[] = {{RootSight::Folder, 0}, {RootSight::Empty, 0}, {RootSight::File, 0}, {RootSight::Missing, ENOENT},
                    {RootSight::Folder, 0}};
    for (std::size_t i = 0; i < library.roots.size(); ++i) {
        SCOPED_TRACE(library.roots[i].path);
        EXPECT_EQ(library.roots[i].sight, expected[i].sight);
        EXPECT_EQ(library.roots[i].error, expected[i].error);
    }
    // Permissions do not stop root, for whom it is a folder like any other.
    ASSERT_EQ(library.unread.size(), asRoot ? 0U : 1U);
    if (!asRoot) {
        EXPECT_EQ(library.unread[0].folder, r + "/locked");
    }
}

// The same file reached twice (named twice, through "./", a link or a hard
// link) is one file, under its first path in byte order; a path that
// names nothing stays, to be reported.
TEST(KeepEachFileOnce, KeepsTheFirstPathOfEachFile) {
    testing::TempDir dir;
    const std::string r = dir.path().string();
    ASSERT_TRUE(testing::writeFile(dir.path() / "b.mp3", {1}));
    ASSERT_TRUE(testing::writeFile(dir.path() / "c.mp3", {1, 2}));
    fs::create_symlink(dir.path() / "b.mp3", dir.path() / "a-link.mp3");
    fs::create_hard_link(dir.path() / "c.mp3", dir.path() / "d-hard.mp3");
    const std::vector<std::string> paths = {r + "/./b.mp3", r + "/a-link.mp3", r + "/b.mp3", r + "/c.mp3",
                                            r + "/d-hard.mp3", r + "/missing.mp3", r + "/missing.mp3"};
    const std::vector<ListedFile> files = keepEachFileOnce(paths);
    ASSERT_EQ(files.size(), 4U);
    EXPECT_EQ(files[0].path, r + "/./b.mp3");
    EXPECT_EQ(files[0].identity.size, 1);
    EXPECT_EQ(files[1].path, r + "/c.mp3");
    EXPECT_EQ(files[1].identity.size, 2);
    EXPECT_EQ(files[2].path, r + "/missing.mp3");
    EXPECT_FALSE(files[2].known);
    EXPECT_EQ(files[3].path, r + "/missing.mp3");
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
