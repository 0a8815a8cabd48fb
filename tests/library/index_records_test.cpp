#include "library/index_records.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "input/glob.hpp"
#include "platform/path.hpp"
#include "scan/report.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::scan {
namespace {

const platform::FileIdentity kIdentity{7, 1234, 5000, 1700000000123456789};

IndexEntry okEntry() {
    IndexEntry entry;
    entry.key = "/music/lib/a.flac";
    entry.record.identity = kIdentity;
    entry.record.method = Method::Accurate;
    entry.record.status = ScanStatus::Ok;
    entry.record.foundTempo = 120.4;
    entry.record.confidence = 0.81;
    entry.record.facts = {183.5, 44100, 2, "flac"};
    return entry;
}

IndexEntry failedEntry(ScanFailure failure, const std::string& decoder) {
    IndexEntry entry = okEntry();
    entry.record.status = ScanStatus::Error;
    entry.record.confidence.reset();
    entry.record.error = {failure, 1, decoder, "Invalid data found when processing input"};
    return entry;
}

IndexEntry withTag(IndexEntry entry, IndexedTag tag, int bpm, const std::string& held = "") {
    entry.tag = tag;
    entry.tagBpm = bpm;
    entry.tagHeld = held;
    return entry;
}

// A row stands for an analysis only of the same file, by the same method
// and version; an error only where the file itself is the cause and the
// same decoder met it; with tags, only where the tag's outcome is known.
TEST(EntryServes, OnlyForTheSameFileMethodAndVersion) {
    const ListedFile listed{"lib/a.flac", true, kIdentity};
    const auto changed = [](std::uint64_t device, std::uint64_t inode, std::int64_t size, std::int64_t ns) {
        return ListedFile{"lib/a.flac", true, {device, inode, size, ns}};
    };
    IndexUse plain;
    plain.decoder = "ffmpeg";
    IndexUse classic = plain;
    classic.method = Method::Classic;
    IndexUse tags = plain;
    tags.writeTags = true;
    IndexUse overwrite = tags;
    overwrite.overwriteTags = true;
    IndexUse ranged = tags;
    ranged.range = {100, 200};
    IndexEntry old = okEntry();
    old.version = kAnalysisVersion - 1;
    IndexEntry none = okEntry();
    none.record.status = ScanStatus::NoTempo;
    const struct {
        const char* what;
        IndexEntry entry;
        ListedFile file;
        IndexUse use;
        bool serves;
    } cases[] = {
        {"unchanged", okEntry(), listed, plain, true},
        {"other size", okEntry(), changed(7, 1234, 5001, kIdentity.modifiedNs), plain, false},
        {"other time", okEntry(), changed(7, 1234, 5000, kIdentity.modifiedNs + 1), plain, false},
        {"other inode", okEntry(), changed(7, 1235, 5000, kIdentity.modifiedNs), plain, false},
        {"other device", okEntry(), changed(8, 1234, 5000, kIdentity.modifiedNs), plain, false},
        {"status unknown now", okEntry(), ListedFile{"lib/a.flac", false, {}}, plain, false},
        {"other method", okEntry(), listed, classic, false},
        {"older analysis", old, listed, plain, false},
        {"not audio, same decoder", failedEntry(ScanFailure::NotAudio, "ffmpeg"), listed, plain, true},
        {"not audio, other decoder", failedEntry(ScanFailure::NotAudio, "/opt/ffmpeg"), listed, plain, false},
        {"empty", failedEntry(ScanFailure::Empty, ""), listed, plain, true},
        {"timed out", failedEntry(ScanFailure::TimedOut, "ffmpeg"), listed, plain, false},
        {"decoder missing", failedEntry(ScanFailure::DecoderMissing, "ffmpeg"), listed, plain, false},
        {"permission", failedEntry(ScanFailure::System, ""), listed, plain, false},
        {"tags, tag unknown", okEntry(), listed, tags, false},
        {"tags, holds it", withTag(okEntry(), IndexedTag::Holds, 120), listed, tags, true},
        {"tags, holds another", withTag(okEntry(), IndexedTag::Holds, 60), listed, tags, false},
        {"tags, another kept", withTag(okEntry(), IndexedTag::Kept, 120, "99.5"), listed, tags, true},
        {"tags, another to overwrite", withTag(okEntry(), IndexedTag::Kept, 120, "99.5"), listed, overwrite, false},
        {"tags, format not written", withTag(okEntry(), IndexedTag::NotWritten, 60, "WebM"), listed, overwrite, true},
        {"tags, holds it, overwrite", withTag(okEntry(), IndexedTag::Holds, 120), listed, overwrite, true},
        {"tags in a range", withTag(okEntry(), IndexedTag::Holds, 120), listed, ranged, true},
        {"tags, no tempo", none, listed, tags, true},
        {"tags, an error", failedEntry(ScanFailure::Empty, ""), listed, tags, true},
    };
    for (const auto& c : cases) EXPECT_EQ(entryServes(c.entry, c.file, c.use), c.serves) << c.what;
}

// A record kept in a row and given back reads, in every format, as the
// record itself: the row keeps the tempo as found, and the range of the run
// that reads it is applied then.
TEST(IndexRecords, GiveBackTheRecordThatMadeThem) {
    ScanRecord ok;
    ok.path = "lib/\xff odd,\"name\".flac";
    ok.status = ScanStatus::Ok;
    ok.foundTempo = 87.6;
    ok.tempo = 87.6;
    ok.bpm = 88;
    ok.beats = {0.5, 1.185, 1.8702};
    ok.tempoChanges = {{1.185, 95.25}};
    ok.downbeats = {1.185};
    ok.metre = 2;
    ok.method = Method::Accurate;
    ok.confidence = 0.437;
    ok.endsEarly = true;
    ok.identity = kIdentity;
    ok.facts = {61.25, 48000, 6, "flac"};
    ScanRecord none = ok;
    none.status = ScanStatus::NoTempo;
    none.foundTempo = 0.0;
    none.tempo = 0.0;
    none.beats.clear();
    none.tempoChanges.clear();
    none.downbeats.clear();
    none.metre = 0;
    none.bpm = 0;
    none.endsEarly = false;
    ScanRecord failed = ok;
    failed.status = ScanStatus::Error;
    failed.confidence.reset();
    failed.facts = {};
    failed.error = {ScanFailure::EndsEarly, 1, "/usr/bin/ffmpeg", "End of file"};
    ScanRecord classic = ok;
    classic.method = Method::Classic;
    classic.confidence.reset();
    IndexUse use;
    for (const ScanRecord* record : {&ok, &none, &failed, &classic}) {
        IndexEntry entry;
        ASSERT_TRUE(entryOfRecord(*record, "/music/lib/x.flac", 1700000000, record->identity, entry));
        EXPECT_EQ(entry.key, "/music/lib/x.flac");
        EXPECT_EQ(entry.analysedAt, 1700000000);
        const ScanRecord back = recordOfEntry(entry, record->path, use);
        for (ReportFormat format : {ReportFormat::Tsv, ReportFormat::Csv, ReportFormat::Jsonl}) {
            EXPECT_EQ(formatRecord(format, back), formatRecord(format, *record));
        }
        // The precise tempo, the beats, the tempo changes and the bars come
        // back too.
        EXPECT_EQ(formatRecord(ReportFormat::Jsonl, back, false, 2, record->method == Method::Accurate),
                  formatRecord(ReportFormat::Jsonl, *record, false, 2, record->method == Method::Accurate));
    }
    IndexEntry entry;
    ASSERT_TRUE(entryOfRecord(ok, "/music/lib/x.flac", 0, ok.identity, entry));
    use.range = {40, 80};
    EXPECT_EQ(recordOfEntry(entry, ok.path, use).bpm, 44);
    EXPECT_EQ(recordOfEntry(entry, ok.path, use).tempo, 43.8);
    // The report gives the path the run was given, whatever the key.
    EXPECT_EQ(recordOfEntry(entry, "./lib//x.flac", use).path, "./lib//x.flac");
}

// What a tag run saw is kept: a tempo written or found is held, another
// kept; a file written has a new identity. With tags, the row then gives
// the outcome a run that finds the file unchanged would give.
TEST(IndexRecords, KeepWhatTheTagHolds) {
    ScanRecord record;
    record.path = "a.mp3";
    record.status = ScanStatus::Ok;
    record.foundTempo = 128.2;
    record.tempo = 128.2;
    record.bpm = 128;
    record.method = Method::Accurate;
    record.identity = kIdentity;
    const platform::FileIdentity after{7, 99, 5100, kIdentity.modifiedNs + 5};
    const struct {
        TagOutcome outcome;
        IndexedTag kept;
        platform::FileIdentity identity;
        std::string given;  // the outcome a later run takes from the row ("" for none)
    } cases[] = {
        {tagDone(TagAction::Written), IndexedTag::Holds, after, "unchanged"},
        {tagDone(TagAction::Unchanged), IndexedTag::Holds, kIdentity, "unchanged"},
        {tagKept("99.5"), IndexedTag::Kept, kIdentity, "kept 99.5"},
        {tagDone(TagAction::WouldWrite), IndexedTag::Unknown, kIdentity, ""},
        {tagFailed(TagFailure::SeveralHardLinks), IndexedTag::Unknown, kIdentity, ""},
        {tagNotTaggable("Matroska"), IndexedTag::NotWritten, kIdentity, "not taggable"},
        {tagHeld(0.34), IndexedTag::Unknown, kIdentity, ""},
        {TagOutcome{}, IndexedTag::Unknown, kIdentity, ""},
    };
    IndexUse tags;
    tags.writeTags = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(tagOutcomeText(c.outcome));
        record.tag = c.outcome;
        IndexEntry entry;
        ASSERT_TRUE(entryOfRecord(record, "/a.mp3", 0, after, entry));
        EXPECT_EQ(entry.tag, c.kept);
        EXPECT_EQ(entry.record.identity, c.identity);
        EXPECT_EQ(entry.tagBpm, c.kept == IndexedTag::Unknown ? 0 : 128);
        if (c.kept == IndexedTag::NotWritten) {
            EXPECT_EQ(entry.tagHeld, "Matroska");
        }
        const bool served = entryServes(entry, ListedFile{"a.mp3", true, entry.record.identity}, tags);
        EXPECT_EQ(served, !c.given.empty());
        if (served) {
            EXPECT_EQ(tagOutcomeText(recordOfEntry(entry, "a.mp3", tags).tag), c.given);
        }
    }
}

