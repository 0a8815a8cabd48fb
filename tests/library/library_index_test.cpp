#include "library/library_index.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "platform/path.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::scan {
namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs SQL on a file as another program would.
void runSql(const fs::path& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.string().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

int pragmaOf(const fs::path& path, const char* pragma) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    int value = -1;
    if (sqlite3_open(path.string().c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, pragma, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
        value = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

IndexEntry entry(const std::string& key, ScanStatus status) {
    IndexEntry e;
    e.key = key;
    e.record.identity = {0xFFFFFFFFFFFFFFF0ULL, 42, 123456, 1700000000123456789};
    e.record.status = status;
    e.record.method = Method::Accurate;
    e.analysedAt = 1700000001;
    if (status == ScanStatus::Ok) {
        e.record.foundTempo = 127.93;
        e.record.confidence = 0.6178;
        e.record.facts = {245.123456, 44100, 2, "mp3"};
        e.record.beats = {0.1234567891, 0.5876, 1.0517};
        e.record.tempoChanges = {{0.5876, 131.2599}};
        e.record.downbeats = {0.5876};
        e.record.metre = 3;
    }
    return e;
}

void expectSame(const IndexEntry& a, const IndexEntry& b) {
    SCOPED_TRACE(a.key);
    EXPECT_EQ(a.key, b.key);
    EXPECT_EQ(a.record.identity, b.record.identity);
    EXPECT_EQ(a.record.method, b.record.method);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.record.status, b.record.status);
    EXPECT_EQ(a.record.foundTempo, b.record.foundTempo);
    EXPECT_EQ(a.record.beats, b.record.beats);
    EXPECT_EQ(a.record.downbeats, b.record.downbeats);
    EXPECT_EQ(a.record.metre, b.record.metre);
    ASSERT_EQ(a.record.tempoChanges.size(), b.record.tempoChanges.size());
    for (std::size_t i = 0; i < a.record.tempoChanges.size(); ++i) {
        EXPECT_EQ(a.record.tempoChanges[i].at, b.record.tempoChanges[i].at);
        EXPECT_EQ(a.record.tempoChanges[i].bpm, b.record.tempoChanges[i].bpm);
    }
    EXPECT_EQ(a.record.confidence, b.record.confidence);
    EXPECT_EQ(a.record.endsEarly, b.record.endsEarly);
    EXPECT_EQ(a.record.error.failure, b.record.error.failure);
    EXPECT_EQ(a.record.error.code, b.record.error.code);
    EXPECT_EQ(a.record.error.decoder, b.record.error.decoder);
    EXPECT_EQ(a.record.error.decoderLine, b.record.error.decoderLine);
    EXPECT_EQ(a.record.facts.seconds, b.record.facts.seconds);
    EXPECT_EQ(a.record.facts.sampleRate, b.record.facts.sampleRate);
    EXPECT_EQ(a.record.facts.channels, b.record.facts.channels);
    EXPECT_EQ(a.record.facts.codec, b.record.facts.codec);
    EXPECT_EQ(a.tag, b.tag);
    EXPECT_EQ(a.tagBpm, b.tagBpm);
    EXPECT_EQ(a.tagHeld, b.tagHeld);
    EXPECT_EQ(a.analysedAt, b.analysedAt);
}

// A new index is made ours; every kind of row comes back as it went in,
// paths as bytes, doubles to the bit; rows are replaced by path, and the
// ones gone are removed.
TEST(LibraryIndex, KeepsRowsAsTheyWereWritten) {
    const testing::TempDir dir;
    const fs::path file = dir.path() / "index.db";
    std::vector<IndexEntry> rows = {entry("lib/a.mp3", ScanStatus::Ok), entry("lib/b\xff\n.flac", ScanStatus::NoTempo),
                                    entry("lib/c.ogg", ScanStatus::Error), entry("lib/d.xm", ScanStatus::Ok)};
    rows[1].record.method = Method::Classic;
    rows[1].tag = IndexedTag::NotWritten;
    rows[1].tagHeld = "this format's";
    rows[2].record.error = {ScanFailure::NotAudio, 1, "/usr/bin/ffmpeg", "Invalid data found when processing input"};
    rows[3].record.endsEarly = true;
    rows[3].tag = IndexedTag::Kept;
    rows[3].tagBpm = 128;
    rows[3].tagHeld = "99.5";
    rows[0].tag = IndexedTag::Holds;
    rows[0].tagBpm = 64;
    int error = 0;
    {
        LibraryIndex index;
        ASSERT_EQ(index.open(file.string(), error), IndexOpening::Opened);
        ASSERT_EQ(index.write(rows, {}, error), IndexWriting::Written);
        rows[0].record.foundTempo = 64.5;
        ASSERT_EQ(index.write({rows[0]}, {"lib/d.xm", "lib/never.mp3"}, error), IndexWriting::Written);
    }
    EXPECT_EQ(pragmaOf(file, "PRAGMA application_id"), kIndexApplicationId);
    EXPECT_EQ(pragmaOf(file, "PRAGMA user_version"), kIndexSchemaVersion);
    LibraryIndex index;
    ASSERT_EQ(index.open(file.string(), error), IndexOpening::Opened);
    std::vector<IndexEntry> back;
    IndexWriting failure = IndexWriting::Written;
    ASSERT_TRUE(index.load({{"lib", "lib/"}}, back, failure, error));
    ASSERT_EQ(back.size(), 3U);
    for (std::size_t i = 0; i < back.size(); ++i) expectSame(back[i], rows[i]);
}

// Each root covers itself and, as a folder, what lies below it: not a
// sibling whose name merely begins the same way.
TEST(LibraryIndex, LoadsTheRowsUnderEachRoot) {
    const testing::TempDir dir;
    int error = 0;
    LibraryIndex index;
    ASSERT_EQ(index.open((dir.path() / "index.db").string(), error), IndexOpening::Opened);
    std::vector<IndexEntry> rows;
    for (const char* path : {"lib", "lib/a.mp3", "lib/sub/b.mp3", "lib0/c.mp3", "lib.mp3", "libx/d.mp3", "one.flac",
                             "one.flac.more", "other/e.mp3"}) {
        rows.push_back(entry(path, ScanStatus::NoTempo));
    }
    ASSERT_EQ(index.write(rows, {}, error), IndexWriting::Written);
    const struct {
        std::vector<PathRange> ranges;
        std::vector<std::string> paths;
    } cases[] = {
        {{{"lib", "lib/"}}, {"lib", "lib/a.mp3", "lib/sub/b.mp3"}},
        {{{"lib/sub", "lib/sub/"}}, {"lib/sub/b.mp3"}},
        {{{"one.flac", ""}}, {"one.flac"}},
        {{{"one.flac", ""}, {"other", "other/"}}, {"one.flac", "other/e.mp3"}},
        {{{"missing", "missing/"}}, {}},
    };
    for (const auto& c : cases) {
        std::vector<IndexEntry> back;
        IndexWriting failure = IndexWriting::Written;
        ASSERT_TRUE(index.load(c.ranges, back, failure, error));
        std::vector<std::string> paths;
        for (const IndexEntry& e : back) paths.push_back(e.key);
        EXPECT_EQ(paths, c.paths) << c.ranges[0].exact;
    }
}

// What is not ours, damaged or newer is refused before anything is written
// to it, and left byte for byte as it was; an empty file becomes an index.
TEST(LibraryIndex, RefusesWhatIsNotItsOwnAndLeavesItAsItWas) {
    const testing::TempDir dir;
    const fs::path good = dir.path() / "good.db";
    {
        int error = 0;
        LibraryIndex index;
        ASSERT_EQ(index.open(good.string(), error), IndexOpening::Opened);
        std::vector<IndexEntry> rows;
        for (int i = 0; i < 300; ++i) rows.push_back(entry("lib/" + std::to_string(i) + ".mp3", ScanStatus::Ok));
        ASSERT_EQ(index.write(rows, {}, error), IndexWriting::Written);
    }
    const std::string goodBytes = bytesOf(good);
    ASSERT_GT(goodBytes.size(), 8192U);
    const struct {
        const char* name;
        std::string bytes;  // "" where the SQL below makes the file
        std::string sql;
        IndexOpening opening;
    } cases[] = {
        {"song.wav", std::string(4096, 'x') + "RIFF", "", IndexOpening::NotAnIndex},
        {"other.db", "", "CREATE TABLE notes(x); INSERT INTO notes VALUES (1);", IndexOpening::NotAnIndex},
        {"stamped.db", "", "PRAGMA application_id = 1;", IndexOpening::NotAnIndex},
        {"newer.db", "", "PRAGMA application_id = " + std::to_string(kIndexApplicationId) + "; PRAGMA user_version = 99;",
         IndexOpening::Newer},
        // The second page, the table's root, overwritten with noise.
        {"damaged.db", goodBytes.substr(0, 4096) + std::string(4096, '\x5A') + goodBytes.substr(8192), "",
         IndexOpening::Damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.path() / c.name;
        if (c.sql.empty()) {
            ASSERT_TRUE(testing::writeFile(path, testing::Bytes(c.bytes.begin(), c.bytes.end())));
        } else {
            runSql(path, c.sql);
        }
        const std::string before = bytesOf(path);
        int error = 0;
        LibraryIndex index;
        EXPECT_EQ(index.open(path.string(), error), c.opening);
        EXPECT_EQ(bytesOf(path), before);
    }
    const fs::path empty = dir.path() / "empty.db";
    ASSERT_TRUE(testing::writeFile(empty, {}));
    int error = 0;
    LibraryIndex index;
    EXPECT_EQ(index.open(empty.string(), error), IndexOpening::Opened);
    EXPECT_EQ(index.open((dir.path() / "no" / "such" / "folder.db").string(), error), IndexOpening::CannotOpen);
    EXPECT_EQ(error, ENOENT);
}

// Every failure a record can hold is kept under its own name and read
// back as itself, with its detail.
TEST(LibraryIndex, KeepsEveryFailureAsItself) {
    const testing::TempDir dir;
    std::vector<IndexEntry> rows;
    for (int value = 0; scanFailureName(static_cast<ScanFailure>(value)) != nullptr; ++value) {
        IndexEntry row = entry("f" + std::to_string(100 + value), ScanStatus::Error);
        row.record.error = {static_cast<ScanFailure>(value), value + 3, "ffmpeg", "line " + std::to_string(value)};
        rows.push_back(row);
    }
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(ScanFailure::NoAudio) + 1);
    int error = 0;
    LibraryIndex index;
    ASSERT_EQ(index.open((dir.path() / "index.db").string(), error), IndexOpening::Opened);
    ASSERT_EQ(index.write(rows, {}, error), IndexWriting::Written);
    std::vector<IndexEntry> back;
    IndexWriting failure = IndexWriting::Written;
    ASSERT_TRUE(index.load({{"f", "f"}}, back, failure, error));
    ASSERT_EQ(back.size(), rows.size());
    for (std::size_t i = 0; i < back.size(); ++i) {
        SCOPED_TRACE(scanFailureName(rows[i].record.error.failure));
        expectSame(back[i], rows[i]);
    }
}

// An index of schema 1 (2.3.0's) is brought forward with its rows: each
// keyed by its file's key, the rows that named one file by several paths
// made one (the one analysed last), and the rows 2.3.0 may have got wrong
// marked to be analysed again.
TEST(LibraryIndex, BringsAnIndexOfSchemaOneForward) {
    const testing::TempDir dir;
    const fs::path file = dir.path() / "old.db";
    const std::string folder = dir.path().string();
    fs::create_directories(dir.path() / "lib" / "sub");
    std::string columns = "path, device, inode, size, mtime_ns, method, version, status, bpm, tempo, confidence, "
                          "ends_early, error, failure, failure_code, decoder, decoder_line, duration, sample_rate, "
                          "channels, codec, tag, tag_bpm, tag_held, analysed_at, beats, tempo_changes";
    const auto row = [&columns](const std::string& path, const char* codec, const char* status, double duration,
                                int analysedAt) {
        return "INSERT INTO files (" + columns + ") VALUES (CAST('" + path + "' AS BLOB), 1, 2, 3, 4, 'accurate', " +
               std::to_string(kAnalysisVersion) + ", '" +
               status + "', 120, 120.25, 0.5, 0, NULL, NULL, NULL, NULL, NULL, " + std::to_string(duration) +
               ", 44100, 2, '" + codec + "', NULL, NULL, NULL, " + std::to_string(analysedAt) + ", X'', X'');";
    };
    runSql(file, "PRAGMA application_id = " + std::to_string(kIndexApplicationId) + "; PRAGMA user_version = 1;"
                 "CREATE TABLE files (path BLOB PRIMARY KEY NOT NULL, device INTEGER NOT NULL, inode INTEGER NOT NULL,"
                 " size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL, method TEXT NOT NULL, version INTEGER NOT NULL,"
                 " status TEXT NOT NULL, bpm INTEGER, tempo REAL, confidence REAL, ends_early INTEGER NOT NULL,"
                 " error TEXT, failure TEXT, failure_code INTEGER, decoder TEXT, decoder_line TEXT, duration REAL,"
                 " sample_rate INTEGER, channels INTEGER, codec TEXT, tag TEXT, tag_bpm INTEGER, tag_held TEXT,"
                 " analysed_at INTEGER NOT NULL, beats BLOB, tempo_changes BLOB) WITHOUT ROWID;" +
                 row(folder + "/lib/a.flac", "flac", "ok", 30, 10) + row(folder + "/./lib//a.flac", "flac", "ok", 30, 20) +
                 row(folder + "/lib/sub/../a.flac", "flac", "ok", 30, 5) + row(folder + "/lib/b.ogg", "vorbis", "ok", 30, 10) +
                 row(folder + "/lib/c.opus", "opus", "ok", 30, 10) + row(folder + "/lib/d.wav", "pcm_s16le", "no tempo", 0, 10) +
                 row(folder + "/gone/e.mp3", "mp3", "ok", 30, 10) + row("rel/f.mp3", "mp3", "ok", 30, 10));
    int error = 0;
    LibraryIndex index;
    ASSERT_EQ(index.open(file.string(), error), IndexOpening::Opened);
    EXPECT_EQ(pragmaOf(file, "PRAGMA user_version"), kIndexSchemaVersion);
    std::vector<IndexEntry> back;
    IndexWriting failure = IndexWriting::Written;
    int ignored = 0;
    const std::string real = platform::realPath(folder, ignored);
    const std::string here = platform::realPath(".", ignored);
    const auto under = [](const std::string& base, std::initializer_list<const char*> parts) {
        std::string path = base;
        for (const char* part : parts) path = platform::joinPath(path, part);
        return path;
    };
    // Every key begins with "/" here; on Windows the two folders may be on
    // two drives, so each is read as a root of its own.
    const std::string rel = under(here, {"rel"});
    const std::vector<PathRange> everything =
        platform::kPathSeparator == '/' ? std::vector<PathRange>{{"", "/"}}
                                        : std::vector<PathRange>{{real, under(real, {""})}, {rel, under(rel, {""})}};
    ASSERT_TRUE(index.load(everything, back, failure, error));
    const struct {
        std::string key;
        int version;
        std::int64_t analysedAt;
    } expected[] = {
        {under(rel, {"f.mp3"}), kAnalysisVersion, 10},          {under(real, {"gone", "e.mp3"}), kAnalysisVersion, 10},
        {under(real, {"lib", "a.flac"}), kAnalysisVersion, 20}, {under(real, {"lib", "b.ogg"}), 0, 10},
        {under(real, {"lib", "c.opus"}), 0, 10},                {under(real, {"lib", "d.wav"}), 0, 10},
    };
    std::vector<std::pair<std::string, int>> got;
    for (const IndexEntry& e : back) got.emplace_back(e.key, e.version);
    std::sort(got.begin(), got.end());
    std::vector<std::pair<std::string, int>> want;
    for (const auto& e : expected) want.emplace_back(e.key, e.version);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    for (const IndexEntry& e : back) {
        if (e.key == under(real, {"lib", "a.flac"})) {
            EXPECT_EQ(e.analysedAt, 20);
        }
        EXPECT_EQ(e.record.foundTempo, e.record.status == ScanStatus::Ok ? 120.25 : 0.0) << e.key;
    }
}

// A row no tempo-scan writes (a failure by a name it does not know) is
// given as older than any analysis, so it is analysed again.
TEST(LibraryIndex, TakesAStrangeRowForAnOldOne) {
    const testing::TempDir dir;
    const fs::path file = dir.path() / "index.db";
    int error = 0;
    {
        LibraryIndex index;
        ASSERT_EQ(index.open(file.string(), error), IndexOpening::Opened);
        ASSERT_EQ(index.write({entry("a.mp3", ScanStatus::Error), entry("b.mp3", ScanStatus::Error)}, {}, error),
                  IndexWriting::Written);
    }
    runSql(file, "UPDATE files SET failure = 'melted' WHERE path = CAST('a.mp3' AS BLOB)");
    LibraryIndex index;
    ASSERT_EQ(index.open(file.string(), error), IndexOpening::Opened);
    std::vector<IndexEntry> back;
    IndexWriting failure = IndexWriting::Written;
    ASSERT_TRUE(index.load({{"a.mp3", ""}, {"b.mp3", ""}}, back, failure, error));
    ASSERT_EQ(back.size(), 2U);
    EXPECT_EQ(back[0].version, 0);
    EXPECT_EQ(back[1].version, kAnalysisVersion);
}

}  // namespace
}  // namespace tempo::scan
