// Tags are written with TagLib one file at a time (two paths of one scan
// may name the same file through a link). For MP3 and WAVE only the ID3v2
// tag is rewritten, in the version it already had, so an ID3v1 tag, an APE
// tag or a RIFF INFO list stays exactly as it was; every other format goes
// through TagLib's generic property interface, whose BPM property is the
// format's own tempo field.
//
// A file is never written in place. TagLib does not notice a write that
// fails for want of space, and a tag that grows shifts the audio behind
// it, so a full disk could cut the end off a song. Instead the file is
// copied beside itself, room for the tag to grow is reserved, the copy is
// tagged, flushed and read back (the tempo and the audio's length, rate
// and channels as before), given the original's mode, owner and extended
// attributes, and only then renamed over the original. Any failure leaves
// the original as it was and removes the copy. A file with several hard
// links is refused: a rename would part it from its other names.

#include "scan/tags.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "scan/analyse_file.hpp"
#include "scan/descriptor.hpp"
#include "scan/platform.hpp"

#include <taglib/aifffile.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

namespace tempo::scan {
namespace {

// Room reserved for a tag to grow by: a tempo frame is a few bytes, and a
// rewritten tag or metadata block, with its padding, grows by far less.
constexpr off_t kTagHeadroom = 1 << 20;

std::mutex tagMutex;
// Files this scan has written, by their real path: the identity before and
// after, so a second path to the same file is not taken for a file changed
// by someone else.
std::map<std::string, std::pair<FileIdentity, FileIdentity>> writtenFiles;

// The real path of `path` (links resolved), or empty with errno set.
std::string realPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::string();
    std::string result = resolved;
    std::free(resolved);
    return result;
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

TagOutcome failed(TagFailure failure, std::string detail = std::string()) {
    return {TagAction::Failed, failure, std::move(detail)};
}

TagOutcome systemError(int error) { return failed(TagFailure::System, systemReason(error)); }

bool within(const std::string& path, const std::vector<std::string>& roots) {
    for (const std::string& root : roots) {
        if (path == root) return true;
        const std::string prefix = root == "/" ? root : root + "/";
        if (path.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

// True for the 64-bit WAVE forms, whose sizes TagLib would rewrite as if
// they were the 32-bit ones.
bool isWideWave(const std::string& path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char id[4] = {};
    if (fd.get() < 0 || ::read(fd.get(), id, 4) != 4) return false;
    return std::memcmp(id, "RF64", 4) == 0 || std::memcmp(id, "BW64", 4) == 0;
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

AudioShape shapeOf(const TagLib::FileRef& ref) {
    AudioShape shape;
    if (const TagLib::AudioProperties* audio = ref.audioProperties()) {
        shape.lengthMs = audio->lengthInMilliseconds();
        shape.sampleRate = audio->sampleRate();
        shape.channels = audio->channels();
    }
    return shape;
}

// A copy of a file beside it, removed unless it is renamed into place.
class SideCopy {
public:
    SideCopy() = default;
    SideCopy(const SideCopy&) = delete;
    SideCopy& operator=(const SideCopy&) = delete;
    ~SideCopy() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    // Copies `original` (open on `source`, `size` bytes) to a new file in
    // its folder and reserves room to grow; no action, or the failure.
    TagOutcome make(const std::string& original, int source, off_t size) {
        const std::size_t slash = original.rfind('/');
        std::string name = original.substr(0, slash + 1) + "." + original.substr(slash + 1) + ".tempo-XXXXXX";
        std::vector<char> buffer(name.begin(), name.end());
        buffer.push_back('\0');
        Descriptor copy(::mkostemp(buffer.data(), O_CLOEXEC));
        if (copy.get() < 0) return systemError(errno);
        path_ = buffer.data();
        std::vector<char> block(1 << 16);
        for (;;) {
            const ssize_t got = ::read(source, block.data(), block.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return systemError(errno);
            if (got == 0) break;
            for (ssize_t put = 0; put < got;) {
                const ssize_t wrote = ::write(copy.get(), block.data() + put, static_cast<std::size_t>(got - put));
                if (wrote < 0 && errno == EINTR) continue;
                if (wrote < 0) return systemError(errno);
                put += wrote;
            }
        }
        // The blocks the tag may grow into, taken now so that no write of
        // TagLib's can run out of space.
        if (::fallocate(copy.get(), FALLOC_FL_KEEP_SIZE, 0, size + kTagHeadroom) != 0 && errno != EOPNOTSUPP &&
            errno != ENOSYS) {
            return systemError(errno);
        }
        if (::fsync(copy.get()) != 0 || !copy.close()) return systemError(errno);
        return TagOutcome{};
    }
    // Gives the copy the original's mode, owner (where permitted) and
    // extended attributes, flushes it and renames it over `original`.
    TagOutcome replace(const std::string& original, int source, const struct stat& status) {
        Descriptor copy(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
        if (copy.get() < 0) return systemError(errno);
        if (::fchown(copy.get(), status.st_uid, status.st_gid) != 0 && errno != EPERM) return systemError(errno);
        if (::fchmod(copy.get(), status.st_mode & 07777) != 0) return systemError(errno);
        copyAttributes(source, copy.get());
        if (::fsync(copy.get()) != 0) return systemError(errno);
        if (::rename(path_.c_str(), original.c_str()) != 0) return systemError(errno);
        path_.clear();
        const std::size_t slash = original.rfind('/');
        Descriptor folder(::open(original.substr(0, slash + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() >= 0) ::fsync(folder.get());
        return TagOutcome{};
    }

private:
    // Extended attributes (ACLs, labels, user data) that can be copied;
    // one the system will not set here is left behind.
    static void copyAttributes(int from, int to) {
        const ssize_t size = ::flistxattr(from, nullptr, 0);
        if (size <= 0) return;
        std::vector<char> names(static_cast<std::size_t>(size));
        const ssize_t got = ::flistxattr(from, names.data(), names.size());
        for (ssize_t at = 0; at < got;) {
            const char* name = names.data() + at;
            at += static_cast<ssize_t>(std::strlen(name)) + 1;
            const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
            if (length < 0) continue;
            std::vector<char> value(static_cast<std::size_t>(length) + 1);
            const ssize_t read = ::fgetxattr(from, name, value.data(), value.size());
            if (read >= 0) ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(read), 0);
        }
    }

    std::string path_;
};

// Tags a copy of `path` (its real path) and puts it in place; no action, or
// the failure.
TagOutcome writeThroughCopy(const std::string& path, int bpm, const AudioShape& shape) {
    Descriptor source(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (source.get() < 0 || ::fstat(source.get(), &status) != 0) return systemError(errno);
    if (status.st_nlink > 1) return failed(TagFailure::SeveralHardLinks);
    SideCopy copy;
    const TagOutcome made = copy.make(path, source.get(), status.st_size);
    if (made.action != TagAction::None) return made;
    {
        TagLib::FileRef ref(copy.path().c_str(), false);
        if (ref.isNull()) return failed(TagFailure::FormatNotTaggable);
        const TagTarget target = targetOf(ref.file());
        if (!setBpm(target, bpm)) return failed(TagFailure::NoTempoField);
        if (!save(target)) return failed(TagFailure::SaveFailed);
    }
    {
        Descriptor written(::open(copy.path().c_str(), O_RDONLY | O_CLOEXEC));
        if (written.get() < 0 || ::fsync(written.get()) != 0) return systemError(errno);
        const TagLib::FileRef back(copy.path().c_str(), true);
        std::string text;
        if (back.isNull() || heldTempo(propertiesOf(targetOf(back.file())), text) != static_cast<double>(bpm) ||
            !(shapeOf(back) == shape)) {
            return failed(TagFailure::DidNotReadBack);
        }
    }
    return copy.replace(path, source.get(), status);
}

// The outcome for one file; called with tagMutex held.
TagOutcome tagOutcome(const ScanRecord& record, const TagSettings& settings) {
    FileStatus status;
    int error = 0;
    if (!readFileStatus(record.path, status, error)) return systemError(error);
    const FileIdentity now = status.identity;
    const std::string path = realPath(record.path);
    if (path.empty()) return systemError(errno);
    const auto written = writtenFiles.find(path);
    const bool ourOwnWrite =
        written != writtenFiles.end() && written->second.first == record.identity && written->second.second == now;
    if (now != record.identity && !ourOwnWrite) return failed(TagFailure::ChangedDuringScan);
    if (!within(path, settings.roots)) return failed(TagFailure::LinkOutsideScan);
    if (isWideWave(path)) return failed(TagFailure::FormatNotTaggable);

    const TagLib::FileRef ref(path.c_str(), true);
    if (ref.isNull()) return failed(TagFailure::FormatNotTaggable);
    std::string held;
    const double tempo = heldTempo(propertiesOf(targetOf(ref.file())), held);
    if (tempo == static_cast<double>(record.bpm)) return {TagAction::Unchanged, TagFailure::System, std::string()};
    if (tempo != 0.0 && !settings.overwrite) return {TagAction::Kept, TagFailure::System, held};
    if (settings.dryRun) return {TagAction::WouldWrite, TagFailure::System, std::string()};
    if (ref.file()->readOnly() || ::access(path.c_str(), W_OK) != 0) return failed(TagFailure::NotWritable);
    const TagOutcome outcome = writeThroughCopy(path, record.bpm, shapeOf(ref));
    if (outcome.action != TagAction::None) return outcome;
    FileStatus after;
    if (readFileStatus(path, after, error)) writtenFiles[path] = {ourOwnWrite ? written->second.first : now, after.identity};
    return {TagAction::Written, TagFailure::System, std::string()};
}

}  // namespace

bool tagWritingAvailable() { return true; }

std::vector<std::string> tagRoots(const std::vector<std::string>& paths) {
    std::vector<std::string> roots;
    for (const std::string& path : paths) {
        std::string root = realPath(path);
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
