// ID3v2.3 and 2.4 tags, as their documents (id3.org's ID3v2.3.0 and
// ID3v2.4.0 structure) lay them out: a ten-byte header with a syncsafe
// size, frames of a ten-byte header (four-character id, size: plain in
// 2.3, syncsafe in 2.4, two flag bytes) and a body, then zero padding.
// Frames are kept as their bytes: a frame this tool does not change is
// written back exactly as it was read, whatever its encoding, flags or
// kind. A tag that is unsynchronised as a whole, has an extended header
// (which may hold a CRC of the frames) or a footer, or is ID3v2.2, is
// left to no edit (Unusual).

#include <cstring>

#include "input/tag_formats.hpp"

namespace tempo::tagbytes {
namespace {

constexpr std::uint64_t kHeader = 10;
constexpr unsigned char kUnsynchronised = 0x80;
constexpr unsigned char kExtendedHeader = 0x40;
constexpr unsigned char kFooter = 0x10;

std::uint64_t syncsafe(const unsigned char* bytes) {
    return std::uint64_t{bytes[0]} << 21U | std::uint64_t{bytes[1]} << 14U | std::uint64_t{bytes[2]} << 7U | bytes[3];
}

void putSyncsafe(std::vector<unsigned char>& out, std::uint64_t value) {
    for (int shift = 21; shift >= 0; shift -= 7) out.push_back(static_cast<unsigned char>((value >> shift) & 0x7FU));
}

bool frameIdAt(const unsigned char* bytes) {
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = bytes[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

// The frame body's size from its header, or false where it cannot be one.
bool frameSize(const unsigned char* header, unsigned version, std::uint64_t& size) {
    if (version == 4) {
        if ((header[4] | header[5] | header[6] | header[7]) & 0x80U) return false;
        size = syncsafe(header + 4);
    } else {
        size = bigEndian(header + 4, 4);
    }
    return true;
}

std::vector<unsigned char> tempoFrame(unsigned version, int bpm) {
    const std::string digits = std::to_string(bpm);
    std::vector<unsigned char> frame = {'T', 'B', 'P', 'M'};
    const std::uint64_t size = 1 + digits.size();  // ISO-8859-1, then the digits
    if (version == 4) {
        putSyncsafe(frame, size);
    } else {
        putBigEndian(frame, size, 4);
    }
    frame.insert(frame.end(), {0, 0, 0});
    frame.insert(frame.end(), digits.begin(), digits.end());
    return frame;
}

// The characters of a text frame's first string that are ASCII, in any of
// ID3v2's four encodings; others read as '?'.
std::string asciiText(ByteSpan body) {
    std::string text;
    if (body.length == 0) return text;
    const unsigned encoding = body.bytes[0];
    if (encoding == 0 || encoding == 3) {
        for (std::uint64_t i = 1; i < body.length && body.bytes[i] != 0; ++i) {
            text += body.bytes[i] < 0x80 ? static_cast<char>(body.bytes[i]) : '?';
        }
        return text;
    }
    std::uint64_t at = 1;
    bool little = false;  // UTF-16BE (encoding 2) unless a BOM says otherwise
    if (encoding == 1 && body.length >= 3) {
        little = body.bytes[1] == 0xFF && body.bytes[2] == 0xFE;
        at = 3;
    }
    for (; at + 1 < body.length; at += 2) {
        const unsigned unit = little ? body.bytes[at] | body.bytes[at + 1] << 8U : body.bytes[at] << 8U | body.bytes[at + 1];
        if (unit == 0) break;
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

}  // namespace

std::uint64_t id3Size(ByteSpan bytes) {
    if (bytes.length < kHeader || std::memcmp(bytes.bytes, "ID3", 3) != 0) return 0;
    if ((bytes.bytes[6] | bytes.bytes[7] | bytes.bytes[8] | bytes.bytes[9]) & 0x80U) return 0;
    const std::uint64_t footer = (bytes.bytes[5] & kFooter) != 0 ? kHeader : 0;
    return kHeader + syncsafe(bytes.bytes + 6) + footer;
}

TagLayout parseId3(ByteSpan tag, Id3Tag& parsed) {
    parsed = Id3Tag{};
    const std::uint64_t size = id3Size(tag);
    if (size == 0 || size > tag.length) return TagLayout::Damaged;
    parsed.version = tag.bytes[3];
    parsed.size = size;
    if (parsed.version != 3 && parsed.version != 4) return TagLayout::Unusual;
    if ((tag.bytes[5] & (kUnsynchronised | kExtendedHeader | kFooter)) != 0) return TagLayout::Unusual;
    std::uint64_t at = kHeader;
    while (at + kHeader <= size && tag.bytes[at] != 0) {
        std::uint64_t body = 0;
        if (!frameIdAt(tag.bytes + at) || !frameSize(tag.bytes + at, parsed.version, body) ||
            body > size - at - kHeader) {
            return TagLayout::Damaged;
        }
        parsed.frames.push_back({std::string(reinterpret_cast<const char*>(tag.bytes + at), 4), at, kHeader + body});
        at += kHeader + body;
    }
    return TagLayout::Edited;
}

std::string id3Tempo(ByteSpan tag, const Id3Tag& parsed) {
    for (const Id3Frame& frame : parsed.frames) {
        if (frame.id == "TBPM") return asciiText(slice(tag, frame.offset + kHeader, frame.length - kHeader));
    }
    return std::string();
}

std::vector<unsigned char> id3WithTempo(ByteSpan tag, const Id3Tag& parsed, int bpm) {
    const unsigned version = tag.length == 0 ? 4 : parsed.version;
    std::vector<unsigned char> frames;
    bool placed = false;
    for (const Id3Frame& frame : parsed.frames) {
        if (frame.id == "TBPM") {
            if (!placed) {
                const std::vector<unsigned char> tempo = tempoFrame(version, bpm);
                frames.insert(frames.end(), tempo.begin(), tempo.end());
            }
            placed = true;
            continue;
        }
        frames.insert(frames.end(), tag.bytes + frame.offset, tag.bytes + frame.offset + frame.length);
    }
    if (!placed) {
        const std::vector<unsigned char> tempo = tempoFrame(version, bpm);
        frames.insert(frames.end(), tempo.begin(), tempo.end());
    }
    // The padding absorbs the change where it can, so what follows the tag
    // stays where it was; otherwise the tag keeps as much padding as it had.
    const std::uint64_t oldFramesEnd = parsed.frames.empty() ? kHeader : parsed.frames.back().offset + parsed.frames.back().length;
    const std::uint64_t padding = tag.length == 0 ? 0 : parsed.size - oldFramesEnd;
    std::uint64_t body = frames.size() + padding;
    if (tag.length != 0 && kHeader + frames.size() <= parsed.size) body = parsed.size - kHeader;
    std::vector<unsigned char> out = {'I', 'D', '3', static_cast<unsigned char>(version), 0,
                                      static_cast<unsigned char>(tag.length == 0 ? 0 : tag.bytes[5])};
    if (tag.length != 0) out[4] = tag.bytes[4];
    putSyncsafe(out, body);
    out.insert(out.end(), frames.begin(), frames.end());
    out.resize(kHeader + body, 0);
    return out;
}

std::string id3Difference(ByteSpan original, ByteSpan copy, int bpm) {
    Id3Tag before;
    Id3Tag after;
    // A file that had no tag gains one that holds the tempo alone.
    if (original.length != 0 && parseId3(original, before) != TagLayout::Edited) return "ID3v2 tag";
    if (parseId3(copy, after) != TagLayout::Edited) return "ID3v2 tag";
    if (original.length != 0 && (before.version != after.version || original.bytes[5] != copy.bytes[5])) {
        return "ID3v2 header";
    }
    std::vector<const Id3Frame*> kept[2];
    for (const Id3Frame& frame : before.frames) {
        if (frame.id != "TBPM") kept[0].push_back(&frame);
    }
    for (const Id3Frame& frame : after.frames) {
        if (frame.id != "TBPM") kept[1].push_back(&frame);
    }
    for (std::size_t i = 0; i < kept[0].size() || i < kept[1].size(); ++i) {
        if (i >= kept[0].size() || i >= kept[1].size()) return i < kept[0].size() ? kept[0][i]->id : kept[1][i]->id;
        const Id3Frame& a = *kept[0][i];
        const Id3Frame& b = *kept[1][i];
        if (!sameBytes(slice(original, a.offset, a.length), slice(copy, b.offset, b.length))) return a.id;
    }
    return id3Tempo(copy, after) == std::to_string(bpm) ? std::string() : "tempo";
}

}  // namespace tempo::tagbytes
