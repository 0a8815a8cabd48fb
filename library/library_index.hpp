#pragma once

// The index of a library (--db FILE): one SQLite file that keeps, for each
// file analysed, its identity and its record, so that a later run analyses
// only what is new or changed. Plain data in and out; the SQL stays in
// library_index.cpp (library_index_none.cpp where the build has no SQLite),
// where one table of columns says how each fact of a row is written and
// read back.
//
// The file is an SQLite 3 database with application_id kIndexApplicationId
// and user_version kIndexSchemaVersion, in WAL mode with synchronous FULL
// (a commit is on the disk when it returns: a power cut loses no committed
// row), with one table:
//
//   files(path BLOB PRIMARY KEY,  -- the file's key (index_keys.hpp), as bytes
//         device, inode, size, mtime_ns INTEGER,  -- the identity it was analysed at
//         method TEXT,            -- 'accurate' or 'classic'
//         version INTEGER,        -- the analysis version (kAnalysisVersion)
//         status TEXT,            -- 'ok', 'no tempo' or 'error'
//         bpm INTEGER, tempo REAL, confidence REAL, -- the tempo rounded, as found, and its confidence
//         ends_early INTEGER,     -- 1: decoded as far as it goes
//         error TEXT,             -- the record's words for an error
//         failure TEXT, failure_code INTEGER, decoder TEXT, decoder_line TEXT,  -- the error, typed
//         duration REAL, sample_rate INTEGER, channels INTEGER, codec TEXT,
//         tag TEXT, tag_bpm INTEGER, tag_held TEXT,  -- what the file's tempo tag was last seen to hold:
//                                 -- 'holds' tag_bpm, 'kept' tag_held over tag_bpm, 'not written' (its format)
//         analysed_at INTEGER,    -- when, in seconds since 1970 (UTC)
//         beats BLOB, tempo_changes BLOB)  -- little-endian doubles: seconds; pairs of seconds and tempo
//
// A file whose schema is older is brought forward in one transaction; one
// that is not an SQLite file, belongs to another program, is damaged or
// comes from a newer tempo-scan is refused and left exactly as it is, and
// so is one this process may not write (nothing is made beside it).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "record/scan_record.hpp"
#include "tempo/estimate.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace tempo::scan {

// "tmpo" in the database header: the file is a tempo-scan index.
constexpr std::int32_t kIndexApplicationId = 0x746D706F;
// The layout of the table above; every change adds a step that brings an
// older file forward. 2: rows keyed by the file's key, no longer by the
// path as the command line gave it; 3: the bars (downbeats and metre).
constexpr int kIndexSchemaVersion = 3;
// The analysis behind a record: bumped whenever a change to the analysis
// (tempo/, pulse/, the decoder's conversion) can change any file's record,
// so that an index analysed by an older version is analysed again.
// 2: MP3, FLAC, Vorbis and Opus decoded in the process; 3: whole-number
// tempos, loops, bars.
constexpr int kAnalysisVersion = 3;

// What the file's tempo tag was last seen to hold.
enum class IndexedTag {
    Unknown,
    Holds,  // the tempo `tagBpm`: written by tempo-scan or found there
    Kept,   // another tempo (`tagHeld`, as written there), kept
    NotWritten,  // a format whose tags are not written (`tagHeld`: its name in the record's words)
};

// One row: what an analysis of the file found, and what the index knows
// beside it.
struct IndexEntry {
    std::string key;  // the file's key
    int version = kAnalysisVersion;
    // The record as the analysis made it: status (Ok, NoTempo or Error),
    // method, the tempo as found (`foundTempo`; `tempo` and `bpm` are read
    // back as that, before any range), confidence, the warning, the error,
    // the facts, the beats and tempo changes, and the identity it was
    // analysed at. Its path, tag outcome and what the reading kept for a
    // tag's check (content, source, audio hash) are no part of a row.
    ScanRecord record;
    IndexedTag tag = IndexedTag::Unknown;
    int tagBpm = 0;       // Holds: the tempo; Kept: the tempo that was not written over it
    std::string tagHeld;  // Kept: the other tempo, as the tag holds it; NotWritten: the format
    std::int64_t analysedAt = 0;  // seconds since 1970
};

// False when this build has no SQLite (--db is refused).
bool indexAvailable();

// How opening an index ended.
enum class IndexOpening {
    Opened,
    CannotOpen,  // `error`: the errno value
    ReadOnly,    // the file cannot be written (`error`: the errno value, or 0)
    FolderReadOnly,  // nothing can be made in its folder, where SQLite keeps its log (`error` as ReadOnly)
    LogReadOnly,     // its log or shared memory beside it cannot be written (`error` as ReadOnly)
    NotAnIndex,  // not an SQLite file, or another program's
    Damaged,     // an SQLite file of ours whose check fails
    Newer,       // written by a newer tempo-scan: its schema is unknown here
    Busy,        // another run held it for longer than the wait
    Failed,      // SQLite failed otherwise: `error` holds its result code
};

// How reading or writing the rows ended.
enum class IndexWriting { Written, Busy, Full, ReadOnly, Damaged, System, Failed };

// The words for an opening that failed ("not a tempo-scan index (left as it
// is)") and for a read or write that failed ("no space left on device");
// `error` as the outcome says (System: the errno value; Failed: SQLite's
// result code).
std::string indexOpeningText(IndexOpening opening, int error);
std::string indexWritingText(IndexWriting writing, int error);

// The range of keys a root covers: the root itself, and every key that
// begins with it and a separator.
struct PathRange {
    std::string exact;
    std::string prefix;  // "" where the root is a file
};

class LibraryIndex {
public:
    LibraryIndex() = default;
    ~LibraryIndex();
    LibraryIndex(const LibraryIndex&) = delete;
    LibraryIndex& operator=(const LibraryIndex&) = delete;

    // Opens (or creates) the index at `path`: checks that it may be
    // written and is an index of ours before anything is written or made
    // beside it, then brings its schema forward (keys of older rows are
    // made from their paths as seen from the current folder). `error` as
    // IndexOpening says.
    IndexOpening open(const std::string& path, int& error);

    // Every row under `ranges`, in byte order of their keys; false when
    // the rows could not be read.
    bool load(const std::vector<PathRange>& ranges, std::vector<IndexEntry>& entries, IndexWriting& failure,
              int& error);

    // Replaces the rows of `entries` and removes those of `gone`, in one
    // transaction.
    IndexWriting write(const std::vector<IndexEntry>& entries, const std::vector<std::string>& gone, int& error);

private:
    void close();
    sqlite3* db_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
    sqlite3_stmt* upsert_ = nullptr;
    sqlite3_stmt* remove_ = nullptr;
};

}  // namespace tempo::scan
