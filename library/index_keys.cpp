#include "library/index_keys.hpp"

#include <utility>

#include "platform/path.hpp"

namespace tempo::scan {
namespace {

bool namesAFolder(const std::string& name) { return name.empty() || name == "." || name == ".."; }

// `key` without the separator that Windows leaves after a folder named
// with one ("lib\"), but a drive's or the system's root ("C:\", "/").
std::string withoutTrailingSeparator(std::string key) {
    const std::string separators = platform::kPathSeparators;
    while (key.size() > 1 && separators.find(key.back()) != std::string::npos && key[key.size() - 2] != ':') {
        key.pop_back();
    }
    return key;
}

}  // namespace

std::string IndexKeys::keyOf(const std::string& path) {
    if (path.empty()) return std::string();
    const std::string name = platform::nameOf(path);
    // "lib/", "lib/." and "lib/.." name folders themselves.
    if (namesAFolder(name)) return folderKey(path);
    return platform::joinPath(folderKey(platform::folderOf(path)), name);
}

std::string IndexKeys::folderKey(const std::string& folder) {
    const auto known = folders_.find(folder);
    if (known != folders_.end()) return known->second;
    int error = 0;
    std::string key = platform::realPath(folder, error);
    if (key.empty()) {
        // Not there: its parent's key, and its own name taken as written.
        const std::string parent = platform::folderOf(folder);
        const std::string name = platform::nameOf(folder);
        if (parent == folder) {
            key = folder;
        } else if (name == "..") {
            key = platform::folderOf(folderKey(parent));
        } else {
            key = namesAFolder(name) ? folderKey(parent) : platform::joinPath(folderKey(parent), name);
        }
    }
    key = withoutTrailingSeparator(std::move(key));
    folders_.emplace(folder, key);
    return key;
}

}  // namespace tempo::scan
