#pragma once

// Which files a scan covers: the files named, and the audio files found by
// walking the directories named.

#include <string>
#include <vector>

namespace tempo::scan {

// True when the last component of `path` ends in one of the audio
// extensions (wav wave flac mp3 ogg oga opus m4a mp4 aac aif aiff aifc wma
// wv ape mka webm), in any case.
bool hasAudioExtension(const std::string& path);

// A folder that could not be read to its end, and the errno value why.
struct UnreadFolder {
    std::string folder;
    int error = 0;
};

struct Library {
    std::vector<std::string> files;     // in byte order, each path once
    std::vector<UnreadFolder> unread;  // in the order the walk met them
    // Sibling copies that a tag writer left (".NAME.tempo-XXXXXX"), in the
    // folders walked and beside the files named, when asked for.
    std::vector<std::string> leftCopies;
};

// Every root that is not a directory, as given (it is always analysed,
// whatever its name, and reported if it cannot be); for every directory,
// the entries below it with an audio extension that are not directories,
// including links to files. Links to directories are not followed below a
// root. A directory that cannot be read, or fails part way, is listed in
// `unread` with what was read of it kept.
Library listLibrary(const std::vector<std::string>& roots, bool findLeftCopies = false);

// The files at positions index, index + count, ... of `files`.
std::vector<std::string> keepShard(const std::vector<std::string>& files, unsigned index, unsigned count);

}  // namespace tempo::scan
