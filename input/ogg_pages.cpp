// The Vorbis comment of an Ogg file's first stream, edited over its pages
// (RFC 3533): the header packets are gathered from the stream's first
// pages; the packet that holds the comment (Vorbis's second, "\x03vorbis";
// Opus's "OpusTags"; in Ogg FLAC the metadata block of type 4) is
// rewritten, and the pages from the second one to the last header page are
// laid out again (255 lacing values a page, granule position 0 where a
// packet ends and -1 where none does, as the encoders write them). Where
// that takes another number of pages, the stream's later pages are
// renumbered and their checksums computed again; their bodies, granule
// positions and flags, the pages of any other stream and the bytes after
// the last page stay as they are. The audio must start on a page of its
// own, as the three mappings require; a file whose first page holds more
// than the first packet, or whose header pages are shared with another
// stream, is left alone (Unusual).

#include <algorithm>
#include <array>
#include <cstring>

#include "input/tag_formats.hpp"

namespace tempo::tagbytes {
namespace {

constexpr std::uint64_t kPageHeader = 27;
constexpr unsigned char kContinued = 0x01;
constexpr unsigned char kLastPage = 0x04;
constexpr std::uint64_t kNoGranule = ~std::uint64_t{0};

struct Page {
    std::uint64_t offset = 0;
    std::uint64_t headerLength = 0;  // 27 and the lacing values
    std::uint64_t bodyLength = 0;
    std::uint32_t serial = 0;
    std::uint32_t sequence = 0;
    unsigned char type = 0;
};

const std::array<std::uint32_t, 256>& crcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24U;
            for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000U) != 0 ? (r << 1U) ^ 0x04C11DB7U : r << 1U;
            t[i] = r;
        }
        return t;
    }();
    return table;
}

// The page's checksum, with its own checksum field counted as zeros.
std::uint32_t pageCrc(const unsigned char* page, std::uint64_t length) {
    const std::array<std::uint32_t, 256>& table = crcTable();
    std::uint32_t crc = 0;
    for (std::uint64_t i = 0; i < length; ++i) {
        const unsigned char byte = i >= 22 && i < 26 ? 0 : page[i];
        crc = (crc << 8U) ^ table[((crc >> 24U) ^ byte) & 0xFFU];
    }
    return crc;
}

void setSequenceAndCrc(unsigned char* page, std::uint64_t length, std::uint32_t sequence) {
    for (unsigned i = 0; i < 4; ++i) page[18 + i] = static_cast<unsigned char>(sequence >> (8U * i));
    const std::uint32_t crc = pageCrc(page, length);
    for (unsigned i = 0; i < 4; ++i) page[22 + i] = static_cast<unsigned char>(crc >> (8U * i));
}

std::uint32_t little32(const unsigned char* bytes) {
    return bytes[0] | bytes[1] << 8U | bytes[2] << 16U | static_cast<std::uint32_t>(bytes[3]) << 24U;
}

// Every whole page from the start of `file`; `end` is where the last ends.
std::vector<Page> readPages(ByteSpan file, std::uint64_t& end) {
    std::vector<Page> pages;
    std::uint64_t at = 0;
    while (file.length - at >= kPageHeader && std::memcmp(file.bytes + at, "OggS", 4) == 0 && file.bytes[at + 4] == 0) {
        Page page;
        page.offset = at;
        page.headerLength = kPageHeader + file.bytes[at + 26];
        if (file.length - at < page.headerLength) break;
        for (std::uint64_t i = kPageHeader; i < page.headerLength; ++i) page.bodyLength += file.bytes[at + i];
        if (file.length - at - page.headerLength < page.bodyLength) break;
        page.type = file.bytes[at + 5];
        page.serial = little32(file.bytes + at + 14);
        page.sequence = little32(file.bytes + at + 18);
        pages.push_back(page);
        at += page.headerLength + page.bodyLength;
    }
    end = at;
    return pages;
}

// The first stream's header packets and where they end.
struct Headers {
    std::vector<std::vector<unsigned char>> packets;
    std::size_t lastPage = 0;      // the index of the page the last header packet ends on
    std::size_t comment = 0;       // the packet that holds the comment
    std::uint64_t commentAt = 0;   // where in it the comment starts
};

