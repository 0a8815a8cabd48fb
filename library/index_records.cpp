// A row leaves the index only when the run has seen that its file is
// gone: not listed in a folder it read whole, with rules that would have
// listed it. A root that is not there or holds no entries at all (a drive
// that is not mounted), a folder that could not be read, and what this
// run's --extensions, --exclude or --hidden leave out keep their rows, and
// the run says how many; --prune removes those of files that are not
// there, on purpose.

#include "library/index_records.hpp"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/files.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

// Whether `entry`'s tag outcome can be told without opening the file: it
// holds the tempo to be written, or another that is to be kept.
bool tagKnown(const IndexEntry& entry, const IndexUse& use) {
    if (!use.writeTags || entry.record.status != ScanStatus::Ok) return true;
    if (entry.tag == IndexedTag::NotWritten) return true;
    const int bpm = reportedBpm(entry.record.foundTempo, use.range);
    if (entry.tag == IndexedTag::Holds) return entry.tagBpm == bpm;
    return entry.tag == IndexedTag::Kept && entry.tagBpm == bpm && !use.overwriteTags;
}

// Whether `key` lies below the folder whose key is `folder`.
bool under(const std::string& key, const std::string& folder) {
    const std::string prefix = platform::joinPath(folder, "");
    return key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0;
}

// The part of `key` below `folder`, its components joined by '/', as the
// walk matches its rules.
std::string relativeTo(const std::string& key, const std::string& folder) {
    std::string relative = key.substr(platform::joinPath(folder, "").size());
    for (char& c : relative) c = c == platform::kPathSeparator ? '/' : c;
    return relative;
}

// What one root says of a row at or below its key.
RowSight sightUnder(const std::string& key, const RootByKey& root, const WalkByKeys& walk, KeptRows& where) {
    where = KeptRows{root.root.path, RowSight::Listed, root.root.error, 0};
    switch (root.root.sight) {
        case RootSight::Missing: return where.sight = RowSight::RootMissing;
        case RootSight::Empty: return where.sight = key == root.key ? RowSight::Gone : RowSight::RootEmpty;
        case RootSight::File:
        case RootSight::Folder: break;
    }
    // A folder, or another file, where the file was; or the file itself,
    // listed under another name of it.
    if (key == root.key) return RowSight::Gone;
    for (const auto& [path, folder] : walk.unread) {
        if (key == folder || under(key, folder)) {
            where.path = path;
            return where.sight = RowSight::FolderUnread;
        }
    }
    if (!collectionIncludes(walk.rules, relativeTo(key, root.key))) return where.sight = RowSight::LeftOut;
    return RowSight::Gone;
}

bool keptUnseen(RowSight sight) { return sight != RowSight::Listed && sight != RowSight::Gone; }

// --prune: whether the file at `key` is not there at all.
bool notThere(const std::string& key) {
    platform::FileStatus status;
    int error = 0;
    return !platform::readFileStatus(key, status, error) && (error == ENOENT || error == ENOTDIR);
}

void count(std::vector<KeptRows>& kept, const KeptRows& where) {
    const auto same = std::find_if(kept.begin(), kept.end(), [&where](const KeptRows& rows) {
        return rows.path == where.path && rows.sight == where.sight;
    });
    if (same == kept.end()) {
        kept.push_back(where);
        kept.back().count = 1;
    } else {
        ++same->count;
    }
}

}  // namespace

bool entryServes(const IndexEntry& entry, const ListedFile& listed, const IndexUse& use) {
    const ScanRecord& record = entry.record;
    if (!listed.known || record.identity != listed.identity) return false;
    if (record.method != use.method || entry.version != kAnalysisVersion) return false;
    if (record.status == ScanStatus::Error &&
        (!failureLasts(record.error.failure) || (!record.error.decoder.empty() && record.error.decoder != use.decoder))) {
        return false;
    }
    return tagKnown(entry, use);
}

ScanRecord recordOfEntry(const IndexEntry& entry, const std::string& path, const IndexUse& use) {
    ScanRecord record = entry.record;
    record.path = path;
    if (record.status == ScanStatus::Ok) {
        record.tempo = foldedTempo(record.foundTempo, use.range);
        record.bpm = reportedBpm(record.foundTempo, use.range);
    }
    if (use.writeTags && record.status == ScanStatus::Ok) {
        record.tag = entry.tag == IndexedTag::Holds  ? tagDone(TagAction::Unchanged)
                     : entry.tag == IndexedTag::Kept ? tagKept(entry.tagHeld)
                                                     : tagNotTaggable(entry.tagHeld);
    }
    return record;
}

