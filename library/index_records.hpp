#pragma once

// Between the records of a scan and the rows of its index (--db): which
// row may stand for an analysis, the record it gives, the row a new
// record makes, which rows have gone and which are kept unseen, and the
// rows waiting to be written. A row is found by its file's key
// (index_keys.hpp); a record keeps the path as it was given.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "decode/analyse_file.hpp"
#include "library/index_keys.hpp"
#include "library/library_index.hpp"
#include "library/library_walk.hpp"
#include "record/scan_record.hpp"

namespace tempo::scan {

// What the run asks of each record.
struct IndexUse {
    Method method = Method::Accurate;
    std::string decoder;  // the decoder program, as given
    TempoRange range;
    bool writeTags = false;
    bool overwriteTags = false;
};

// Whether `entry` stands for an analysis of the file as `listed` now: the
// same identity (device, inode, size, modification time), method and
// analysis version; an error only where it comes from the file itself and
// the same decoder met it; and with --write-tags, a tempo tag known to
// hold the tempo to be written, or another tempo that is to be kept.
bool entryServes(const IndexEntry& entry, const ListedFile& listed, const IndexUse& use);

// The record `entry` gives the file at `path`: what an analysis would give,
// with the tempo reported within the run's range and, with --write-tags,
// the tag outcome (unchanged, or the other tempo kept).
ScanRecord recordOfEntry(const IndexEntry& entry, const std::string& path, const IndexUse& use);

// The row under `key` that a record analysed now makes, at `now` (seconds
// since 1970); false for a record of no file (one that could not be looked
// at, or is no regular file), which changes no row. `written` is the
// file's identity after its tag was written (the record's own otherwise).
bool entryOfRecord(const ScanRecord& record, const std::string& key, std::int64_t now,
                   const platform::FileIdentity& written, IndexEntry& entry);

// A root of the run as the index sees it: its key beside what the walk
// found there.
struct RootByKey {
    WalkedRoot root;
    std::string key;
};

// The keys each root covers: itself, and where it is (or was) a folder
// everything below it.
std::vector<PathRange> rangesOfRoots(const std::vector<RootByKey>& roots);

// What becomes of a row whose key is under the run's roots.
enum class RowSight {
    Listed,        // its file was listed: the scan gives it a record
    Gone,          // its file is no more in a folder read whole that the run's rules take in: removed
    RootMissing,   // kept: its root is not there (an unmounted drive, a share that is down)
    RootEmpty,     // kept: its root is a folder with no entries at all (an empty mount point)
    FolderUnread,  // kept: a folder on its way could not be read
    LeftOut,       // kept: this run's --extensions, --exclude or --hidden leave it out
};

// What the walk saw, by the index's keys.
struct WalkByKeys {
    std::vector<RootByKey> roots;
    std::set<std::string> listed;                         // the keys of every file listed, whatever its shard
    std::vector<std::pair<std::string, std::string>> unread;  // each folder that could not be read: its path, its key
    CollectionRules rules;
};

// Where the rows kept unseen are counted: the root, or the unread folder,
// as given.
struct KeptRows {
    std::string path;
    RowSight sight = RowSight::Listed;
    int error = 0;  // RootMissing: the errno value
    std::size_t count = 0;
};

// What becomes of the row `key`, and where a kept one is counted (its
// `count` left alone).
RowSight rowSight(const std::string& key, const WalkByKeys& walk, KeptRows& where);

// The words for rows kept unseen: "Music: not found; its 12 indexed files
// are kept".
std::string keptRowsText(const KeptRows& kept);

// Rows waiting to be written, from any thread; written by the calling
// thread in batches, at most one interval apart, so that a run killed
// outright loses at most that much of its work.
class IndexBatch {
public:
    explicit IndexBatch(std::chrono::milliseconds interval) : interval_(interval) {}
    void add(IndexEntry entry);
    void remove(std::string key);
    // Writes what waits when the interval has passed since the last write
    // (always when `now`); Written when nothing failed.
    IndexWriting flush(LibraryIndex& index, bool now, int& error);

private:
    std::mutex mutex_;
    std::vector<IndexEntry> entries_;
    std::vector<std::string> gone_;
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// What this run's walk saw, for the index to tell a file gone from one it
// could not see.
struct RunWalk {
    const std::vector<WalkedRoot>& roots;
    const std::vector<ListedFile>& listed;  // every file of the scan, whatever its shard
    const std::vector<UnreadFolder>& unread;
    const CollectionRules& rules;
    bool prune = false;  // --prune: also remove the rows, under the roots, of files that are not there
};

// One run's use of its index: what it knows of the files listed, and the
// rows of what is analysed now, written in batches. Safe to ask and keep
// records from any thread once prepared; everything else from the calling
// thread.
class IndexedRun {
public:
    explicit IndexedRun(IndexUse use, std::chrono::milliseconds interval = std::chrono::seconds(1))
        : use_(std::move(use)), batch_(interval) {}

    IndexOpening open(const std::string& path, int& error) { return index_.open(path, error); }

    // Reads what the index knows under the walk's roots, and removes the
    // rows of the files that have gone; `kept` counts the rows kept that
    // the walk could not see.
    IndexWriting prepare(const RunWalk& walk, std::vector<KeptRows>& kept, int& error);

    // The record the index gives `file`, if it stands for an analysis.
    bool known(const ListedFile& file, ScanRecord& record) const;

    // Keeps the row of a record analysed now.
    void keep(const ScanRecord& record);

    // Writes the rows that wait, when the interval has passed (always when
    // `now`).
    IndexWriting flush(bool now, int& error) { return batch_.flush(index_, now, error); }

private:
    // The key of a listed file's path.
    std::string keyOf(const std::string& path) const;

    IndexUse use_;
    LibraryIndex index_;
    IndexBatch batch_;
    IndexKeys keys_;
    std::map<std::string, std::string> listedKeys_;  // path as listed -> key
    std::map<std::string, IndexEntry> entries_;      // by key
};

}  // namespace tempo::scan
