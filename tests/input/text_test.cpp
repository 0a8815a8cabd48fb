#include "input/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tempo {
namespace {

TEST(DecodeUtf8, TakesShortestFormsAndRefusesTheRest) {
    const struct {
        const char* what;
        std::string text;
        std::size_t at;
        Utf8Kind kind;
        unsigned code;
        std::size_t length;
    } cases[] = {
        {"ASCII", "a", 0, Utf8Kind::Valid, 'a', 1},
        {"NUL", std::string(1, '\0'), 0, Utf8Kind::Valid, 0, 1},
        {"two bytes", "\xC3\xA9", 0, Utf8Kind::Valid, 0xE9, 2},
        {"lowest two-byte", "\xC2\x80", 0, Utf8Kind::Valid, 0x80, 2},
        {"three bytes", "\xE3\x83\x86", 0, Utf8Kind::Valid, 0x30C6, 3},
        {"four bytes", "\xF0\x9F\x8E\xB5", 0, Utf8Kind::Valid, 0x1F3B5, 4},
        {"the last code point", "\xF4\x8F\xBF\xBF", 0, Utf8Kind::Valid, 0x10FFFF, 4},
        {"in the middle", "ab\xC3\xA9", 2, Utf8Kind::Valid, 0xE9, 2},
        {"overlong NUL in two", "\xC0\x80", 0, Utf8Kind::Invalid, 0xC0, 1},
        {"overlong slash", "\xC0\xAF", 0, Utf8Kind::Invalid, 0xC0, 1},
        {"overlong in three", "\xE0\x80\x80", 0, Utf8Kind::Invalid, 0xE0, 1},
        {"overlong in four", "\xF0\x8F\xBF\xBF", 0, Utf8Kind::Invalid, 0xF0, 1},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 0, Utf8Kind::Invalid, 0xF4, 1},
        {"no such lead", "\xF8\x88\x80\x80\x80", 0, Utf8Kind::Invalid, 0xF8, 1},
        {"high surrogate", "\xED\xA0\x80", 0, Utf8Kind::Surrogate, 0xD800, 3},
        {"low surrogate", "\xED\xBF\xBF", 0, Utf8Kind::Surrogate, 0xDFFF, 3},
        {"just below the surrogates", "\xED\x9F\xBF", 0, Utf8Kind::Valid, 0xD7FF, 3},
        {"lone continuation", "\x80", 0, Utf8Kind::Invalid, 0x80, 1},
        {"cut short by the end", "\xE3\x83", 0, Utf8Kind::Invalid, 0xE3, 1},
        {"four cut to three", "\xF0\x9F\x8E", 0, Utf8Kind::Invalid, 0xF0, 1},
        {"no continuation", "\xC3" "a", 0, Utf8Kind::Invalid, 0xC3, 1},
        {"continuation missing in the middle", "\xE3\x83" "a", 0, Utf8Kind::Invalid, 0xE3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Utf8Char got = decodeUtf8(c.text, c.at);
        EXPECT_EQ(got.kind, c.kind);
        EXPECT_EQ(got.code, c.code);
        EXPECT_EQ(got.length, c.length);
    }
}

TEST(AsciiLower, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(asciiLower(std::string("MiXeD.FLAC \xC3\x89 @[`{")), std::string("mixed.flac \xC3\x89 @[`{"));
}

}  // namespace
}  // namespace tempo
