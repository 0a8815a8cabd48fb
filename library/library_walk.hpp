#pragma once

// Which files a scan covers: the files named, and the audio files found by
// walking the directories named, each file once.

#include <string>
#include <vector>

#include "input/glob.hpp"
#include "platform/files.hpp"

namespace tempo::scan {

// The extensions a folder is walked for by default: what Debian's ffmpeg
// decodes that people keep as music (lossless and lossy formats, tracker
// modules), lower case, without the dot.
const std::vector<std::string>& defaultExtensions();

// True when the last component of `path` ends in "." and one of
// `extensions` (lower case), in any case.
bool hasExtension(const std::string& path, const std::vector<std::string>& extensions);

// hasExtension with the default list.
bool hasAudioExtension(const std::string& path);

// What counts below each folder named; the paths named themselves always
// count.
struct CollectionRules {
    bool hidden = false;                // names that start with '.' count too
    std::vector<GlobPattern> excludes;  // entries (and whatever lies below them) left out
    std::vector<std::string> extensions = defaultExtensions();
};

// Whether a file at `relative` below a folder given (its components
// joined by '/') is one the walk of that folder lists under `rules`: no
// name on the way hidden, no exclude pattern matching it or a folder above
// it, and one of the extensions. What an index uses to tell a file gone
// from one this run leaves out.
bool collectionIncludes(const CollectionRules& rules, const std::string& relative);

// A folder that could not be read to its end, and the errno value why.
struct UnreadFolder {
    std::string folder;
    int error = 0;
};

// What the walk found where a root was given.
enum class RootSight {
    File,     // something that is no folder: analysed as it is
    Folder,   // a folder with entries (whether they count or not)
    Empty,    // a folder with no entries at all: the mount point of a drive that is not there
    Missing,  // nothing there, or nothing that can be looked at (`error`)
};

struct WalkedRoot {
    std::string path;  // as given
    RootSight sight = RootSight::File;
    int error = 0;  // Missing: the errno value
};

struct Library {
    std::vector<std::string> files;     // in byte order, each path once
    std::vector<UnreadFolder> unread;  // in the order the walk met them
    std::vector<WalkedRoot> roots;     // in the order given
    // Sibling copies that a tag writer left (".NAME.tempo-XXXXXX"), in the
    // folders walked and beside the files named, when asked for.
    std::vector<std::string> leftCopies;
};

// Every root that is not a directory, as given (it is always analysed,
// whatever its name, and reported if it cannot be); for every directory,
// the entries below it with one of the rules' extensions that are not
// directories, including links to files, but for hidden ones (unless the
// rules take them) and those an exclude pattern matches (a folder it
// matches is not walked). Links to directories are not followed below a
// root. A directory that cannot be read, or fails part way, is listed in
// `unread` with what was read of it kept.
Library listLibrary(const std::vector<std::string>& roots, const CollectionRules& rules = {},
                    bool findLeftCopies = false);

// A file of the scan and what it was when it was listed.
struct ListedFile {
    std::string path;
    bool known = false;  // its status could be read: `identity` holds it
    platform::FileIdentity identity;
};

// The files of `paths` (in byte order) with their identities, each file
// once: of the paths that lead to one file (the same device and inode:
// "a" and "./a", a link, a hard link), the first stays.
std::vector<ListedFile> keepEachFileOnce(const std::vector<std::string>& paths);

// The files at positions index, index + count, ... of `files`.
template <typename File>
std::vector<File> keepShard(const std::vector<File>& files, unsigned index, unsigned count) {
    std::vector<File> kept;
    for (std::size_t i = index; i < files.size(); i += count) kept.push_back(files[i]);
    return kept;
}

}  // namespace tempo::scan
