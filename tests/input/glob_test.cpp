#include "input/glob.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tempo {
namespace {

struct GlobCase {
    const char* pattern;
    const char* path;
    bool folder;
    bool matches;
};

void expectCases(const GlobCase* begin, const GlobCase* end, const std::string& separators) {
    for (const GlobCase* c = begin; c != end; ++c) {
        GlobPattern pattern;
        ASSERT_TRUE(compileGlob(c->pattern, separators, pattern)) << c->pattern;
        EXPECT_EQ(globMatches(pattern, c->path, c->folder), c->matches) << c->pattern << " on " << c->path;
    }
}

TEST(Glob, MatchesComponentsWithStarsSetsAndAnyDepth) {
    const GlobCase cases[] = {
        // A name alone: at any depth.
        {".Trash", ".Trash", true, true},
        {".Trash", "a/b/.Trash", true, true},
        {".Trash", "a/.Trash-1000", true, false},
        {"*.tmp", "x/y/song.tmp", false, true},
        {"*.tmp", "x/y/song.tmp.flac", false, false},
        {"*", "anything/at/all", false, true},
        // With a '/': from the folder given only.
        {"Live/*.mp3", "Live/a.mp3", false, true},
        {"Live/*.mp3", "x/Live/a.mp3", false, false},
        {"Live/*.mp3", "Live/sub/a.mp3", false, false},
        {"/Live", "Live", true, true},
        {"/Live", "x/Live", true, false},
        // "**": none, one or many components.
        {"Live/**/*.mp3", "Live/a.mp3", false, true},
        {"Live/**/*.mp3", "Live/x/y/a.mp3", false, true},
        {"Live/**", "Live/x/y/a.mp3", false, true},
        {"**/demo/*", "a/b/demo/c.wav", false, true},
        {"**/demo/*", "demo/c.wav", false, true},
        {"a/**/b/**/c", "a/x/b/y/z/c", false, true},
        {"a/**/b/**/c", "a/x/c", false, false},
        // Stars backtrack within a component, never across '/'.
        {"a*b*c", "a/axxbyybzzc", false, true},
        {"a*b*c", "a/axxbyyc/d", false, false},
        {"x/*c", "x/abc/c", false, false},
        {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false, false},
        // One character: a whole UTF-8 sequence, or one stray byte.
        {"caf?.mp3", "caf\xc3\xa9.mp3", false, true},
        {"caf?.mp3", "caf\xc3\xa9x.mp3", false, false},
        {"a?b", "a\xff" "b", false, true},
        {"a\xff*", "a\xff\xfe", false, true},
        // Sets and ranges, negated, with ']' first; an unclosed '[' is itself.
        {"track[0-9][0-9].*", "track07.flac", false, true},
        {"track[0-9][0-9].*", "track7a.flac", false, false},
        {"[!.]*", ".hidden", false, false},
        {"[^.]*", "shown", false, true},
        {"[]x]", "]", false, true},
        {"[\xc3\xa0-\xc3\xbf]", "\xc3\xa9", false, true},
        {"[a-c]", "d", false, false},
        {"a[b", "a[b", false, true},
        // Escapes take a character as it is.
        {"\\*", "*", false, true},
        {"\\*", "x", false, false},
        {"a\\?", "ab", false, false},
        // A trailing '/': folders only.
        {"Live/", "x/Live", true, true},
        {"Live/", "x/Live", false, false},
    };
    expectCases(std::begin(cases), std::end(cases), "/");
}

// Where the backslash separates folders it is one, not an escape.
TEST(Glob, TakesBackslashesAsSeparatorsWhereAsked) {
    const GlobCase cases[] = {
        {"Live\\*.mp3", "Live/a.mp3", false, true},
        {"Live\\**", "Live/x/a.mp3", false, true},
        {"Live\\", "a/Live", true, true},
        {"*.mp3", "a/b.mp3", false, true},
    };
    expectCases(std::begin(cases), std::end(cases), "/\\");
}

TEST(Glob, RefusesPatternsWithNoComponent) {
    GlobPattern pattern;
    for (const char* text : {"", "/", "//"}) EXPECT_FALSE(compileGlob(text, "/", pattern)) << text;
}

}  // namespace
}  // namespace tempo
