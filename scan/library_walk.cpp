#include "scan/library_walk.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace tempo::scan {
namespace {

constexpr const char* kAudioExtensions[] = {"wav", "wave", "flac", "mp3", "ogg", "oga", "opus", "m4a", "mp4",
                                            "aac", "aif", "aiff", "aifc", "wma", "wv",   "ape", "mka", "webm"};

std::string joinPath(const std::string& directory, const char* name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Adds the audio entries of `directory` to `files` and its subdirectories
// to `pending`.
void readDirectory(const std::string& directory, std::vector<std::string>& files, std::vector<std::string>& pending,
                   const std::function<void(const std::string&)>& warn) {
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) {
        warn("cannot read directory " + directory + ": " + std::strerror(errno));
        return;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        std::string path = joinPath(directory, entry->d_name);
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            isDirectory = ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
        }
        if (isDirectory) {
            pending.push_back(std::move(path));
            continue;
        }
        if (!hasAudioExtension(path)) continue;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link to a directory is left alone, so no walk can loop.
            struct stat target {};
            if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) continue;
        }
        files.push_back(std::move(path));
    }
}

}  // namespace

bool hasAudioExtension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return std::any_of(std::begin(kAudioExtensions), std::end(kAudioExtensions),
                       [&extension](const char* known) { return extension == known; });
}

std::vector<std::string> listLibrary(const std::vector<std::string>& roots,
                                     const std::function<void(const std::string&)>& warn) {
    std::vector<std::string> files;
    for (const std::string& root : roots) {
        struct stat status {};
        if (::stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            files.push_back(root);
            continue;
        }
        // Depth first with a stack of our own, so a deep tree cannot
        // exhaust the call stack.
        std::vector<std::string> pending{root};
        while (!pending.empty()) {
            const std::string directory = std::move(pending.back());
            pending.pop_back();
            readDirectory(directory, files, pending, warn);
        }
    }
    // std::string compares as unsigned bytes.
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

std::vector<std::string> keepShard(const std::vector<std::string>& files, unsigned index, unsigned count) {
    std::vector<std::string> kept;
    for (std::size_t i = index; i < files.size(); i += count) kept.push_back(files[i]);
    return kept;
}

}  // namespace tempo::scan
