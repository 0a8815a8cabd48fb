// Tags are written with TagLib, in place, one file at a time (two paths of
// one scan may name the same file through a link). For MP3 and WAVE only
// the ID3v2 tag is rewritten, in the version it already had, so an ID3v1
// tag, an APE tag or a RIFF INFO list stays exactly as it was; every other
// format goes through TagLib's generic property interface, whose BPM
// property is the format's own tempo field.

#include "scan/tags.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "scan/analyse_file.hpp"

#ifdef TEMPO_HAVE_TAGLIB
#include <taglib/aifffile.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#endif

namespace tempo::scan {
namespace {

std::mutex tagMutex;
// Files this scan has written: the identity before and after, so a second
// path to the same file is not taken for a file changed by someone else.
std::map<std::pair<std::uint64_t, std::uint64_t>, std::pair<FileIdentity, FileIdentity>> writtenFiles;

// True when `text` is a number equal to `bpm` ("128", " 128.0").
bool sameTempo(const std::string& text, int bpm) {
    const char* start = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start) return false;
    while (*end == ' ') ++end;
    return *end == '\0' && value == static_cast<double>(bpm);
}

#ifdef TEMPO_HAVE_TAGLIB

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

// The outcome for one file; called with tagMutex held.
std::string tagOutcome(const ScanRecord& record, const TagSettings& settings) {
    FileIdentity now;
    if (!readIdentity(record.path, now)) return "error: " + std::string(std::strerror(errno));
    const auto key = std::make_pair(now.device, now.inode);
    const auto written = writtenFiles.find(key);
    const bool ourOwnWrite =
        written != writtenFiles.end() && written->second.first == record.identity && written->second.second == now;
    if (now != record.identity && !ourOwnWrite) return "error: changed during scan";

    TagLib::FileRef ref(record.path.c_str(), false);
    if (ref.isNull()) return "error: TagLib cannot tag this format";
    const TagTarget target = targetOf(ref.file());
    const TagLib::PropertyMap properties = propertiesOf(target);
    if (properties.contains("BPM") && !properties["BPM"].isEmpty()) {
        const std::string held = properties["BPM"].front().to8Bit(true);
        if (sameTempo(held, record.bpm)) return "unchanged";
        if (!settings.overwrite) return "kept " + held;
    }
    if (settings.dryRun) return "would write";
    if (ref.file()->readOnly()) return "error: file cannot be written";
    if (!setBpm(target, record.bpm)) return "error: this format has no tempo tag";
    if (!save(target)) return "error: TagLib could not save the file";
    FileIdentity after;
    if (readIdentity(record.path, after)) writtenFiles[key] = {ourOwnWrite ? written->second.first : now, after};
    return "written";
}

#endif

}  // namespace

bool tagWritingAvailable() {
#ifdef TEMPO_HAVE_TAGLIB
    return true;
#else
    return false;
#endif
}

void applyTempoTag(ScanRecord& record, const TagSettings& settings) {
    if (!settings.write || record.status != ScanStatus::Ok) return;
#ifdef TEMPO_HAVE_TAGLIB
    const std::lock_guard<std::mutex> lock(tagMutex);
    record.tag = tagOutcome(record, settings);
#else
    record.tag = "error: built without TagLib";
#endif
}

}  // namespace tempo::scan
