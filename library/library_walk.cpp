// The walk: depth first over the folders named, with a stack of its own so
// a deep tree cannot exhaust the call stack. The platform lists each
// folder's entries; which of them count is decided here.

#include "library/library_walk.hpp"

#include <algorithm>
#include <set>
#include <utility>

#include "input/text.hpp"
#include "platform/files.hpp"
#include "platform/folder.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

// What people keep as music and Debian's ffmpeg decodes: the common
// formats; Musepack, MP2, TTA, TAK, DSD (DSF, DSDIFF), Wave64, CAF, Sun AU,
// AC-3, DTS, Shorten, Speex; tracker modules (through libopenmpt); chip
// music logs and rips (through libgme). Other formats ffmpeg reads are
// mostly video, speech or single sounds, and --extensions takes them.
const std::vector<std::string> kDefaultExtensions = {
    "wav", "wave", "flac", "mp3", "ogg", "oga",  "opus", "m4a", "mp4", "aac", "aif", "aiff", "aifc", "wma",
    "wv",  "ape",  "mka",  "webm", "mpc", "mp2", "tta",  "tak", "dsf", "dff", "w64", "caf",  "au",   "ac3",
    "dts", "shn",  "spx",  "mod", "xm",  "s3m", "it",   "mptm", "mtm", "669", "med", "okt", "stm",  "ult",
    "umx", "mo3",  "spc",  "vgm", "vgz", "nsf", "nsfe", "gbs"};

// Byte order, with the separator counted as '/': the same tree gives the
// same order on every platform.
bool pathLess(const std::string& a, const std::string& b) {
    const auto key = [](char c) {
        return static_cast<unsigned char>(c == platform::kPathSeparator ? '/' : c);
    };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&key](char x, char y) { return key(x) < key(y); });
}

// A folder still to walk, and its path below the root it was found in
// (components joined by '/'), which exclude patterns are matched against.
struct PendingFolder {
    std::string path;
    std::string relative;
};

bool excluded(const CollectionRules& rules, const std::string& relative, bool folder) {
    return std::any_of(rules.excludes.begin(), rules.excludes.end(),
                       [&](const GlobPattern& pattern) { return globMatches(pattern, relative, folder); });
}

// Whether the entry `name`, at `relative` below its root, counts: not
// hidden (unless the rules take hidden names), a file of one of the
// extensions, and matched by no exclude pattern.
bool entryCounts(const CollectionRules& rules, const std::string& name, const std::string& relative, bool folder) {
    if (name.empty() || (name[0] == '.' && !rules.hidden)) return false;
    if (!folder && !hasExtension(name, rules.extensions)) return false;
    return !excluded(rules, relative, folder);
}

// Adds the audio files of `folder` to the library and its subfolders to
// `pending`; links to folders are left alone, so no walk can loop. The
// count of its entries, whether they count or not.
std::size_t walkFolder(const PendingFolder& folder, const CollectionRules& rules, Library& library,
                       std::vector<PendingFolder>& pending, bool findLeftCopies) {
    std::vector<platform::FolderEntry> entries;
    int error = 0;
    const bool whole = platform::readFolder(folder.path, entries, error);
    for (platform::FolderEntry& entry : entries) {
        std::string path = platform::joinPath(folder.path, entry.name);
        const bool isFolder = entry.kind == platform::EntryKind::Folder;
        const bool isOther = entry.kind == platform::EntryKind::Other;
        if (findLeftCopies && isOther && platform::isSiblingCopyName(entry.name)) {
            library.leftCopies.push_back(std::move(path));
            continue;
        }
        if (!isFolder && !isOther) continue;
        std::string relative = folder.relative.empty() ? entry.name : folder.relative + "/" + entry.name;
        if (!entryCounts(rules, entry.name, relative, isFolder)) continue;
        if (isFolder) {
            pending.push_back({std::move(path), std::move(relative)});
        } else {
            library.files.push_back(std::move(path));
        }
    }
    if (!whole) library.unread.push_back({folder.path, error});
    return entries.size();
}

// The copies left beside the file `path` names.
void findCopiesBeside(const std::string& path, Library& library) {
    const std::string folder = platform::folderOf(path);
    const std::string prefix = platform::siblingCopyPrefix(platform::nameOf(path));
    std::vector<platform::FolderEntry> entries;
    int error = 0;
    platform::readFolder(folder, entries, error);
    for (const platform::FolderEntry& entry : entries) {
        if (entry.kind == platform::EntryKind::Other && entry.name.compare(0, prefix.size(), prefix) == 0 &&
            platform::isSiblingCopyName(entry.name)) {
            library.leftCopies.push_back(platform::joinPath(folder, entry.name));
        }
    }
}

void sortUnique(std::vector<std::string>& paths) {
    std::sort(paths.begin(), paths.end(), pathLess);
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
}

}  // namespace

const std::vector<std::string>& defaultExtensions() { return kDefaultExtensions; }

bool hasExtension(const std::string& path, const std::vector<std::string>& extensions) {
    const std::string name = platform::nameOf(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = asciiLower(name.substr(dot + 1));
    return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

bool hasAudioExtension(const std::string& path) { return hasExtension(path, kDefaultExtensions); }

bool collectionIncludes(const CollectionRules& rules, const std::string& relative) {
    for (std::size_t start = 0;;) {
        const std::size_t slash = relative.find('/', start);
        const bool folder = slash != std::string::npos;
        const std::size_t end = folder ? slash : relative.size();
        if (!entryCounts(rules, relative.substr(start, end - start), relative.substr(0, end), folder)) return false;
        if (!folder) return true;
        start = slash + 1;
    }
}

Library listLibrary(const std::vector<std::string>& roots, const CollectionRules& rules, bool findLeftCopies) {
    Library library;
    for (const std::string& root : roots) {
        if (!platform::isFolder(root)) {
            library.files.push_back(root);
            platform::FileStatus status;
            int error = 0;
            const bool there = platform::readFileStatus(root, status, error);
            library.roots.push_back({root, there ? RootSight::File : RootSight::Missing, there ? 0 : error});
            if (findLeftCopies) findCopiesBeside(root, library);
            continue;
        }
        std::vector<PendingFolder> pending{{root, std::string()}};
        const std::size_t unreadBefore = library.unread.size();
        bool first = true;
        std::size_t entries = 0;
        while (!pending.empty()) {
            const PendingFolder folder = std::move(pending.back());
            pending.pop_back();
            const std::size_t found = walkFolder(folder, rules, library, pending, findLeftCopies);
            if (first) entries = found;
            first = false;
        }
        // A root that could not be listed is no empty one: its unread folder says so.
        const bool empty = entries == 0 && library.unread.size() == unreadBefore;
        library.roots.push_back({root, empty ? RootSight::Empty : RootSight::Folder, 0});
    }
    sortUnique(library.files);
    sortUnique(library.leftCopies);
    return library;
}

std::vector<ListedFile> keepEachFileOnce(const std::vector<std::string>& paths) {
    std::vector<ListedFile> files;
    // The first path of each file, by device and inode.
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    for (const std::string& path : paths) {
        ListedFile file{path, false, {}};
        platform::FileStatus status;
        int error = 0;
        file.known = platform::readFileStatus(path, status, error);
        if (file.known) {
            file.identity = status.identity;
            // A system that numbers no file (0 and 0) says nothing of sameness.
            const std::pair<std::uint64_t, std::uint64_t> key{status.identity.device, status.identity.inode};
            if (key != std::pair<std::uint64_t, std::uint64_t>{0, 0} && !seen.insert(key).second) {
                continue;
            }
        }
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace tempo::scan
