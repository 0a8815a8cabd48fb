#pragma once

// Text as bytes: the one UTF-8 decoder of the tool, and ASCII case.

#include <cstddef>
#include <string>
#include <string_view>

namespace tempo {

enum class Utf8Kind {
    Valid,      // a shortest-form sequence of a scalar value (at most U+10FFFF, no surrogate)
    Surrogate,  // the three-byte form of U+D800 to U+DFFF: not UTF-8, but how a lone UTF-16 unit is carried
    Invalid,    // anything else: the byte stands alone
};

struct Utf8Char {
    unsigned code = 0;       // Valid and Surrogate: the code point; Invalid: the byte
    std::size_t length = 1;  // bytes taken: 1 to 4 (Invalid: always 1)
    Utf8Kind kind = Utf8Kind::Invalid;
};

// The character that starts at text[at] (at < text.size()). Overlong forms,
// code points above U+10FFFF and sequences cut short by the end of the
// text are Invalid.
Utf8Char decodeUtf8(std::string_view text, std::size_t at);

// ASCII letters in lower case; every other byte as it is, whatever the
// locale.
char asciiLower(char c);
std::string asciiLower(std::string text);

}  // namespace tempo
