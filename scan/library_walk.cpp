#include "scan/library_walk.hpp"

#include <algorithm>
#include <string_view>

#include "scan/library_walk_platform.hpp"

namespace tempo::scan {
namespace {

constexpr const char* kAudioExtensions[] = {"wav", "wave", "flac", "mp3", "ogg", "oga", "opus", "m4a", "mp4",
                                            "aac", "aif", "aiff", "aifc", "wma", "wv",   "ape", "mka", "webm"};

// Byte order, with the separator counted as '/': the same tree gives the
// same order on every platform.
bool pathLess(const std::string& a, const std::string& b) {
    const auto key = [](char c) {
        return static_cast<unsigned char>(c == kPathSeparator ? '/' : c);
    };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&key](char x, char y) { return key(x) < key(y); });
}

}  // namespace

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && std::string_view(kPathSeparators).find(folder.back()) != std::string_view::npos) return folder + name;
    return folder + kPathSeparator + name;
}

bool hasAudioExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
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
        if (!isFolder(root)) {
            files.push_back(root);
            continue;
        }
        // Depth first with a stack of our own, so a deep tree cannot
        // exhaust the call stack.
        std::vector<std::string> pending{root};
        while (!pending.empty()) {
            const std::string directory = std::move(pending.back());
            pending.pop_back();
            readFolder(directory, files, pending, warn);
        }
    }
    std::sort(files.begin(), files.end(), pathLess);
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

std::vector<std::string> keepShard(const std::vector<std::string>& files, unsigned index, unsigned count) {
    std::vector<std::string> kept;
    for (std::size_t i = index; i < files.size(); i += count) kept.push_back(files[i]);
    return kept;
}

}  // namespace tempo::scan
