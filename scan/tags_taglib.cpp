// Tags are written with TagLib one file at a time (two paths of one scan
// may name the same file through a link). What a file is comes from its
// content, never its name nor TagLib's own guess, and the TagLib class for
// that content alone opens it. For MP3 and WAVE only the ID3v2 tag is
// rewritten, in the version it already had, so an ID3v1 tag, an APE tag or
// a RIFF INFO list stays exactly as it was; every other format goes
// through TagLib's generic property interface, whose BPM property is the
// format's own tempo field.
//
// A file is never written in place: TagLib does not notice a write that
// fails for want of space, and a tag that grows shifts the audio behind
// it, so a full disk could cut the end off a song. Instead the file is
// copied beside itself (platform/safe_replace), the copy is tagged and
// read back, and only then renamed over the original.

#include "scan/tags.hpp"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "input/audio_container.hpp"
#include "platform/file_image.hpp"
#include "platform/files.hpp"
#include "platform/path.hpp"
#include "platform/safe_replace.hpp"

#include <taglib/aifffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>

namespace tempo::scan {
namespace {

// Room reserved for a tag to grow by: a tempo frame is a few bytes, and a
// rewritten tag or metadata block, with its padding, grows by far less.
constexpr std::uint64_t kTagHeadroom = 1 << 20;

std::mutex tagMutex;
// Files this scan has written, by their real path: the identity before and
// after, so a second path to the same file is not taken for a file changed
// by someone else.
std::map<std::string, std::pair<platform::FileIdentity, platform::FileIdentity>> writtenFiles;

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

// What the file at `path` is, from its bytes.
AudioContainer contentOf(const std::string& path) {
    FileImage image;
    if (openFileImage(platform::nativePath(path).c_str(), image) != WaveCheckResult::Ok) {
        closeFileImage(image);
        return AudioContainer::Unknown;
    }
    const AudioContainer container = identifyContainer(bytesOf(image));
    closeFileImage(image);
    return container;
}

// The TagLib class made for `container`, or nullptr for one whose tags
// this tool does not write.
std::unique_ptr<TagLib::File> openTagged(AudioContainer container, const std::string& path, bool readAudio) {
    const char* name = path.c_str();
    switch (container) {
        case AudioContainer::Mpeg: return std::make_unique<TagLib::MPEG::File>(name, readAudio);
        case AudioContainer::Flac: return std::make_unique<TagLib::FLAC::File>(name, readAudio);
        case AudioContainer::OggVorbis: return std::make_unique<TagLib::Ogg::Vorbis::File>(name, readAudio);
        case AudioContainer::OggOpus: return std::make_unique<TagLib::Ogg::Opus::File>(name, readAudio);
        case AudioContainer::Mp4: return std::make_unique<TagLib::MP4::File>(name, readAudio);
        case AudioContainer::Wave: return std::make_unique<TagLib::RIFF::WAV::File>(name, readAudio);
        case AudioContainer::Aiff: return std::make_unique<TagLib::RIFF::AIFF::File>(name, readAudio);
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

// What a read-back compares: the audio as TagLib describes it.
struct AudioShape {
    int lengthMs = -1;
    int sampleRate = -1;
    int channels = -1;
    bool operator==(const AudioShape& o) const {
        return lengthMs == o.lengthMs && sampleRate == o.sampleRate && channels == o.channels;
    }
};

AudioShape shapeOf(const TagLib::File& file) {
    AudioShape shape;
    if (const TagLib::AudioProperties* audio = file.audioProperties()) {
        shape.lengthMs = audio->lengthInMilliseconds();
        shape.sampleRate = audio->sampleRate();
        shape.channels = audio->channels();
    }
    return shape;
}

TagOutcome fromCheck(const platform::ReplaceCheck& check) {
    switch (check.block) {
        case platform::ReplaceBlock::None: return TagOutcome{};
        case platform::ReplaceBlock::SeveralHardLinks: return tagFailed(TagFailure::SeveralHardLinks);
        case platform::ReplaceBlock::NotWritable:
        case platform::ReplaceBlock::FolderNotWritable:
        case platform::ReplaceBlock::OwnerNotKept: return tagFailed(TagFailure::NotWritable);
        case platform::ReplaceBlock::NoSpace:
        case platform::ReplaceBlock::System: return tagFailed(TagFailure::System, check.error);
    }
    return tagFailed(TagFailure::System, check.error);
}

// Tags a copy of `path` (its real path, holding `container`) and puts it
// in place; no action, or the failure.
TagOutcome writeThroughCopy(const std::string& path, AudioContainer container, int bpm, const AudioShape& shape) {
    platform::SiblingCopy copy;
    if (const int error = copy.make(path, kTagHeadroom)) return tagFailed(TagFailure::System, error);
    {
        const std::unique_ptr<TagLib::File> file = openTagged(container, copy.path(), false);
        if (!file || !file->isValid()) return tagFailed(TagFailure::FormatNotTaggable);
        const TagTarget target = targetOf(file.get());
        if (!setBpm(target, bpm)) return tagFailed(TagFailure::NoTempoField);
        if (!save(target)) return tagFailed(TagFailure::SaveFailed);
    }
    if (const int error = copy.settle()) return tagFailed(TagFailure::System, error);
    {
        const std::unique_ptr<TagLib::File> back = openTagged(container, copy.path(), true);
        std::string text;
        if (!back || !back->isValid() || heldTempo(propertiesOf(targetOf(back.get())), text) != bpm ||
            !(shapeOf(*back) == shape)) {
            return tagFailed(TagFailure::DidNotReadBack);
        }
    }
    if (const int error = copy.replaceOriginal()) return tagFailed(TagFailure::System, error);
    return TagOutcome{};
}

// Whether the file may be touched at all: unchanged since its analysis
// (or changed only by this scan's own write), and inside the scanned paths.
TagOutcome checkIdentity(const ScanRecord& record, const std::string& path, const TagSettings& settings,
                         bool& ourOwnWrite) {
    platform::FileStatus status;
    int error = 0;
    if (!platform::readFileStatus(record.path, status, error)) return tagFailed(TagFailure::System, error);
    const auto written = writtenFiles.find(path);
    ourOwnWrite = written != writtenFiles.end() && written->second.first == record.identity &&
                  written->second.second == status.identity;
    if (status.identity != record.identity && !ourOwnWrite) return tagFailed(TagFailure::ChangedDuringScan);
    if (!within(path, settings.roots)) return tagFailed(TagFailure::LinkOutsideScan);
    return TagOutcome{};
}

// The outcome for one file; called with tagMutex held.
TagOutcome tagOutcome(const ScanRecord& record, const TagSettings& settings) {
    int error = 0;
    const std::string path = platform::realPath(record.path, error);
    if (path.empty()) return tagFailed(TagFailure::System, error);
    bool ourOwnWrite = false;
    if (TagOutcome refused = checkIdentity(record, path, settings, ourOwnWrite); refused.failure) return refused;
    const AudioContainer container = contentOf(path);
    const std::unique_ptr<TagLib::File> file = openTagged(container, path, true);
    if (!file || !file->isValid()) return tagFailed(TagFailure::FormatNotTaggable);
    std::string held;
    const double tempo = heldTempo(propertiesOf(targetOf(file.get())), held);
    if (tempo == static_cast<double>(record.bpm)) return tagDone(TagAction::Unchanged);
    if (tempo != 0.0 && !settings.overwrite) return tagKept(held);
    if (TagOutcome refused = fromCheck(platform::checkReplaceable(path, kTagHeadroom)); refused.failure) return refused;
    if (settings.dryRun) return tagDone(TagAction::WouldWrite);
    if (TagOutcome failed = writeThroughCopy(path, container, record.bpm, shapeOf(*file)); failed.failure) {
        return failed;
    }
    platform::FileStatus after;
    if (platform::readFileStatus(path, after, error)) {
        writtenFiles[path] = {ourOwnWrite ? writtenFiles[path].first : record.identity, after.identity};
    }
    return tagDone(TagAction::Written);
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

void applyTempoTag(ScanRecord& record, const TagSettings& settings) {
    if (!settings.write || record.status != ScanStatus::Ok) return;
    const std::lock_guard<std::mutex> lock(tagMutex);
    record.tag = tagOutcome(record, settings);
}

}  // namespace tempo::scan