// How many header packets the stream has, from its first packet; 0: not known.
std::size_t headerCount(AudioContainer container, const std::vector<unsigned char>& first) {
    switch (container) {
        case AudioContainer::OggVorbis: return 3;
        case AudioContainer::OggOpus: return 2;
        case AudioContainer::OggFlac: return first.size() >= 9 ? 1 + bigEndian(first.data() + 7, 2) : 0;
        default: return 0;
    }
}

bool findComment(AudioContainer container, Headers& headers) {
    const auto startsWith = [&](std::size_t packet, const char* text, std::size_t length) {
        return headers.packets[packet].size() >= length && std::memcmp(headers.packets[packet].data(), text, length) == 0;
    };
    if (container == AudioContainer::OggVorbis && startsWith(1, "\x03vorbis", 7)) {
        headers.comment = 1;
        headers.commentAt = 7;
        return true;
    }
    if (container == AudioContainer::OggOpus && startsWith(1, "OpusTags", 8)) {
        headers.comment = 1;
        headers.commentAt = 8;
        return true;
    }
    for (std::size_t i = 1; container == AudioContainer::OggFlac && i < headers.packets.size(); ++i) {
        if (headers.packets[i].size() >= 4 && (headers.packets[i][0] & 0x7FU) == 4) {
            headers.comment = i;
            headers.commentAt = 4;
            return true;
        }
    }
    return false;
}

// Gathers the header packets; the first page must hold the first packet
// alone and the last header packet must end its page.
TagLayout readHeaders(AudioContainer container, ByteSpan file, const std::vector<Page>& pages, Headers& headers) {
    headers = Headers{};
    if (pages.empty()) return TagLayout::Damaged;
    std::vector<unsigned char> packet;
    std::size_t wanted = 1;
    for (std::size_t p = 0; p < pages.size() && headers.packets.size() < wanted; ++p) {
        const Page& page = pages[p];
        if (page.serial != pages[0].serial) return TagLayout::Unusual;
        const unsigned char* lacing = file.bytes + page.offset + kPageHeader;
        const unsigned char* body = file.bytes + page.offset + page.headerLength;
        const std::uint64_t segments = page.headerLength - kPageHeader;
        for (std::uint64_t s = 0; s < segments; ++s) {
            if (headers.packets.size() == wanted) return TagLayout::Unusual;  // more on a header page
            packet.insert(packet.end(), body, body + lacing[s]);
            body += lacing[s];
            if (lacing[s] == 255) continue;
            headers.packets.push_back(std::move(packet));
            packet.clear();
            if (headers.packets.size() == 1) wanted = headerCount(container, headers.packets[0]);
            if (wanted == 0) return TagLayout::Unusual;
        }
        if (p == 0 && (headers.packets.size() != 1 || !packet.empty())) return TagLayout::Unusual;
        headers.lastPage = p;
    }
    if (headers.packets.size() < wanted) return TagLayout::Damaged;
    return findComment(container, headers) ? TagLayout::Edited : TagLayout::Unusual;
}

bool parseCommentPacket(const Headers& headers, VorbisComment& comment) {
    const std::vector<unsigned char>& packet = headers.packets[headers.comment];
    return parseComment(ByteSpan{packet.data() + headers.commentAt, packet.size() - headers.commentAt}, comment);
}

// Header packets 1 onwards laid out as pages, numbered from 1.
std::vector<unsigned char> headerPages(const Headers& headers, std::uint32_t serial, std::size_t& pageCount) {
    std::vector<unsigned char> lacing;
    std::vector<bool> ends;  // whether each lacing value ends its packet
    std::vector<unsigned char> body;
    for (std::size_t i = 1; i < headers.packets.size(); ++i) {
        const std::size_t size = headers.packets[i].size();
        for (std::size_t left = size;; left -= 255) {
            lacing.push_back(static_cast<unsigned char>(left >= 255 ? 255 : left));
            ends.push_back(left < 255);
            if (left < 255) break;
        }
        body.insert(body.end(), headers.packets[i].begin(), headers.packets[i].end());
    }
    std::vector<unsigned char> out;
    std::size_t bodyAt = 0;
    pageCount = 0;
    for (std::size_t first = 0; first < lacing.size(); first += 255) {
        const std::size_t count = std::min<std::size_t>(255, lacing.size() - first);
        bool packetEnds = false;
        std::size_t bytes = 0;
        for (std::size_t s = first; s < first + count; ++s) {
            packetEnds = packetEnds || ends[s];
            bytes += lacing[s];
        }
        const std::size_t start = out.size();
        out.insert(out.end(), {'O', 'g', 'g', 'S', 0, static_cast<unsigned char>(first > 0 && !ends[first - 1] ? kContinued : 0)});
        putLittleEndian(out, packetEnds ? 0 : kNoGranule, 8);
        putLittleEndian(out, serial, 4);
        putLittleEndian(out, 0, 8);  // sequence and checksum, set below
        out.push_back(static_cast<unsigned char>(count));
        out.insert(out.end(), lacing.begin() + static_cast<std::ptrdiff_t>(first),
                   lacing.begin() + static_cast<std::ptrdiff_t>(first + count));
        out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(bodyAt),
                   body.begin() + static_cast<std::ptrdiff_t>(bodyAt + bytes));
        bodyAt += bytes;
        setSequenceAndCrc(out.data() + start, out.size() - start, static_cast<std::uint32_t>(++pageCount));
    }
    return out;
}

