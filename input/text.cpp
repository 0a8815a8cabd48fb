#include "input/text.hpp"

namespace tempo {
namespace {

struct LeadByte {
    std::size_t length;  // 0: no sequence starts with it
    unsigned bits;       // the code point's bits it carries
    unsigned lowest;     // the smallest code point of that length
};

LeadByte leadOf(unsigned char lead) {
    if (lead < 0x80) return {1, lead, 0};
    if (lead >= 0xC0 && lead <= 0xDF) return {2, lead & 0x1FU, 0x80};
    if (lead >= 0xE0 && lead <= 0xEF) return {3, lead & 0x0FU, 0x800};
    if (lead >= 0xF0 && lead <= 0xF7) return {4, lead & 0x07U, 0x10000};
    return {0, 0, 0};
}

}  // namespace

Utf8Char decodeUtf8(std::string_view text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const Utf8Char alone{byte(at), 1, Utf8Kind::Invalid};
    const LeadByte lead = leadOf(byte(at));
    if (lead.length == 0 || text.size() - at < lead.length) return alone;
    unsigned code = lead.bits;
    for (std::size_t k = 1; k < lead.length; ++k) {
        if ((byte(at + k) & 0xC0U) != 0x80U) return alone;
        code = code << 6U | (byte(at + k) & 0x3FU);
    }
    if (code < lead.lowest || code > 0x10FFFF) return alone;
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return {code, lead.length, surrogate ? Utf8Kind::Surrogate : Utf8Kind::Valid};
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string asciiLower(std::string text) {
    for (char& c : text) c = asciiLower(c);
    return text;
}

}  // namespace tempo