bool entryOfRecord(const ScanRecord& record, const std::string& key, std::int64_t now,
                   const platform::FileIdentity& written, IndexEntry& entry) {
    const bool noFile = record.status == ScanStatus::Interrupted || record.identity.size < 0 ||
                        (record.status == ScanStatus::Error && (record.error.failure == ScanFailure::System ||
                                                                record.error.failure == ScanFailure::NotRegular));
    if (noFile) return false;
    entry = IndexEntry{};
    entry.key = key;
    entry.record = record;
    if (record.tag.action == TagAction::Written) entry.record.identity = written;
    switch (record.tag.action) {
        case TagAction::Written:
        case TagAction::Unchanged: entry.tag = IndexedTag::Holds; break;
        case TagAction::Kept:
            entry.tag = IndexedTag::Kept;
            entry.tagHeld = record.tag.detail;
            break;
        case TagAction::NotTaggable:
            // A format whose tags are not written stays so while the file
            // is the same; every failure is tried again.
            entry.tag = IndexedTag::NotWritten;
            entry.tagHeld = record.tag.detail;
            break;
        default: break;
    }
    entry.tagBpm = entry.tag == IndexedTag::Unknown ? 0 : record.bpm;
    entry.analysedAt = now;
    return true;
}

std::vector<PathRange> rangesOfRoots(const std::vector<RootByKey>& roots) {
    std::vector<PathRange> ranges;
    for (const RootByKey& root : roots) {
        // A file's rows are its own; a root that is not there may have been
        // a folder, whose rows are to be counted.
        const bool file = root.root.sight == RootSight::File;
        ranges.push_back({root.key, file ? std::string() : platform::joinPath(root.key, "")});
    }
    return ranges;
}

RowSight rowSight(const std::string& key, const WalkByKeys& walk, KeptRows& where) {
    if (walk.listed.count(key) != 0) return RowSight::Listed;
    // Gone as soon as one root saw it go; else kept where the first saw it.
    RowSight sight = RowSight::Listed;
    for (const RootByKey& root : walk.roots) {
        const bool file = root.root.sight == RootSight::File;
        if (key != root.key && (file || !under(key, root.key))) continue;
        KeptRows here;
        const RowSight seen = sightUnder(key, root, walk, here);
        if (seen == RowSight::Gone) return seen;
        if (sight == RowSight::Listed) {
            sight = seen;
            where = here;
        }
    }
    return sight;
}

std::string keptRowsText(const KeptRows& kept) {
    const std::string files = kept.count == 1 ? "1 indexed file" : std::to_string(kept.count) + " indexed files";
    const std::string are = kept.count == 1 ? " is kept" : " are kept";
    switch (kept.sight) {
        case RowSight::RootMissing: {
            const bool notFound = kept.error == ENOENT || kept.error == ENOTDIR;
            return kept.path + ": " + (notFound ? "not found" : platform::systemReason(kept.error)) + "; its " + files + are;
        }
        case RowSight::RootEmpty: return kept.path + ": empty folder; its " + files + are;
        case RowSight::FolderUnread: return kept.path + ": cannot be read; its " + files + are;
        case RowSight::LeftOut:
            return kept.path + ": " + files + " left out by this run's --extensions, --exclude or --hidden" + are;
        case RowSight::Listed:
        case RowSight::Gone: break;
    }
    return std::string();
}

void IndexBatch::add(IndexEntry entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
}

void IndexBatch::remove(std::string key) {
    const std::lock_guard<std::mutex> lock(mutex_);
    gone_.push_back(std::move(key));
}

IndexWriting IndexBatch::flush(LibraryIndex& index, bool now, int& error) {
    std::vector<IndexEntry> entries;
    std::vector<std::string> gone;
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - last_ < interval_) return IndexWriting::Written;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        entries.swap(entries_);
        gone.swap(gone_);
    }
    last_ = time;
    if (entries.empty() && gone.empty()) return IndexWriting::Written;
    return index.write(entries, gone, error);
}