// Whether the bytes before the two comments are the same: all of them,
// but an Ogg FLAC block's length, which follows its comment.
bool samePrefix(AudioContainer container, const Headers& a, const Headers& b) {
    const std::vector<unsigned char>& before = a.packets[a.comment];
    const std::vector<unsigned char>& after = b.packets[b.comment];
    const std::size_t compared = container == AudioContainer::OggFlac ? 1 : a.commentAt;
    return a.commentAt == b.commentAt && std::memcmp(before.data(), after.data(), compared) == 0;
}

void addOriginal(std::vector<FilePiece>& pieces, std::uint64_t offset, std::uint64_t length) {
    if (length == 0) return;
    if (!pieces.empty() && pieces.back().bytes.empty() && pieces.back().offset + pieces.back().length == offset) {
        pieces.back().length += length;
        return;
    }
    pieces.push_back(FilePiece{{}, offset, length});
}

// The pages after the headers, the first stream's renumbered by `shift`;
// false where a page to renumber fails its checksum (a damaged page is
// not made to look whole).
bool laterPages(ByteSpan file, const std::vector<Page>& pages, std::size_t from, std::int64_t shift,
                std::vector<FilePiece>& pieces) {
    bool inStream = true;
    for (std::size_t p = from; p < pages.size(); ++p) {
        const Page& page = pages[p];
        const std::uint64_t length = page.headerLength + page.bodyLength;
        if (shift == 0 || !inStream || page.serial != pages[0].serial) {
            addOriginal(pieces, page.offset, length);
            continue;
        }
        if (little32(file.bytes + page.offset + 22) != pageCrc(file.bytes + page.offset, length)) return false;
        FilePiece piece;
        piece.bytes.assign(file.bytes + page.offset, file.bytes + page.offset + length);
        setSequenceAndCrc(piece.bytes.data(), length, static_cast<std::uint32_t>(page.sequence + shift));
        pieces.push_back(std::move(piece));
        if ((page.type & kLastPage) != 0) inStream = false;
    }
    return true;
}

// Whether the later pages of `copy` are those of `original`, the first
// stream's numbered `shift` further on with a right checksum (one that was
// right before), every other page with the checksum it had.
bool samePages(ByteSpan original, const std::vector<Page>& before, std::size_t from, ByteSpan copy,
               const std::vector<Page>& after, std::size_t copyFrom, std::int64_t shift) {
    if (before.size() - from != after.size() - copyFrom) return false;
    bool inStream = true;
    for (std::size_t i = 0; from + i < before.size(); ++i) {
        const Page& a = before[from + i];
        const Page& b = after[copyFrom + i];
        const std::uint64_t length = a.headerLength + a.bodyLength;
        const unsigned char* pa = original.bytes + a.offset;
        const unsigned char* pb = copy.bytes + b.offset;
        const bool shifted = inStream && a.serial == before[0].serial && shift != 0;
        const bool checksums = shifted ? little32(pa + 22) == pageCrc(pa, length) && little32(pb + 22) == pageCrc(pb, length)
                                       : std::memcmp(pa + 22, pb + 22, 4) == 0;
        if (length != b.headerLength + b.bodyLength || std::memcmp(pa, pb, 18) != 0 ||
            std::memcmp(pa + 26, pb + 26, length - 26) != 0 || !checksums ||
            b.sequence != static_cast<std::uint32_t>(a.sequence + (shifted ? shift : 0))) {
            return false;
        }
        if (inStream && a.serial == before[0].serial && (a.type & kLastPage) != 0) inStream = false;
    }
    return true;
}

