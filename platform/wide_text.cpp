#include "platform/wide_text.hpp"

#include "input/text.hpp"

namespace tempo::platform {
namespace {

bool isHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void appendUtf16(std::wstring& out, unsigned code) {
    if (code >= 0x10000) {
        out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
        out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
        out += static_cast<wchar_t>(code);
    }
}

}  // namespace

std::string utf8FromWide(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned code = static_cast<unsigned>(text[i]) & 0xFFFFU;
        if (isHighSurrogate(code) && i + 1 < text.size()) {
            const unsigned next = static_cast<unsigned>(text[i + 1]) & 0xFFFFU;
            if (isLowSurrogate(next)) {
                code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, code);
    }
    return out;
}

std::wstring wideFromUtf8(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decodeUtf8(text, i);
        // A lone surrogate's three-byte form is the unit it stands for.
        appendUtf16(out, c.code);
        i += c.length;
    }
    return out;
}

}  // namespace tempo::platform
