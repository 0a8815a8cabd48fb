// Tags are written with TagLib one file at a time (two paths of one scan
// may name the same file through a link). What a file is comes from its
// content, never its name nor TagLib's own guess: the TagLib class for that
// content alone opens it, and a content this tool does not tag (Matroska,
// WebM, RF64, anything unknown) is refused untouched. For MP3 and WAVE
// only the ID3v2 tag is rewritten, in the version it already had, so an
// ID3v1 tag, an APE tag or a RIFF INFO list stays exactly as it was; every
// other format goes through TagLib's generic property interface, whose
// BPM property is the format's own tempo field.
//
// A file is never written in place: TagLib does not notice a write that
// fails for want of space, and a tag that grows shifts the audio behind
// it. Instead the file is copied beside itself (platform/safe_replace),
// the copy is tagged, flushed and verified, and only then renamed over the
// original. Verified means: the tag reads back with the new tempo; the
// audio is the original's (a WAVE read in place has the same data chunk,
// byte for byte; anything decoded decodes to samples with the same hash
// as the original's did on their way into the analysis, and the decoder
// does not complain); and the decoder lists the same streams with the same
// packets (a cover, a second stream, nothing lost or added).

#include "tags/tags.hpp"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "input/wave_header.hpp"
#include "platform/file_image.hpp"
#include "platform/files.hpp"
#include "platform/path.hpp"
#include "platform/safe_replace.hpp"
#include "decode/in_process_decode.hpp"

#include <taglib/aifffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>

namespace tempo::scan {
namespace {

// Room reserved for a tag to grow by: a tempo frame is a few bytes, and a
// rewritten tag or metadata block, with its padding, grows by far less.
constexpr std::uint64_t kTagHeadroom = 1 << 20;
// The data chunks of a WAVE and its copy are compared this much at a time,
// each slice's pages handed back after.
constexpr std::uint64_t kCompareSlice = 4 << 20;

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
        const std::string prefix = root == "/" ? root : root + "/";
        if (path.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

bool stopAsked(const TagSettings& settings) { return settings.stop != nullptr && settings.stop->load(); }

// The TagLib class made for `container`, or nullptr for one whose tags
// this tool does not write.
std::unique_ptr<TagLib::File> openTagged(AudioContainer container, const std::string& path) {
    const char* name = path.c_str();
    switch (container) {
        case AudioContainer::Mpeg: return std::make_unique<TagLib::MPEG::File>(name, false);
        case AudioContainer::Flac: return std::make_unique<TagLib::FLAC::File>(name, false);
        case AudioContainer::OggVorbis: return std::make_unique<TagLib::Ogg::Vorbis::File>(name, false);
        case AudioContainer::OggOpus: return std::make_unique<TagLib::Ogg::Opus::File>(name, false);
        case AudioContainer::OggFlac: return std::make_unique<TagLib::Ogg::FLAC::File>(name, false);
        case AudioContainer::Mp4: return std::make_unique<TagLib::MP4::File>(name, false);
        case AudioContainer::Wave: return std::make_unique<TagLib::RIFF::WAV::File>(name, false);
        case AudioContainer::Aiff: return std::make_unique<TagLib::RIFF::AIFF::File>(name, false);
        default: return nullptr;
    }
}

// The tag that holds the BPM property of `file`, and how to save it.
struct TagTarget {
    TagLib::ID3v2::Tag* tag = nullptr;  // nullptr: the whole file's properties
    TagLib::File* file = nullptr;
};

TagTarget targetOf(TagLib::File* file) {
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) return {mpeg->ID3v2Tag(true), file};
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) return {wav->ID3v2Tag(), file};
    return {nullptr, file};
}

TagLib::PropertyMap propertiesOf(const TagTarget& target) {
    return target.tag != nullptr ? target.tag->properties() : target.file->properties();
}

// Sets the BPM property; false when the format has no place for it.
bool setBpm(const TagTarget& target, int bpm) {
    TagLib::PropertyMap properties = propertiesOf(target);
    properties.replace("BPM", TagLib::StringList(TagLib::String(std::to_string(bpm))));
    const TagLib::PropertyMap refused =
        target.tag != nullptr ? target.tag->setProperties(properties) : target.file->setProperties(properties);
    return !refused.contains("BPM");
}

bool save(const TagTarget& target) {
    const auto version = [](TagLib::ID3v2::Tag* tag) {
        return tag->header()->majorVersion() == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
    };
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(target.file)) {
        return mpeg->save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, version(mpeg->ID3v2Tag()),
                          TagLib::File::DoNotDuplicate);
    }
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(target.file)) {
        return wav->save(TagLib::RIFF::WAV::File::ID3v2, TagLib::File::StripNone, version(wav->ID3v2Tag()));
    }
    return target.file->save();
}