// Records of no file make no row: the path's row, if any, goes.
TEST(IndexRecords, MakeNoRowForWhatIsNoFile) {
    ScanRecord record;
    record.path = "x.flac";
    record.status = ScanStatus::Error;
    record.identity = kIdentity;
    IndexEntry entry;
    for (ScanFailure failure : {ScanFailure::System, ScanFailure::NotRegular}) {
        record.error.failure = failure;
        EXPECT_FALSE(entryOfRecord(record, "/x.flac", 0, kIdentity, entry));
    }
    record.error.failure = ScanFailure::TimedOut;
    EXPECT_TRUE(entryOfRecord(record, "/x.flac", 0, kIdentity, entry));
    record.identity = platform::FileIdentity{};
    EXPECT_FALSE(entryOfRecord(record, "/x.flac", 0, kIdentity, entry));
}

// Keys as the index makes them, with this system's separator.
std::string key(std::string text) {
    for (char& c : text) c = c == '/' ? platform::kPathSeparator : c;
    return text;
}

RootByKey rootAt(const char* path, RootSight sight, int error, const char* keyText) {
    RootByKey root;
    root.root.path = path;
    root.root.sight = sight;
    root.root.error = error;
    root.key = key(keyText);
    return root;
}

// A row goes only where the run saw its file go: not listed in a folder it
// read whole, under rules that would list it. Everything it could not see
// is kept, and counted where it was not seen.
TEST(RowSight, GoesOnlyWhereTheRunSawTheFileGo) {
    WalkByKeys walk;
    walk.roots = {rootAt("lib", RootSight::Folder, 0, "/m/lib"),
                  rootAt("gone", RootSight::Missing, ENOENT, "/m/gone"),
                  rootAt("mnt", RootSight::Empty, 0, "/m/mnt"),
                  rootAt("one.flac", RootSight::File, 0, "/m/one.flac"),
                  rootAt("lost.flac", RootSight::Missing, ENOENT, "/m/lost.flac"),
                  rootAt("shut", RootSight::Missing, EACCES, "/m/shut")};
    walk.listed = {key("/m/lib/a.flac"), key("/m/one.flac")};
    walk.unread = {{"lib/locked", key("/m/lib/locked")}};
    walk.rules.extensions = {"flac", "mp3"};
    ASSERT_TRUE(compileGlob("Podcasts", platform::kPathSeparators, walk.rules.excludes.emplace_back()));
    const struct {
        const char* key;
        RowSight sight;
        const char* where;  // the path it is counted under, for rows kept
    } cases[] = {
        {"/m/lib/a.flac", RowSight::Listed, ""},
        {"/m/lib/b.flac", RowSight::Gone, ""},
        {"/m/lib/sub/gone/c.mp3", RowSight::Gone, ""},
        {"/m/lib", RowSight::Gone, ""},  // a folder stands where the file was
        {"/m/lib/locked/c.flac", RowSight::FolderUnread, "lib/locked"},
        {"/m/lib/lockedness.flac", RowSight::Gone, ""},
        {"/m/lib/x.m4a", RowSight::LeftOut, "lib"},
        {"/m/lib/.hidden/d.flac", RowSight::LeftOut, "lib"},
        {"/m/lib/._d.flac", RowSight::LeftOut, "lib"},
        {"/m/lib/Podcasts/e.mp3", RowSight::LeftOut, "lib"},
        {"/m/lib/deep/Podcasts", RowSight::LeftOut, "lib"},
        {"/m/gone/f.flac", RowSight::RootMissing, "gone"},
        {"/m/gone", RowSight::RootMissing, "gone"},
        {"/m/mnt/g.flac", RowSight::RootEmpty, "mnt"},
        {"/m/lost.flac", RowSight::RootMissing, "lost.flac"},
        {"/m/shut/h.flac", RowSight::RootMissing, "shut"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        KeptRows where;
        EXPECT_EQ(rowSight(key(c.key), walk, where), c.sight);
        if (c.sight != RowSight::Listed && c.sight != RowSight::Gone) {
            EXPECT_EQ(where.path, c.where);
        }
    }
    // The hidden names, once taken, are the run's to see.
    walk.rules.hidden = true;
    KeptRows where;
    EXPECT_EQ(rowSight(key("/m/lib/.hidden/d.flac"), walk, where), RowSight::Gone);
    // A root within another: gone as soon as one saw it go.
    walk.roots.push_back(rootAt("lib/x.m4a", RootSight::Missing, ENOENT, "/m/lib/x.m4a"));
    walk.rules.extensions.push_back("m4a");
    EXPECT_EQ(rowSight(key("/m/lib/x.m4a"), walk, where), RowSight::Gone);
}

TEST(KeptRowsText, SaysWhyAndHowMany) {
    const struct {
        KeptRows kept;
        const char* text;
    } cases[] = {
        {{"Music", RowSight::RootMissing, ENOENT, 12}, "Music: not found; its 12 indexed files are kept"},
        {{"song.flac", RowSight::RootMissing, ENOENT, 1}, "song.flac: not found; its 1 indexed file is kept"},
        {{"/mnt/share", RowSight::RootMissing, EACCES, 3}, "/mnt/share: permission denied; its 3 indexed files are kept"},
        {{"/mnt/usb", RowSight::RootEmpty, 0, 250}, "/mnt/usb: empty folder; its 250 indexed files are kept"},
        {{"lib/locked", RowSight::FolderUnread, 0, 2}, "lib/locked: cannot be read; its 2 indexed files are kept"},
        {{"lib", RowSight::LeftOut, 0, 188},
         "lib: 188 indexed files left out by this run's --extensions, --exclude or --hidden are kept"},
    };
    for (const auto& c : cases) EXPECT_EQ(keptRowsText(c.kept), c.text);
}

// A folder, or a root that may once have been one, covers its own key and
// everything below it; a file only itself.
TEST(RangesOfRoots, CoverAFolderAndWhatIsBelowIt) {
    const std::vector<PathRange> ranges = rangesOfRoots({rootAt("lib", RootSight::Folder, 0, "/m/lib"),
                                                         rootAt("a.wav", RootSight::File, 0, "/m/a.wav"),
                                                         rootAt("old", RootSight::Missing, ENOENT, "/m/old"),
                                                         rootAt("/", RootSight::Folder, 0, "/")});
    ASSERT_EQ(ranges.size(), 4U);
    EXPECT_EQ(ranges[0].exact, key("/m/lib"));
    EXPECT_EQ(ranges[0].prefix, key("/m/lib/"));
    EXPECT_EQ(ranges[1].exact, key("/m/a.wav"));
    EXPECT_EQ(ranges[1].prefix, "");
    EXPECT_EQ(ranges[2].prefix, key("/m/old/"));
    EXPECT_EQ(ranges[3].prefix, key("/"));
}

}  // namespace
}  // namespace tempo::scan
