#pragma once

// A file's title, as its own tag gives it: the name a DJ program shows for
// the file in a collection written by this tool.

#include <string>

namespace tempo::scan {

// The title tag of `path` in UTF-8, or "" where the file has none, cannot
// be read, or this build has no TagLib.
std::string titleTag(const std::string& path);

}  // namespace tempo::scan
