#include "library/library_index.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

IndexEntry entry(const std::string& path, ScanStatus status) {
    IndexEntry e;
    e.path = path;
    e.identity = {0xFFFFFFFFFFFFFFF0ULL, 42, 123456, 1700000000123456789};
    e.status = status;
    e.analysedAt = 1700000001;
    if (status == ScanStatus::Ok) {
        e.tempo = 127.93;
        e.confidence = 0.6178;
        e.facts = {245.123456, 44100, 2, "mp3"};
        e.beats = {0.1234567891, 0.5876, 1.0517};
        e.tempoChanges = {{0.5876, 131.2599}};
    }
    return e;
}

void expectSame(const IndexEntry& a, const IndexEntry& b) {
    SCOPED_TRACE(a.path);
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.identity, b.identity);
    EXPECT_EQ(a.method, b.method);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.tempo, b.tempo);
    EXPECT_EQ(a.beats, b.beats);
    ASSERT_EQ(a.tempoChanges.size(), b.tempoChanges.size());
    for (std::size_t i = 0; i < a.tempoChanges.size(); ++i) {
        EXPECT_EQ(a.tempoChanges[i].at, b.tempoChanges[i].at);
        EXPECT_EQ(a.tempoChanges[i].bpm, b.tempoChanges[i].bpm);
    }
    EXPECT_EQ(a.confidence, b.confidence);
    EXPECT_EQ(a.endsEarly, b.endsEarly);
    EXPECT_EQ(a.error.failure, b.error.failure);
    EXPECT_EQ(a.error.code, b.error.code);
    EXPECT_EQ(a.error.decoder, b.error.decoder);
    EXPECT_EQ(a.error.decoderLine, b.error.decoderLine);
    EXPECT_EQ(a.facts.seconds, b.facts.seconds);
    EXPECT_EQ(a.facts.sampleRate, b.facts.sampleRate);
    EXPECT_EQ(a.facts.channels, b.facts.channels);
    EXPECT_EQ(a.facts.codec, b.facts.codec);
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
    rows[1].method = Method::Classic;
    rows[1].tag = IndexedTag::NotWritten;
    rows[1].tagHeld = "this format's";
    rows[2].error = {ScanFailure::NotAudio, 1, "/usr/bin/ffmpeg", "Invalid data found when processing input"};
    rows[3].endsEarly = true;
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
        rows[0].tempo = 64.5;
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
        for (const IndexEntry& e : back) paths.push_back(e.path);
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