// The tempo held in the file's tag, or 0 where there is none (an empty
// field, or a 0 that some programs write for "unknown").
double heldTempo(const TagLib::PropertyMap& properties, std::string& text) {
    if (!properties.contains("BPM") || properties["BPM"].isEmpty()) return 0.0;
    text = properties["BPM"].front().to8Bit(true);
    if (text.find_first_not_of(' ') == std::string::npos) return 0.0;
    double value = 0.0;
    return tempoIn(text, value) ? value : -1.0;  // -1: something not a number, kept as set by hand
}

TagOutcome fromCheck(const platform::ReplaceCheck& check) {
    switch (check.block) {
        case platform::ReplaceBlock::None: return TagOutcome{};
        case platform::ReplaceBlock::SeveralHardLinks: return tagFailed(TagFailure::SeveralHardLinks);
        case platform::ReplaceBlock::NotWritable: return tagFailed(TagFailure::NotWritable);
        case platform::ReplaceBlock::FolderNotWritable: return tagFailed(TagFailure::FolderNotWritable);
        case platform::ReplaceBlock::OwnerNotKept: return tagFailed(TagFailure::OwnerNotKept);
        case platform::ReplaceBlock::NoSpace:
        case platform::ReplaceBlock::System: return tagFailed(TagFailure::System, check.error);
    }
    return tagFailed(TagFailure::System, check.error);
}

// What one write works on.
struct TagJob {
    const ScanRecord& record;
    const TagSettings& settings;
    std::string path;  // the real path
};

// Whether the data chunks of two WAVE files hold the same samples at the
// same rate, byte for byte.
bool sameWaveData(const std::string& original, const std::string& copy) {
    FileImage images[2];
    WaveData waves[2];
    const std::string* paths[2] = {&original, &copy};
    bool readable = true;
    for (int i = 0; i < 2; ++i) {
        readable = readable && openFileImage(platform::nativePath(*paths[i]).c_str(), images[i]) == WaveCheckResult::Ok &&
                   checkWaveHeader(bytesOf(images[i]), waves[i]) == WaveCheckResult::Ok;
    }
    bool same = readable && waves[0].sampleRate == waves[1].sampleRate && waves[0].dataSize == waves[1].dataSize;
    const auto offset = [](const FileImage& image, const WaveData& wave) {
        return static_cast<std::uint64_t>(wave.samples - image.bytes);
    };
    for (std::uint64_t at = 0; same && at < waves[0].dataSize; at += kCompareSlice) {
        const std::uint64_t length = std::min<std::uint64_t>(kCompareSlice, waves[0].dataSize - at);
        same = std::memcmp(waves[0].samples + at, waves[1].samples + at, static_cast<std::size_t>(length)) == 0;
        for (int i = 0; i < 2; ++i) releaseFileImageBefore(images[i], offset(images[i], waves[i]) + at + length);
    }
    same = same && !fileImageLostBytes(images[0]) && !fileImageLostBytes(images[1]);
    for (FileImage& image : images) closeFileImage(image);
    return same;
}

// The decoder's own words where it complained, else how it ended.
std::string decoderSaid(const ScanError& error) {
    return error.decoderLine.empty() ? scanFailureText(error) : error.decoderLine;
}

// What a decode of the copy says against the samples of the original's
// analysis ("" when nothing differs).
std::string decodeDifference(const DecodedTempo& decoded, const StreamHash& original) {
    if (decoded.outcome != DecodeOutcome::Decoded) return "decoder: " + decoderSaid(decoded.error);
    if (!decoded.complaint.empty()) return "decoder: " + decoded.complaint;
    const bool same = decoded.audio.totalBytes == original.totalBytes && hashValue(decoded.audio) == hashValue(original);
    return same ? std::string() : "audio";
}

// What differs between the in-process decoder's reading of the original
// and of the copy ("" when nothing does): the samples, then the streams as
// ffmpeg lists them where it is there (without it, the samples decoded
// bit for bit and the tag read back are the check).
std::string inProcessDifference(const TagJob& job, const std::string& copy) {
    const DecodeSettings& decoder = job.settings.decoder;
    DecodedTempo decoded;
    if (!decodeAudioInProcess(copy, decoder, decoded)) return "decoder: the copy is not read as the file was";
    const std::string samples = decodeDifference(decoded, job.record.audio);
    if (!samples.empty()) return samples;
    std::vector<std::string> before;
    std::vector<std::string> after;
    ScanError error;
    if (!listStreams(job.path, decoder, before, error)) {
        return error.failure == ScanFailure::DecoderMissing ? std::string()
                                                             : "decoder on the original: " + decoderSaid(error);
    }
    if (!listStreams(copy, decoder, after, error)) return "decoder: " + decoderSaid(error);
    return before == after ? std::string() : "streams";
}

