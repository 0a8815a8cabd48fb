#pragma once

// Shell-style patterns over paths, as --exclude takes them: matched
// against the path of an entry below a folder the scan was given, its
// components joined by '/'.
//
//   *      any run of characters within one component (none included)
//   ?      any one character (a valid UTF-8 sequence, or else one byte)
//   [...]  one character in the set: single characters and ranges (a-z),
//          "[!...]" or "[^...]" for one not in it; "]" first stands for itself
//   **     as a whole component: any number of components, none included
//   \c     the character c itself (where the backslash is no separator)
//
// A pattern with no '/' but at its end matches the name of an entry at any
// depth, as if it began with "**/"; one with a '/' is matched from the
// folder given ("/Live" or "Live/x" both only there). A pattern that ends
// in '/' matches folders only. Case matters, on every platform.

#include <string>
#include <vector>

namespace tempo {

struct GlobPattern {
    std::vector<std::string> parts;  // the components, "**" for any number of them
    bool foldersOnly = false;
    bool escapes = true;  // a backslash escapes the next character (false where it separates folders)
};

// The pattern `text`, with `separators` the bytes that divide components
// ("/" or "/\\"): false for an empty pattern or one that is only
// separators.
bool compileGlob(const std::string& text, const std::string& separators, GlobPattern& pattern);

// Whether `relative` (components joined by '/', no leading or trailing
// '/') is matched by `pattern`; `folder` says whether the entry is a folder.
bool globMatches(const GlobPattern& pattern, const std::string& relative, bool folder);

}  // namespace tempo
