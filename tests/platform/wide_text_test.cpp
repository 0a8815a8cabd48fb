#include "platform/wide_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tempo::platform {
namespace {

// Names as Windows gives them, and the UTF-8 a record carries.
TEST(WideText, ConvertsBothWays) {
    const struct {
        const char* what;
        std::wstring wide;
        std::string utf8;
    } cases[] = {
        {"empty", L"", ""},
        {"ASCII with a separator", L"Music\\a b&c%.flac", "Music\\a b&c%.flac"},
        {"two-byte letters", {0x00E9, 0x00FC}, "\xC3\xA9\xC3\xBC"},
        {"three-byte letters", {0x30C6, 0x30F3}, "\xE3\x83\x86\xE3\x83\xB3"},
        {"a surrogate pair", {0xD83C, 0xDFB5}, "\xF0\x9F\x8E\xB5"},
        {"the last code point", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        // Not valid UTF-16, yet a name Windows can hold: kept in the
        // three-byte form.
        {"a lone high surrogate", {L'a', 0xD800, L'b'}, "a\xED\xA0\x80" "b"},
        {"a lone low surrogate at the end", {L'a', 0xDC01}, "a\xED\xB0\x81"},
        {"low before high", {0xDC00, 0xD800}, "\xED\xB0\x80\xED\xA0\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(utf8FromWide(c.wide), c.utf8);
        EXPECT_EQ(wideFromUtf8(c.utf8), c.wide);
    }
}

// Bytes no Windows name converts to still come through, one unit each,
// never read past the end.
TEST(WideText, TakesStrayBytesOneByOne) {
    const struct {
        const char* what;
        std::string utf8;
        std::wstring wide;
    } cases[] = {
        {"a lone continuation byte", "\x80" "a", {0x80, L'a'}},
        {"a lead cut short by the end", "a\xE3\x83", {L'a', 0xE3, 0x83}},
        {"a lead followed by no continuation", "\xC3" "a", {0xC3, L'a'}},
        {"an overlong lead", "\xC0\xAF", {0xC0, 0xAF}},
        {"a lead above U+10FFFF", "\xF5\x80\x80\x80", {0xF5, 0x80, 0x80, 0x80}},
        // An overlong NUL must not end a Windows path early, nor an
        // overlong slash part it.
        {"an overlong NUL", "a\xE0\x80\x80" "b", {L'a', 0xE0, 0x80, 0x80, L'b'}},
        {"an overlong slash", "\xC0\xAF", {0xC0, 0xAF}},
        {"a four-byte overlong", "\xF0\x8F\xBF\xBF", {0xF0, 0x8F, 0xBF, 0xBF}},
        {"a code point above U+10FFFF", "\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(wideFromUtf8(c.utf8), c.wide);
    }
}

}  // namespace
}  // namespace tempo::platform