IndexWriting IndexedRun::prepare(const RunWalk& walk, std::vector<KeptRows>& kept, int& error) {
    WalkByKeys seen;
    seen.rules = walk.rules;
    for (const ListedFile& file : walk.listed) {
        std::string key = keys_.keyOf(file.path);
        seen.listed.insert(key);
        listedKeys_[file.path] = std::move(key);
    }
    // A folder's key is its real path, as its files' keys begin.
    for (const WalkedRoot& root : walk.roots) {
        const bool folder = root.sight == RootSight::Folder || root.sight == RootSight::Empty;
        seen.roots.push_back({root, folder ? keys_.folderKey(root.path) : keys_.keyOf(root.path)});
    }
    for (const UnreadFolder& folder : walk.unread) seen.unread.emplace_back(folder.folder, keys_.folderKey(folder.folder));
    std::vector<IndexEntry> entries;
    IndexWriting failure = IndexWriting::Written;
    if (!index_.load(rangesOfRoots(seen.roots), entries, failure, error)) return failure;
    for (IndexEntry& entry : entries) {
        // Roots within roots load a row more than once.
        if (entries_.count(entry.key) != 0) continue;
        KeptRows where;
        RowSight sight = rowSight(entry.key, seen, where);
        if (walk.prune && keptUnseen(sight) && notThere(entry.key)) sight = RowSight::Gone;
        if (sight == RowSight::Gone) batch_.remove(entry.key);
        if (keptUnseen(sight)) count(kept, where);
        std::string key = entry.key;
        entries_.emplace(std::move(key), std::move(entry));
    }
    return batch_.flush(index_, true, error);
}

std::string IndexedRun::keyOf(const std::string& path) const {
    const auto known = listedKeys_.find(path);
    if (known != listedKeys_.end()) return known->second;
    // Not listed: worked out apart, since records come from many threads.
    IndexKeys keys;
    return keys.keyOf(path);
}

bool IndexedRun::known(const ListedFile& file, ScanRecord& record) const {
    const auto entry = entries_.find(keyOf(file.path));
    if (entry == entries_.end() || !entryServes(entry->second, file, use_)) return false;
    record = recordOfEntry(entry->second, file.path, use_);
    return true;
}

void IndexedRun::keep(const ScanRecord& record) {
    // A file whose tag was written is a new file: its row takes the
    // identity it has now.
    platform::FileIdentity written = record.identity;
    platform::FileStatus status;
    int error = 0;
    if (record.tag.action == TagAction::Written && platform::readFileStatus(record.path, status, error)) {
        written = status.identity;
    }
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    IndexEntry entry;
    if (entryOfRecord(record, keyOf(record.path), now.count(), written, entry)) batch_.add(std::move(entry));
}

std::string indexOpeningText(IndexOpening opening, int error) {
    const std::string why = error == 0 ? std::string() : ": " + platform::systemReason(error);
    switch (opening) {
        case IndexOpening::Opened: return "opened";
        case IndexOpening::CannotOpen: return "cannot open it: " + platform::systemReason(error);
        case IndexOpening::ReadOnly: return "read-only (the file cannot be written" + why + "; nothing was changed)";
        case IndexOpening::FolderReadOnly:
            return "read-only (nothing can be made in its folder, where SQLite keeps its log" + why +
                   "; nothing was changed)";
        case IndexOpening::LogReadOnly:
            return "read-only (its -wal or -shm file beside it cannot be written" + why +
                   "; nothing was changed; make them writable)";
        case IndexOpening::NotAnIndex: return "not a tempo-scan index (left as it is)";
        case IndexOpening::Damaged: return "the index is damaged (left as it is; move it away to start anew)";
        case IndexOpening::Newer: return "written by a newer tempo-scan (left as it is)";
        case IndexOpening::Busy: return "another run held the index for too long";
        case IndexOpening::Failed: return "SQLite failed with error " + std::to_string(error);
    }
    return "failed";
}

std::string indexWritingText(IndexWriting writing, int error) {
    switch (writing) {
        case IndexWriting::Written: return "written";
        case IndexWriting::Busy: return "another run held the index for too long";
        case IndexWriting::Full: return platform::systemReason(ENOSPC);
        case IndexWriting::ReadOnly: return "the index is read-only";
        case IndexWriting::Damaged: return "the index is damaged";
        case IndexWriting::System: return platform::systemReason(error);
        case IndexWriting::Failed: return "SQLite failed with error " + std::to_string(error);
    }
    return "failed";
}

}  // namespace tempo::scan
