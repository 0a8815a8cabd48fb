#pragma once

// What the walk asks of the platform (library_walk_posix.cpp,
// library_walk_win32.cpp): paths are UTF-8 text on Windows (names that are
// not valid UTF-16 carried as their surrogates' three-byte forms) and bytes
// elsewhere.

#include <functional>
#include <string>
#include <vector>

#include "scan/platform.hpp"

namespace tempo::scan {

// `name` inside `folder`, with one separator between them (the same on
// every platform, in library_walk.cpp).
std::string joinPath(const std::string& folder, const std::string& name);

// True when `path` names a folder (links followed).
bool isFolder(const std::string& path);

// Adds the entries of `folder` that are not folders (links to files
// included, links to folders left out) to `files`, with an audio
// extension, and its subfolders to `pending`; a folder that cannot be read
// goes to `warn`.
void readFolder(const std::string& folder, std::vector<std::string>& files, std::vector<std::string>& pending,
                const std::function<void(const std::string&)>& warn);

}  // namespace tempo::scan
