#include "library/index_records.hpp"

#include <algorithm>
#include <cerrno>
#include <set>
#include <utility>

#include "platform/files.hpp"
#include "platform/folder.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

// Whether `entry`'s tag outcome can be told without opening the file: it
// holds the tempo to be written, or another that is to be kept.
bool tagKnown(const IndexEntry& entry, const IndexUse& use) {
    if (!use.writeTags || entry.status != ScanStatus::Ok) return true;
    if (entry.tag == IndexedTag::NotWritten) return true;
    const int bpm = reportedBpm(entry.tempo, use.range);
    if (entry.tag == IndexedTag::Holds) return entry.tagBpm == bpm;
    return entry.tag == IndexedTag::Kept && entry.tagBpm == bpm && !use.overwriteTags;
}

bool under(const std::string& path, const std::string& folder) {
    const std::string prefix = platform::joinPath(folder, "");
    return path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool entryServes(const IndexEntry& entry, const ListedFile& listed, const IndexUse& use) {
    if (!listed.known || entry.identity != listed.identity) return false;
    if (entry.method != use.method || entry.version != kAnalysisVersion) return false;
    if (entry.status == ScanStatus::Error &&
        (!failureLasts(entry.error.failure) || (!entry.error.decoder.empty() && entry.error.decoder != use.decoder))) {
        return false;
    }
    return tagKnown(entry, use);
}

ScanRecord recordOfEntry(const IndexEntry& entry, const IndexUse& use) {
    ScanRecord record;
    record.path = entry.path;
    record.status = entry.status;
    record.method = entry.method;
    if (entry.status == ScanStatus::Ok) {
        record.foundTempo = entry.tempo;
        record.tempo = foldedTempo(entry.tempo, use.range);
        record.bpm = reportedBpm(entry.tempo, use.range);
        record.beats = entry.beats;
        record.tempoChanges = entry.tempoChanges;
    }
    record.confidence = entry.confidence;
    record.error = entry.error;
    record.endsEarly = entry.endsEarly;
    record.identity = entry.identity;
    record.facts = entry.facts;
    if (use.writeTags && entry.status == ScanStatus::Ok) {
        record.tag = entry.tag == IndexedTag::Holds  ? tagDone(TagAction::Unchanged)
                     : entry.tag == IndexedTag::Kept ? tagKept(entry.tagHeld)
                                                     : tagNotTaggable(entry.tagHeld);
    }
    return record;
}

bool entryOfRecord(const ScanRecord& record, std::int64_t now, const platform::FileIdentity& written,
                   IndexEntry& entry) {
    const bool noFile = record.status == ScanStatus::Interrupted || record.identity.size < 0 ||
                        (record.status == ScanStatus::Error && (record.error.failure == ScanFailure::System ||
                                                                record.error.failure == ScanFailure::NotRegular));
    if (noFile) return false;
    entry = IndexEntry{};
    entry.path = record.path;
    entry.identity = record.tag.action == TagAction::Written ? written : record.identity;
    entry.method = record.method;
    entry.status = record.status;
    entry.tempo = record.foundTempo;
    entry.beats = record.beats;
    entry.tempoChanges = record.tempoChanges;
    entry.confidence = record.confidence;
    entry.endsEarly = record.endsEarly;
    if (record.status == ScanStatus::Error) entry.error = record.error;
    entry.facts = record.facts;
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

std::vector<PathRange> rangesOfRoots(const std::vector<std::string>& roots) {
    std::vector<PathRange> ranges;
    for (const std::string& root : roots) {
        ranges.push_back({root, platform::isFolder(root) ? platform::joinPath(root, "") : std::string()});
    }
    return ranges;
}

std::vector<std::string> gonePaths(const std::vector<IndexEntry>& entries, const std::vector<ListedFile>& listed,
                                   const std::vector<UnreadFolder>& unread) {
    std::set<std::string> present;
    for (const ListedFile& file : listed) present.insert(file.path);
    std::set<std::string> gone;
    for (const IndexEntry& entry : entries) {
        if (present.count(entry.path) != 0) continue;
        const bool unknown = std::any_of(unread.begin(), unread.end(),
                                         [&entry](const UnreadFolder& folder) { return under(entry.path, folder.folder); });
        if (!unknown) gone.insert(entry.path);
    }
    return {gone.begin(), gone.end()};
}

void IndexBatch::add(IndexEntry entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
}

void IndexBatch::remove(std::string path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    gone_.push_back(std::move(path));
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

IndexWriting IndexedRun::prepare(const std::vector<std::string>& roots, const std::vector<ListedFile>& listed,
                                 const std::vector<UnreadFolder>& unread, int& error) {
    std::vector<IndexEntry> entries;
    IndexWriting failure = IndexWriting::Written;
    if (!index_.load(rangesOfRoots(roots), entries, failure, error)) return failure;
    for (std::string& path : gonePaths(entries, listed, unread)) batch_.remove(std::move(path));
    for (IndexEntry& entry : entries) {
        std::string path = entry.path;
        entries_[std::move(path)] = std::move(entry);
    }
    return batch_.flush(index_, true, error);
}

bool IndexedRun::known(const ListedFile& file, ScanRecord& record) const {
    const auto entry = entries_.find(file.path);
    if (entry == entries_.end() || !entryServes(entry->second, file, use_)) return false;
    record = recordOfEntry(entry->second, use_);
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
    if (entryOfRecord(record, now.count(), written, entry)) {
        batch_.add(std::move(entry));
    } else if (record.status != ScanStatus::Interrupted) {
        batch_.remove(record.path);
    }
}

std::string indexOpeningText(IndexOpening opening, int error) {
    switch (opening) {
        case IndexOpening::Opened: return "opened";
        case IndexOpening::CannotOpen: return "cannot open it: " + platform::systemReason(error);
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
