// Patterns are matched component by component. Within one component a
// '*' is matched by the usual backtracking to the last star, which is
// linear per star; "**" components backtrack over components the same way.
// Characters are whole UTF-8 sequences where valid, so "?" takes "é" and
// a range compares code points; a byte that is not part of valid UTF-8
// stands alone, and compares as 0xDC00 plus its value, the place the lone
// surrogate escape gives it.

#include "input/glob.hpp"

#include "input/text.hpp"

namespace tempo {
namespace {

// One character of `text` at `at`: its value for comparison and its length.
Utf8Char characterAt(const std::string& text, std::size_t at) {
    Utf8Char c = decodeUtf8(text, at);
    if (c.kind != Utf8Kind::Valid) c = {0xDC00U + static_cast<unsigned char>(text[at]), 1, Utf8Kind::Invalid};
    return c;
}

// The character the pattern gives at `at` (after a backslash, the one it
// escapes); `at` moves past it.
unsigned patternCharacter(const std::string& part, std::size_t& at, bool escapes) {
    if (escapes && part[at] == '\\' && at + 1 < part.size()) ++at;
    const Utf8Char c = characterAt(part, at);
    at += c.length;
    return c.code;
}

// The set that starts at part[at] == '[': whether `code` is in it, and
// where the set ends (just past ']'). False when no ']' closes it: the '['
// is then an ordinary character.
bool readSet(const std::string& part, std::size_t at, bool escapes, unsigned code, bool& inSet, std::size_t& end) {
    std::size_t i = at + 1;
    const bool negated = i < part.size() && (part[i] == '!' || part[i] == '^');
    if (negated) ++i;
    bool found = false;
    bool first = true;
    while (i < part.size() && (part[i] != ']' || first)) {
        first = false;
        const unsigned low = patternCharacter(part, i, escapes);
        unsigned high = low;
        if (i + 1 < part.size() && part[i] == '-' && part[i + 1] != ']') {
            ++i;
            high = patternCharacter(part, i, escapes);
        }
        found = found || (code >= low && code <= high);
    }
    if (i >= part.size()) return false;
    inSet = found != negated;
    end = i + 1;
    return true;
}

// Whether one pattern character (or set) at part[p] takes the character
// at name[n]; `p` and `n` move past them when it does.
bool stepOne(const std::string& part, std::size_t& p, const std::string& name, std::size_t& n, bool escapes) {
    const Utf8Char c = characterAt(name, n);
    if (part[p] == '[') {
        bool inSet = false;
        std::size_t end = 0;
        if (readSet(part, p, escapes, c.code, inSet, end)) {
            if (!inSet) return false;
            p = end;
            n += c.length;
            return true;
        }
    }
    std::size_t next = p;
    if (part[p] == '?') {
        ++next;
    } else if (patternCharacter(part, next, escapes) != c.code) {
        return false;
    }
    p = next;
    n += c.length;
    return true;
}

// One component against one name.
bool partMatches(const std::string& part, const std::string& name, bool escapes) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string::npos;  // just past the last star seen
    std::size_t starN = 0;                  // where the name stood when it was seen
    while (n < name.size()) {
        if (p < part.size() && part[p] == '*') {
            starP = ++p;
            starN = n;
        } else if (p < part.size() && stepOne(part, p, name, n, escapes)) {
            continue;
        } else if (starP != std::string::npos) {
            // The last star takes one more character, and the rest is tried again.
            starN += characterAt(name, starN).length;
            n = starN;
            p = starP;
        } else {
            return false;
        }
    }
    while (p < part.size() && part[p] == '*') ++p;
    return p == part.size();
}

std::vector<std::string> split(const std::string& text, const std::string& separators) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || separators.find(text[i]) != std::string::npos) {
            if (i > start) parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

bool partsMatch(const std::vector<std::string>& parts, std::size_t p, const std::vector<std::string>& names,
                std::size_t n, bool escapes) {
    while (p < parts.size() && parts[p] != "**") {
        if (n == names.size() || !partMatches(parts[p], names[n], escapes)) return false;
        ++p;
        ++n;
    }
    if (p == parts.size()) return n == names.size();
    // "**": none, one, two, ... components, then the rest of the pattern.
    for (std::size_t skip = n; skip <= names.size(); ++skip) {
        if (partsMatch(parts, p + 1, names, skip, escapes)) return true;
    }
    return false;
}

}  // namespace

bool compileGlob(const std::string& text, const std::string& separators, GlobPattern& pattern) {
    pattern = GlobPattern{};
    pattern.escapes = separators.find('\\') == std::string::npos;
    pattern.parts = split(text, separators);
    if (pattern.parts.empty()) return false;
    pattern.foldersOnly = separators.find(text.back()) != std::string::npos;
    // Only a separator at the end: the name at any depth.
    const std::string inner = text.substr(0, text.find_last_not_of(separators) + 1);
    if (inner.find_first_of(separators) == std::string::npos) pattern.parts.insert(pattern.parts.begin(), "**");
    return true;
}

bool globMatches(const GlobPattern& pattern, const std::string& relative, bool folder) {
    if (pattern.foldersOnly && !folder) return false;
    return partsMatch(pattern.parts, 0, split(relative, "/"), 0, pattern.escapes);
}

}  // namespace tempo
