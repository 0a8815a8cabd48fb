// The walk: depth first over the folders named, with a stack of its own so
// a deep tree cannot exhaust the call stack. The platform lists each
// folder's entries; which of them count is decided here.

#include "scan/library_walk.hpp"

#include <algorithm>

#include "input/text.hpp"
#include "platform/folder.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

constexpr const char* kAudioExtensions[] = {"wav", "wave", "flac", "mp3", "ogg", "oga", "opus", "m4a", "mp4",
                                            "aac", "aif", "aiff", "aifc", "wma", "wv",   "ape", "mka", "webm"};

// Byte order, with the separator counted as '/': the same tree gives the
// same order on every platform.
bool pathLess(const std::string& a, const std::string& b) {
    const auto key = [](char c) {
        return static_cast<unsigned char>(c == platform::kPathSeparator ? '/' : c);
    };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&key](char x, char y) { return key(x) < key(y); });
}

// Adds the audio files of `folder` to the library and its subfolders to
// `pending`; links to folders are left alone, so no walk can loop.
void walkFolder(const std::string& folder, Library& library, std::vector<std::string>& pending, bool findLeftCopies) {
    std::vector<platform::FolderEntry> entries;
    int error = 0;
    const bool whole = platform::readFolder(folder, entries, error);
    for (platform::FolderEntry& entry : entries) {
        std::string path = platform::joinPath(folder, entry.name);
        if (entry.kind == platform::EntryKind::Folder) {
            pending.push_back(std::move(path));
        } else if (entry.kind == platform::EntryKind::Other && hasAudioExtension(path)) {
            library.files.push_back(std::move(path));
        } else if (findLeftCopies && entry.kind == platform::EntryKind::Other && platform::isSiblingCopyName(entry.name)) {
            library.leftCopies.push_back(std::move(path));
        }
    }
    if (!whole) library.unread.push_back({folder, error});
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

}  // namespace

bool hasAudioExtension(const std::string& path) {
    const std::string name = platform::nameOf(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = asciiLower(name.substr(dot + 1));
    return std::any_of(std::begin(kAudioExtensions), std::end(kAudioExtensions),
                       [&extension](const char* known) { return extension == known; });
}

Library listLibrary(const std::vector<std::string>& roots, bool findLeftCopies) {
    Library library;
    std::vector<std::string>& files = library.files;
    for (const std::string& root : roots) {
        if (!platform::isFolder(root)) {
            files.push_back(root);
            if (findLeftCopies) findCopiesBeside(root, library);
            continue;
        }
        std::vector<std::string> pending{root};
        while (!pending.empty()) {
            const std::string folder = std::move(pending.back());
            pending.pop_back();
            walkFolder(folder, library, pending, findLeftCopies);
        }
    }
    std::sort(files.begin(), files.end(), pathLess);
    files.erase(std::unique(files.begin(), files.end()), files.end());
    std::sort(library.leftCopies.begin(), library.leftCopies.end(), pathLess);
    library.leftCopies.erase(std::unique(library.leftCopies.begin(), library.leftCopies.end()), library.leftCopies.end());
    return library;
}

std::vector<std::string> keepShard(const std::vector<std::string>& files, unsigned index, unsigned count) {
    std::vector<std::string> kept;
    for (std::size_t i = index; i < files.size(); i += count) kept.push_back(files[i]);
    return kept;
}

}  // namespace tempo::scan
