// The tempo is written into a file's own tag and nothing else changes.
// MP3, FLAC, Ogg (Vorbis, Opus, FLAC), WAVE and AIFF are edited over their
// bytes (input/tag_bytes): TBPM alone in the ID3v2 tag, the BPM field
// alone in the Vorbis comment, every other frame, field, block, chunk and
// page as it was. MP4 goes through TagLib's own MP4 classes, the tmpo item
// alone. What a file is comes from its content, never its name nor
// TagLib's guess; a content this tool does not tag (Matroska, WebM, RF64,
// anything unknown) is "not taggable" and stays untouched.
//
// A file is never written in place: a write that fails for want of space
// may go unnoticed, and a tag that grows shifts the audio behind it.
// Instead an unnamed copy is made in the file's folder
// (platform/safe_replace), written, flushed and checked, and only then
// renamed over the original, with the original's rights, and only if the
// original is still the file that was copied. Checked means: read back
// from the disk, the copy's tag holds every item of the original's with
// the same content, the tempo aside, and the tempo reads as written; the
// audio is the original's byte for byte (the MP3 frames, the FLAC frames,
// the Ogg pages after the headers, every WAVE and AIFF chunk but the tag's).
// MP4, whose audio cannot be compared that way, is decoded by the decoder
// that analysed it to the same samples, and ffmpeg lists the same streams.

#include "tags/tags.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "input/tag_bytes.hpp"
#include "platform/file_image.hpp"
#include "platform/files.hpp"
#include "platform/path.hpp"
#include "platform/safe_replace.hpp"

#include <taglib/mp4file.h>