// The pages of `file` (`end`: where the last whole one ends), its header
// packets and its comment, parsed; Edited when all of it could be read.
TagLayout readOggComment(AudioContainer container, ByteSpan file, std::vector<Page>& pages, std::uint64_t& end,
                         Headers& headers, VorbisComment& comment) {
    pages = readPages(file, end);
    const TagLayout layout = readHeaders(container, file, pages, headers);
    if (layout != TagLayout::Edited) return layout;
    return parseCommentPacket(headers, comment) ? TagLayout::Edited : TagLayout::Damaged;
}

}  // namespace

TagLayout oggTempo(AudioContainer container, ByteSpan file, std::string& text) {
    std::vector<Page> pages;
    std::uint64_t end = 0;
    Headers headers;
    VorbisComment comment;
    const TagLayout layout = readOggComment(container, file, pages, end, headers, comment);
    if (layout == TagLayout::Edited) text = commentTempo(comment);
    return layout;
}

TagLayout oggWithTempo(AudioContainer container, ByteSpan file, int bpm, std::vector<FilePiece>& pieces) {
    std::vector<Page> pages;
    std::uint64_t end = 0;
    Headers headers;
    VorbisComment comment;
    const TagLayout layout = readOggComment(container, file, pages, end, headers, comment);
    if (layout != TagLayout::Edited) return layout;
    setCommentTempo(comment, bpm);
    std::vector<unsigned char>& packet = headers.packets[headers.comment];
    packet.resize(headers.commentAt);
    const std::vector<unsigned char> rendered = renderComment(comment);
    packet.insert(packet.end(), rendered.begin(), rendered.end());
    if (container == AudioContainer::OggFlac) {
        for (unsigned i = 0; i < 3; ++i) packet[1 + i] = static_cast<unsigned char>(rendered.size() >> (8U * (2 - i)));
    }
    pieces.clear();
    addOriginal(pieces, 0, pages[1].offset);
    std::size_t count = 0;
    pieces.push_back(FilePiece{headerPages(headers, pages[0].serial, count), 0, 0});
    const auto shift = static_cast<std::int64_t>(count) - static_cast<std::int64_t>(headers.lastPage);
    if (!laterPages(file, pages, headers.lastPage + 1, shift, pieces)) return TagLayout::Damaged;
    addOriginal(pieces, end, file.length - end);
    return TagLayout::Edited;
}

std::string oggDifference(AudioContainer container, ByteSpan original, ByteSpan copy, int bpm) {
    std::uint64_t ends[2] = {0, 0};
    const std::vector<Page> before = readPages(original, ends[0]);
    const std::vector<Page> after = readPages(copy, ends[1]);
    Headers headers[2];
    if (readHeaders(container, original, before, headers[0]) != TagLayout::Edited ||
        readHeaders(container, copy, after, headers[1]) != TagLayout::Edited) {
        return "Ogg headers";
    }
    if (headers[0].packets.size() != headers[1].packets.size() || headers[0].comment != headers[1].comment) {
        return "Ogg headers";
    }
    for (std::size_t i = 0; i < headers[0].packets.size(); ++i) {
        const std::vector<unsigned char>& a = headers[0].packets[i];
        const std::vector<unsigned char>& b = headers[1].packets[i];
        if (i != headers[0].comment && a != b) return "Ogg header packet " + std::to_string(i);
    }
    VorbisComment comments[2];
    if (!parseCommentPacket(headers[0], comments[0]) || !parseCommentPacket(headers[1], comments[1])) return "comment";
    if (!samePrefix(container, headers[0], headers[1])) return "comment header";
    const std::string tag = commentDifference(comments[0], comments[1], bpm);
    if (!tag.empty()) return tag;
    const auto shift = static_cast<std::int64_t>(headers[1].lastPage) - static_cast<std::int64_t>(headers[0].lastPage);
    const bool same = samePages(original, before, headers[0].lastPage + 1, copy, after, headers[1].lastPage + 1, shift) &&
                      sameBytes(slice(original, ends[0], original.length - ends[0]), slice(copy, ends[1], copy.length - ends[1]));
    return same ? std::string() : "audio";
}

}  // namespace tempo::tagbytes