// What differs between the decoder's reading of the original and of the
// copy ("" when nothing does).
std::string decodedDifference(const TagJob& job, const std::string& copy) {
    const DecodeSettings& decoder = job.settings.decoder;
    std::vector<std::string> before;
    std::vector<std::string> after;
    ScanError error;
    if (!listStreams(job.path, decoder, before, error)) return "decoder on the original: " + decoderSaid(error);
    const DecodedTempo decoded = decodeAudio(copy, job.record.content, decoder, &after);
    if (decoded.outcome == DecodeOutcome::Decoded && decoded.complaint.empty() && before != after) return "streams";
    return decodeDifference(decoded, job.record.audio);
}

// What differs between the file and its tagged copy, besides the tempo
// ("" when nothing does).
std::string difference(const TagJob& job, const std::string& copy) {
    {
        const std::lock_guard<std::mutex> lock(taglibMutex);
        const std::unique_ptr<TagLib::File> back = openTagged(job.record.content, copy);
        std::string text;
        if (!back || !back->isValid() || heldTempo(propertiesOf(targetOf(back.get())), text) != job.record.bpm) {
            return "tag";
        }
    }
    if (job.record.source == AudioSource::InPlace) return sameWaveData(job.path, copy) ? std::string() : "audio";
    if (job.record.source == AudioSource::InProcess) return inProcessDifference(job, copy);
    return decodedDifference(job, copy);
}

// Tags a copy of the file, verifies it and puts it in place; no action,
// the failure, or Interrupted (action None with no failure) when a stop
// came before the replace.
TagOutcome writeThroughCopy(const TagJob& job, bool& stopped) {
    platform::SiblingCopy copy;
    if (const int error = copy.make(job.path, kTagHeadroom)) return tagFailed(TagFailure::System, error);
    {
        const std::lock_guard<std::mutex> lock(taglibMutex);
        const std::unique_ptr<TagLib::File> file = openTagged(job.record.content, copy.path());
        if (!file || !file->isValid()) return tagFailed(TagFailure::FormatNotTaggable);
        const TagTarget target = targetOf(file.get());
        if (!setBpm(target, job.record.bpm)) return tagFailed(TagFailure::NoTempoField);
        if (!save(target)) return tagFailed(TagFailure::SaveFailed);
    }
    if (const int error = copy.settle()) return tagFailed(TagFailure::System, error);
    std::string differs = difference(job, copy.path());
    // No replace starts after a stop (which may also have cut the check
    // short): the copy goes, the file stays.
    if (stopAsked(job.settings)) {
        stopped = true;
        return TagOutcome{};
    }
    if (!differs.empty()) return tagFailed(TagFailure::DidNotVerify, std::move(differs));
    if (const int error = copy.replaceOriginal()) return tagFailed(TagFailure::System, error);
    return tagDone(TagAction::Written);
}

// Whether the file may be touched at all: unchanged since its analysis
// (or changed only by this scan's own write), and inside the scanned paths.
TagOutcome checkIdentity(const TagJob& job, bool& ourOwnWrite) {
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
    return TagOutcome{};
}

// Everything decided before a write: what the file holds now, and whether
// it could be replaced. No action when the write is to go ahead.
TagOutcome decide(const TagJob& job, bool& ourOwnWrite) {
    if (TagOutcome refused = checkIdentity(job, ourOwnWrite); refused.failure) return refused;
    std::string held;
    double tempo = 0.0;
    {
        const std::lock_guard<std::mutex> lock(taglibMutex);
        const std::unique_ptr<TagLib::File> file = openTagged(job.record.content, job.path);
        if (!file) {
            const AudioContainer content = job.record.content;
            return tagFailed(TagFailure::FormatNotWritten,
                             content == AudioContainer::Unknown ? "this format's" : containerName(content));
        }
        if (!file->isValid()) return tagFailed(TagFailure::FormatNotTaggable);
        tempo = heldTempo(propertiesOf(targetOf(file.get())), held);
    }
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
    const TagSettings& settings = job.settings;
    int error = 0;
    bool ourOwnWrite = false;
    if (TagOutcome decided = decide(job, ourOwnWrite); decided.action != TagAction::None) return decided;
    if (stopAsked(settings)) {
        stopped = true;
        return TagOutcome{};
    }
    const TagOutcome written = writeThroughCopy(job, stopped);
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