namespace tempo::scan {
namespace {

// The original's bytes are copied this much at a time.
constexpr std::uint64_t kCopySlice = 4 << 20;
// Room reserved for an MP4 tag to grow by when TagLib rewrites it: a tempo
// item is a few dozen bytes, and the rewritten atoms grow by far less.
constexpr std::uint64_t kTagHeadroom = 1 << 20;

// TagLib's calls are made one at a time: its objects share reference-
// counted data that this tool does not rely on being safe across threads.
std::mutex taglibMutex;
// Guards the two maps below.
std::mutex registryMutex;
// Files this scan has written, by their real path: the identity before and
// after, so a second path to the same file is not taken for a file changed
// by someone else.
std::map<std::string, std::pair<platform::FileIdentity, platform::FileIdentity>> writtenFiles;
// One lock per real path: two paths of one scan may name the same file
// through a link, and its writes must not overlap; other files are copied
// and checked side by side.
std::map<std::string, std::shared_ptr<std::mutex>> fileLocks;

std::shared_ptr<std::mutex> lockOf(const std::string& path) {
    const std::lock_guard<std::mutex> lock(registryMutex);
    std::shared_ptr<std::mutex>& entry = fileLocks[path];
    if (!entry) entry = std::make_shared<std::mutex>();
    return entry;
}

// The number in `text` ("128", " 128.0"), or false.
bool tempoIn(const std::string& text, double& value) {
    const char* start = text.c_str();
    char* end = nullptr;
    value = std::strtod(start, &end);
    if (end == start) return false;
    while (*end == ' ') ++end;
    return *end == '\0';
}

bool within(const std::string& path, const std::vector<std::string>& roots) {
    for (const std::string& root : roots) {
        if (path == root) return true;
        const bool endsInSeparator =
            !root.empty() && std::string(platform::kPathSeparators).find(root.back()) != std::string::npos;
        const std::string prefix = endsInSeparator ? root : root + platform::kPathSeparator;
        if (path.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

bool stopAsked(const TagSettings& settings) { return settings.stop != nullptr && settings.stop->load(); }

// The tempo `text` holds: 0 where there is none (an empty field, or a 0
// that some programs write for "unknown"), -1 for something that is no
// number (kept, as set by hand).
double heldTempo(const std::string& text) {
    if (text.find_first_not_of(' ') == std::string::npos) return 0.0;
    double value = 0.0;
    return tempoIn(text, value) ? value : -1.0;
}

TagOutcome fromCheck(const platform::ReplaceCheck& check) {
    switch (check.block) {
        case platform::ReplaceBlock::None: return TagOutcome{};
        case platform::ReplaceBlock::ReadOnly: return tagFailed(TagFailure::ReadOnly);
        case platform::ReplaceBlock::SeveralHardLinks: return tagFailed(TagFailure::SeveralHardLinks);
        case platform::ReplaceBlock::NotWritable: return tagFailed(TagFailure::NotWritable);
        case platform::ReplaceBlock::FolderNotWritable: return tagFailed(TagFailure::FolderNotWritable);
        case platform::ReplaceBlock::OwnerNotKept: return tagFailed(TagFailure::OwnerNotKept);
        case platform::ReplaceBlock::NoSpace:
        case platform::ReplaceBlock::System: return tagFailed(TagFailure::System, check.error);
    }
    return tagFailed(TagFailure::System, check.error);
}

TagOutcome fromLayout(TagLayout layout) {
    switch (layout) {
        case TagLayout::Edited: return TagOutcome{};
        case TagLayout::Unusual: return tagFailed(TagFailure::TagUnusual);
        case TagLayout::Damaged: return tagFailed(TagFailure::TagDamaged);
    }
    return tagFailed(TagFailure::TagDamaged);
}

// A file mapped for reading, unmapped when this goes.
struct MappedFile {
    FileImage image;
    bool open = false;
    int error = 0;
    explicit MappedFile(const std::string& path) {
        open = openFileImage(platform::nativePath(path).c_str(), image) == WaveCheckResult::Ok;
        error = image.systemError != 0 ? platform::errnoOfSystemError(image.systemError) : EIO;
    }
    ~MappedFile() { close(); }
    // Unmaps the file now: Windows replaces no file that is mapped.
    void close() {
        closeFileImage(image);
        image = FileImage{};
        open = false;
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ByteSpan bytes() const { return bytesOf(image); }
    bool whole() const { return open && !fileImageLostBytes(image); }
};

// The original's bytes [offset, offset + length) appended to the copy a
// slice at a time, each slice's pages handed back after, so a long WAVE
// is not held in memory whole.
int appendOriginal(platform::SiblingCopy& copy, MappedFile& original, std::uint64_t offset, std::uint64_t length) {
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t slice = std::min<std::uint64_t>(kCopySlice, length - done);
        if (const int error = copy.append(original.image.bytes + offset + done, static_cast<std::size_t>(slice))) {
            return error;
        }
        done += slice;
        releaseFileImageBefore(original.image, offset + done);
    }
    return 0;
}

// What one write works on.
struct TagJob {
    const ScanRecord& record;
    const TagSettings& settings;
    std::string path;  // the real path
};

// ---- MP4, through TagLib's MP4 classes.

// The tmpo item's value ("" for none); false where TagLib cannot read the file.
bool mp4Tempo(const std::string& path, std::string& text) {
    const std::lock_guard<std::mutex> lock(taglibMutex);
    const std::basic_string<PathChar> native = platform::nativePath(path);
    TagLib::MP4::File file(native.c_str(), false);
    if (!file.isValid() || file.tag() == nullptr) return false;
    text = file.tag()->contains("tmpo") ? std::to_string(file.tag()->item("tmpo").toInt()) : std::string();
    return true;
}

TagOutcome mp4SetTempo(const std::string& copy, int bpm) {
    const std::lock_guard<std::mutex> lock(taglibMutex);
    const std::basic_string<PathChar> native = platform::nativePath(copy);
    TagLib::MP4::File file(native.c_str(), false);
    if (!file.isValid() || file.tag() == nullptr) return tagFailed(TagFailure::FormatNotTaggable);
    file.tag()->setItem("tmpo", TagLib::MP4::Item(bpm));
    return file.save() ? TagOutcome{} : tagFailed(TagFailure::SaveFailed);
}

// The decoder's own words where it complained, else how it ended.
std::string decoderSaid(const ScanError& error) {
    return error.decoderLine.empty() ? scanFailureText(error) : error.decoderLine;
}

// What the decoder's reading of the copy says against the original's
// ("" when nothing differs): the same samples as the analysis read, with
// no complaint, and the same streams. A listing that fails on the
// original fails on the copy alike when its complaint is about another
// stream (a damaged cover): the audio is judged by its samples, the cover
// by the tag's bytes.
std::string decodedDifference(const TagJob& job, const std::string& copy) {
    const DecodeSettings& decoder = job.settings.decoder;
    std::vector<std::string> before;
    std::vector<std::string> after;
    ScanError errors[2];
    const bool listed = listStreams(job.path, decoder, before, errors[0]);
    const DecodedTempo decoded = decodeAudio(copy, job.record.content, decoder, &after);
    if (decoded.outcome != DecodeOutcome::Decoded) return "decoder: " + decoderSaid(decoded.error);
    if (!decoded.complaint.empty()) return "decoder: " + decoded.complaint;
    if (decoded.audio.totalBytes != job.record.audio.totalBytes || hashValue(decoded.audio) != hashValue(job.record.audio)) {
        return "audio";
    }
    if (listed) return before == after ? std::string() : "streams";
    if (errors[0].failure == ScanFailure::DecoderMissing) return std::string();
    if (!listStreams(copy, decoder, after, errors[1]) && decoderSaid(errors[1]) == decoderSaid(errors[0])) {
        return std::string();
    }
    return "decoder on the original: " + decoderSaid(errors[0]);
}

// ---- The copy.

// Writes the copy's bytes: the rewritten pieces, or for MP4 the whole
// file, tagged by TagLib; no action when the copy is ready to check.
TagOutcome writeCopy(const TagJob& job, MappedFile& file, platform::SiblingCopy& copy) {
    const ScanRecord& record = job.record;
    const ByteSpan original = file.bytes();
    if (record.content == AudioContainer::Mp4) {
        if (const int error = copy.make(job.path, original.length + kTagHeadroom)) return tagFailed(TagFailure::System, error);
        if (const int error = appendOriginal(copy, file, 0, original.length)) return tagFailed(TagFailure::System, error);
        return mp4SetTempo(copy.path(), record.bpm);
    }
    std::vector<FilePiece> pieces;
    if (TagOutcome refused = fromLayout(rewriteTempo(record.content, original, record.bpm, pieces)); refused.failure) {
        return refused;
    }
    std::uint64_t size = 0;
    for (const FilePiece& piece : pieces) size += piece.bytes.empty() ? piece.length : piece.bytes.size();
    if (const int error = copy.make(job.path, size)) return tagFailed(TagFailure::System, error);
    for (const FilePiece& piece : pieces) {
        const int error = piece.bytes.empty() ? appendOriginal(copy, file, piece.offset, piece.length)
                                              : copy.append(piece.bytes.data(), piece.bytes.size());
        if (error != 0) return tagFailed(TagFailure::System, error);
    }
    return TagOutcome{};
}

// What differs between the file and its tagged copy, besides the tempo
// ("" when nothing does), read back from the disk.
std::string difference(const TagJob& job, ByteSpan original, const std::string& copy) {
    const ScanRecord& record = job.record;
    const MappedFile written(copy);
    if (!written.open) return "copy unreadable";
    if (record.content == AudioContainer::Mp4) {
        std::string tag = mp4TagDifference(original, written.bytes(), record.bpm);
        return tag.empty() ? decodedDifference(job, copy) : tag;
    }
    std::string differs = taggedCopyDifference(record.content, original, written.bytes(), record.bpm);
    if (!written.whole()) return "copy cut short";
    if (differs.empty() || differs == "audio") return differs;
    return differs.compare(0, 4, "tag ") == 0 ? differs : "tag " + differs;
}

// Tags a copy of the file, verifies it and puts it in place; no action,
// the failure, or Interrupted (action None with no failure) when a stop
// came before the replace. `expected` is what the file must still be.
TagOutcome writeThroughCopy(const TagJob& job, const platform::FileIdentity& expected, bool& stopped) {
    MappedFile original(job.path);
    if (!original.open) return tagFailed(TagFailure::System, original.error);
    platform::SiblingCopy copy;
    if (TagOutcome failed = writeCopy(job, original, copy); failed.failure) return failed;
    if (copy.originalIdentity() != expected) return tagFailed(TagFailure::ChangedDuringScan);
    if (const int error = copy.settle()) return tagFailed(TagFailure::System, error);
    std::string differs = difference(job, original.bytes(), copy.path());
    // A copy that differs from an original another program has written
    // meanwhile is that program's doing, not the copy's.
    if (!original.whole() || (!differs.empty() && !copy.originalUnchanged())) {
        return tagFailed(TagFailure::ChangedDuringScan);
    }
    // No replace starts after a stop (which may also have cut the check
    // short): the copy goes, the file stays.
    if (stopAsked(job.settings)) {
        stopped = true;
        return TagOutcome{};
    }
    if (!differs.empty()) return tagFailed(TagFailure::DidNotVerify, std::move(differs));
    original.close();
    const platform::ReplaceOutcome replaced = copy.replaceOriginal();
    switch (replaced.result) {
        case platform::ReplaceResult::Replaced: return tagDone(TagAction::Written);
        case platform::ReplaceResult::ChangedMeanwhile: return tagFailed(TagFailure::ChangedDuringScan);
        case platform::ReplaceResult::Failed: break;
    }
    return tagFailed(TagFailure::System, replaced.error);
}

// Whether the file may be touched at all: unchanged since its analysis
// (or changed only by this scan's own write), and inside the scanned paths.
// `expected` is what it is now.
TagOutcome checkIdentity(const TagJob& job, bool& ourOwnWrite, platform::FileIdentity& expected) {
    platform::FileStatus status;
    int error = 0;
    if (!platform::readFileStatus(job.record.path, status, error)) return tagFailed(TagFailure::System, error);
    {
        const std::lock_guard<std::mutex> lock(registryMutex);
        const auto written = writtenFiles.find(job.path);
        ourOwnWrite = written != writtenFiles.end() && written->second.first == job.record.identity &&
                      written->second.second == status.identity;
    }
    if (status.identity != job.record.identity && !ourOwnWrite) return tagFailed(TagFailure::ChangedDuringScan);
    if (!within(job.path, job.settings.roots)) return tagFailed(TagFailure::LinkOutsideScan);
    expected = status.identity;
    return TagOutcome{};
}

// The tempo text the file's tag holds now.
TagOutcome readHeldText(const TagJob& job, std::string& text) {
    if (job.record.content == AudioContainer::Mp4) {
        return mp4Tempo(job.path, text) ? TagOutcome{} : tagFailed(TagFailure::FormatNotTaggable);
    }
    const MappedFile file(job.path);
    if (!file.open) return tagFailed(TagFailure::System, file.error);
    const TagLayout layout = readTempoText(job.record.content, file.bytes(), text);
    return file.whole() ? fromLayout(layout) : tagFailed(TagFailure::ChangedDuringScan);
}

// What is decided from the record alone: the format, a damaged file, a
// doubtful tempo. No action when the tag is to be looked at.
TagOutcome decideFromRecord(const ScanRecord& record, const TagSettings& settings) {
    const AudioContainer content = record.content;
    if (!editsTagBytes(content) && content != AudioContainer::Mp4) {
        return tagNotTaggable(content == AudioContainer::Unknown ? "unknown" : containerName(content));
    }
    if (record.endsEarly) return tagFailed(TagFailure::EndsEarly);
    if (settings.minConfidence > 0.0 && record.confidence && *record.confidence < settings.minConfidence) {
        return tagHeld(*record.confidence);
    }
    return TagOutcome{};
}

// Everything decided before a write: what the file holds now, and whether
// it could be replaced. No action when the write is to go ahead.
TagOutcome decide(const TagJob& job, bool& ourOwnWrite, platform::FileIdentity& expected) {
    if (TagOutcome refused = checkIdentity(job, ourOwnWrite, expected); refused.action != TagAction::None) return refused;
    if (TagOutcome decided = decideFromRecord(job.record, job.settings); decided.action != TagAction::None) return decided;
    std::string held;
    if (TagOutcome refused = readHeldText(job, held); refused.failure) return refused;
    const double tempo = heldTempo(held);
    if (tempo == static_cast<double>(job.record.bpm)) return tagDone(TagAction::Unchanged);
    if (tempo != 0.0 && !job.settings.overwrite) return tagKept(held);
    if (TagOutcome refused = fromCheck(platform::checkReplaceable(job.path, kTagHeadroom)); refused.failure) {
        return refused;
    }
    if (job.settings.dryRun) return tagDone(TagAction::WouldWrite);
    return TagOutcome{};
}

// The outcome for one file; called with the file's lock held.
TagOutcome tagOutcome(const TagJob& job, bool& stopped) {
    const ScanRecord& record = job.record;
    int error = 0;
    bool ourOwnWrite = false;
    platform::FileIdentity expected;
    if (TagOutcome decided = decide(job, ourOwnWrite, expected); decided.action != TagAction::None) return decided;
    if (stopAsked(job.settings)) {
        stopped = true;
        return TagOutcome{};
    }
    const TagOutcome written = writeThroughCopy(job, expected, stopped);
    if (written.action != TagAction::Written) return written;
    platform::FileStatus after;
    if (platform::readFileStatus(job.path, after, error)) {
        const std::lock_guard<std::mutex> lock(registryMutex);
        writtenFiles[job.path] = {ourOwnWrite ? writtenFiles[job.path].first : record.identity, after.identity};
    }
    return written;
}

}  // namespace

bool tagWritingAvailable() { return true; }

std::vector<std::string> tagRoots(const std::vector<std::string>& paths) {
    std::vector<std::string> roots;
    for (const std::string& path : paths) {
        int error = 0;
        std::string root = platform::realPath(path, error);
        if (!root.empty()) roots.push_back(std::move(root));
    }
    return roots;
}

std::vector<std::string> removeLeftCopies(const std::vector<std::string>& copies) {
    std::vector<std::string> removed;
    for (const std::string& copy : copies) {
        if (platform::removeUnheldCopy(copy)) removed.push_back(copy);
    }
    return removed;
}

bool applyTempoTag(ScanRecord& record, const TagSettings& settings) {
    if (!settings.write || record.status != ScanStatus::Ok) return true;
    int error = 0;
    const TagJob job{record, settings, platform::realPath(record.path, error)};
    if (job.path.empty()) {
        record.tag = tagFailed(TagFailure::System, error);
        return true;
    }
    const std::shared_ptr<std::mutex> fileLock = lockOf(job.path);
    const std::lock_guard<std::mutex> lock(*fileLock);
    bool stopped = false;
    record.tag = tagOutcome(job, stopped);
    return !stopped;
}

}  // namespace tempo::scan
