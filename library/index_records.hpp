#pragma once

// Between the records of a scan and the rows of its index (--db): which
// row may stand for an analysis, the record it gives, the row a new
// record makes, which rows have gone, and the rows waiting to be written.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "decode/analyse_file.hpp"
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

// The record `entry` gives: what an analysis would give, with the tempo
// reported within the run's range and, with --write-tags, the tag outcome
// (unchanged, or the other tempo kept).
ScanRecord recordOfEntry(const IndexEntry& entry, const IndexUse& use);

// The row a record analysed now makes, at `now` (seconds since 1970);
// false for a record of no file (one that could not be looked at, or is
// no regular file), whose row, if any, is to go. `written` is the file's
// identity after its tag was written (the record's own otherwise).
bool entryOfRecord(const ScanRecord& record, std::int64_t now, const platform::FileIdentity& written,
                   IndexEntry& entry);

// The paths each root covers in the index: itself, and where it is a
// folder everything below it.
std::vector<PathRange> rangesOfRoots(const std::vector<std::string>& roots);

// The paths of `entries` that have gone: listed no more, and not inside a
// folder that could not be read (whose files may well be there).
std::vector<std::string> gonePaths(const std::vector<IndexEntry>& entries, const std::vector<ListedFile>& listed,
                                   const std::vector<UnreadFolder>& unread);

// Rows waiting to be written, from any thread; written by the calling
// thread in batches, at most one interval apart, so that a run killed
// outright loses at most that much of its work.
class IndexBatch {
public:
    explicit IndexBatch(std::chrono::milliseconds interval) : interval_(interval) {}
    void add(IndexEntry entry);
    void remove(std::string path);
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

// One run's use of its index: what it knows of the files listed, and the
// rows of what is analysed now, written in batches. Safe to keep records
// from any thread; everything else from the calling thread.
class IndexedRun {
public:
    explicit IndexedRun(IndexUse use, std::chrono::milliseconds interval = std::chrono::seconds(1))
        : use_(std::move(use)), batch_(interval) {}

    IndexOpening open(const std::string& path, int& error) { return index_.open(path, error); }

    // Reads what the index knows under `roots`, and drops the rows of the
    // files that have gone from `listed` (every file of the scan, whatever
    // its shard).
    IndexWriting prepare(const std::vector<std::string>& roots, const std::vector<ListedFile>& listed,
                         const std::vector<UnreadFolder>& unread, int& error);

    // The record the index gives `file`, if it stands for an analysis.
    bool known(const ListedFile& file, ScanRecord& record) const;

    // Keeps the row of a record analysed now (or drops the path's row).
    void keep(const ScanRecord& record);

    // Writes the rows that wait, when the interval has passed (always when
    // `now`).
    IndexWriting flush(bool now, int& error) { return batch_.flush(index_, now, error); }

private:
    IndexUse use_;
    LibraryIndex index_;
    IndexBatch batch_;
    std::map<std::string, IndexEntry> entries_;
};

}  // namespace tempo::scan
