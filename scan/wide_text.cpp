#include "scan/wide_text.hpp"

namespace tempo::scan {
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
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    // How many continuation bytes follow, in order, from `at`.
    const auto continued = [&](std::size_t at, std::size_t count) {
        if (text.size() - at <= count) return false;
        for (std::size_t k = 1; k <= count; ++k) {
            if ((byte(at + k) & 0xC0U) != 0x80U) return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned lead = byte(i);
        if (lead >= 0xF0 && lead <= 0xF4 && continued(i, 3)) {
            appendUtf16(out, (lead & 0x07U) << 18 | (byte(i + 1) & 0x3FU) << 12 | (byte(i + 2) & 0x3FU) << 6 |
                                 (byte(i + 3) & 0x3FU));
            i += 4;
        } else if (lead >= 0xE0 && lead < 0xF0 && continued(i, 2)) {
            appendUtf16(out, (lead & 0x0FU) << 12 | (byte(i + 1) & 0x3FU) << 6 | (byte(i + 2) & 0x3FU));
            i += 3;
        } else if (lead >= 0xC2 && lead < 0xE0 && continued(i, 1)) {
            appendUtf16(out, (lead & 0x1FU) << 6 | (byte(i + 1) & 0x3FU));
            i += 2;
        } else {
            out += static_cast<wchar_t>(lead);
            ++i;
        }
    }
    return out;
}

}  // namespace tempo::scan
