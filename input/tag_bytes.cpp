// Where each format keeps its tag, and the file around it: an MP3's ID3v2
// tag in front of its frames; FLAC's metadata blocks ("fLaC", then blocks
// of a one-byte type and last flag and a 24-bit length, the frames after
// the last), whose padding block takes up a comment's change of size so
// the frames stay where they were; the chunks of WAVE (RIFF, little-endian
// sizes) and AIFF (FORM, big-endian), each padded to an even length, the
// tag in an "ID3 " chunk. Ogg is in ogg_pages.cpp.

#include "input/tag_bytes.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "input/tag_formats.hpp"

namespace tempo {
namespace tagbytes {

std::uint64_t bigEndian(const unsigned char* bytes, unsigned width) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value = value << 8U | bytes[i];
    return value;
}

void putBigEndian(std::vector<unsigned char>& out, std::uint64_t value, unsigned width) {
    for (unsigned i = width; i > 0; --i) out.push_back(static_cast<unsigned char>(value >> (8U * (i - 1))));
}

void putLittleEndian(std::vector<unsigned char>& out, std::uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8U * i)));
}

ByteSpan slice(ByteSpan span, std::uint64_t offset, std::uint64_t length) {
    if (offset > span.length) return ByteSpan{span.bytes + span.length, 0};
    return ByteSpan{span.bytes + offset, std::min(length, span.length - offset)};
}

bool sameBytes(ByteSpan a, ByteSpan b) {
    return a.length == b.length && (a.length == 0 || std::memcmp(a.bytes, b.bytes, a.length) == 0);
}

}  // namespace tagbytes

namespace {

using namespace tagbytes;

constexpr std::uint64_t kMaxBlock = (1U << 24U) - 1;
constexpr unsigned kCommentBlock = 4;
constexpr unsigned kPaddingBlock = 1;

// The ID3v2 tag that `tag` holds (none when empty), parsed.
TagLayout readId3(ByteSpan tag, Id3Tag& parsed) {
    parsed = Id3Tag{};
    return tag.length == 0 ? TagLayout::Edited : parseId3(tag, parsed);
}

// ---- MP3: the tag in front of the frames.

TagLayout mp3Tempo(ByteSpan file, std::string& text) {
    const ByteSpan tag = slice(file, 0, id3Size(file));
    Id3Tag parsed;
    const TagLayout layout = readId3(tag, parsed);
    if (layout == TagLayout::Edited) text = id3Tempo(tag, parsed);
    return layout;
}

TagLayout mp3WithTempo(ByteSpan file, int bpm, std::vector<FilePiece>& pieces) {
    const std::uint64_t size = id3Size(file);
    Id3Tag parsed;
    const TagLayout layout = readId3(slice(file, 0, size), parsed);
    if (layout != TagLayout::Edited) return layout;
    pieces = {FilePiece{id3WithTempo(slice(file, 0, size), parsed, bpm), 0, 0}, FilePiece{{}, size, file.length - size}};
    return TagLayout::Edited;
}

std::string mp3Difference(ByteSpan original, ByteSpan copy, int bpm) {
    const std::uint64_t before = id3Size(original);
    const std::uint64_t after = id3Size(copy);
    const std::string tag = id3Difference(slice(original, 0, before), slice(copy, 0, after), bpm);
    if (!tag.empty()) return tag;
    return sameBytes(slice(original, before, original.length), slice(copy, after, copy.length)) ? std::string() : "audio";
}

// ---- FLAC: metadata blocks.

struct FlacBlock {
    unsigned type = 0;
    std::uint64_t offset = 0;  // of the block's body
    std::uint64_t length = 0;
};

// The blocks after "fLaC" at `start`, and where the frames begin.
bool readBlocks(ByteSpan file, std::uint64_t start, std::vector<FlacBlock>& blocks, std::uint64_t& frames) {
    blocks.clear();
    if (file.length < start + 4 || std::memcmp(file.bytes + start, "fLaC", 4) != 0) return false;
    std::uint64_t at = start + 4;
    for (bool last = false; !last;) {
        if (file.length - at < 4) return false;
        last = (file.bytes[at] & 0x80U) != 0;
        const FlacBlock block{file.bytes[at] & 0x7FU, at + 4, bigEndian(file.bytes + at + 1, 3)};
        if (file.length - block.offset < block.length) return false;
        blocks.push_back(block);
        at = block.offset + block.length;
    }
    frames = at;
    return !blocks.empty() && blocks[0].type == 0;  // STREAMINFO comes first
}

void putBlock(std::vector<unsigned char>& out, unsigned type, bool last, ByteSpan body) {
    out.push_back(static_cast<unsigned char>(type | (last ? 0x80U : 0U)));
    putBigEndian(out, body.length, 3);
    out.insert(out.end(), body.bytes, body.bytes + body.length);
}

// The comment of `blocks` (an empty one where there is none).
bool flacComment(ByteSpan file, const std::vector<FlacBlock>& blocks, VorbisComment& comment, std::size_t& index) {
    index = blocks.size();
    comment = VorbisComment{"tempo-scan", {}, {}};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (blocks[i].type == kCommentBlock) {
            index = i;
            return parseComment(slice(file, blocks[i].offset, blocks[i].length), comment);
        }
    }
    return true;
}

TagLayout flacTempo(ByteSpan file, std::string& text) {
    std::vector<FlacBlock> blocks;
    std::uint64_t frames = 0;
    VorbisComment comment;
    std::size_t index = 0;
    if (!readBlocks(file, id3Size(file), blocks, frames) || !flacComment(file, blocks, comment, index)) {
        return TagLayout::Damaged;
    }
    text = commentTempo(comment);
    return TagLayout::Edited;
}

// The new comment in place of the old (or after STREAMINFO), the first
// padding block shorter or longer by the change where it has the room.
std::vector<unsigned char> flacMetadata(ByteSpan file, const std::vector<FlacBlock>& blocks, std::size_t index,
                                        const std::vector<unsigned char>& comment) {
    const bool inserted = index == blocks.size();
    const auto change = static_cast<std::int64_t>(comment.size()) -
                        (inserted ? -4 : static_cast<std::int64_t>(blocks[index].length));
    std::vector<unsigned char> out = {'f', 'L', 'a', 'C'};
    bool absorbed = false;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const bool last = i + 1 == blocks.size();
        const bool before = inserted && i == 0;  // the new comment follows this block
        const FlacBlock& block = blocks[i];
        if (i == index) {
            putBlock(out, kCommentBlock, last, ByteSpan{comment.data(), comment.size()});
            continue;
        }
        const auto padding = static_cast<std::int64_t>(block.length) - change;
        if (block.type == kPaddingBlock && !absorbed && padding >= 0 && padding <= static_cast<std::int64_t>(kMaxBlock)) {
            const std::vector<unsigned char> zeros(static_cast<std::size_t>(padding), 0);
            putBlock(out, kPaddingBlock, last && !before, ByteSpan{zeros.data(), zeros.size()});
            absorbed = true;
        } else {
            putBlock(out, block.type, last && !before, slice(file, block.offset, block.length));
        }
        if (before) putBlock(out, kCommentBlock, last, ByteSpan{comment.data(), comment.size()});
    }
    return out;
}

TagLayout flacWithTempo(ByteSpan file, int bpm, std::vector<FilePiece>& pieces) {
    const std::uint64_t start = id3Size(file);
    std::vector<FlacBlock> blocks;
    std::uint64_t frames = 0;
    VorbisComment comment;
    std::size_t index = 0;
    if (!readBlocks(file, start, blocks, frames) || !flacComment(file, blocks, comment, index)) {
        return TagLayout::Damaged;
    }
    setCommentTempo(comment, bpm);
    const std::vector<unsigned char> rendered = renderComment(comment);
    if (rendered.size() > kMaxBlock) return TagLayout::Unusual;
    pieces = {FilePiece{{}, 0, start}, FilePiece{flacMetadata(file, blocks, index, rendered), 0, 0},
              FilePiece{{}, frames, file.length - frames}};
    return TagLayout::Edited;
}

std::string flacDifference(ByteSpan original, ByteSpan copy, int bpm) {
    std::vector<FlacBlock> blocks[2];
    std::uint64_t frames[2] = {0, 0};
    const ByteSpan files[2] = {original, copy};
    std::vector<FlacBlock> kept[2];
    VorbisComment comments[2];
    for (int i = 0; i < 2; ++i) {
        std::size_t index = 0;
        if (!readBlocks(files[i], id3Size(files[i]), blocks[i], frames[i]) ||
            !flacComment(files[i], blocks[i], comments[i], index)) {
            return "FLAC metadata";
        }
        for (const FlacBlock& block : blocks[i]) {
            if (block.type != kPaddingBlock && block.type != kCommentBlock) kept[i].push_back(block);
        }
    }
    if (comments[0].fields.empty() && comments[0].vendor == "tempo-scan") comments[0].vendor = comments[1].vendor;
    const std::uint64_t start = id3Size(original);
    if (!sameBytes(slice(original, 0, start), slice(copy, 0, id3Size(copy)))) return "ID3v2 tag";
    if (kept[0].size() != kept[1].size()) return "FLAC metadata";
    for (std::size_t i = 0; i < kept[0].size(); ++i) {
        if (kept[0][i].type != kept[1][i].type || !sameBytes(slice(original, kept[0][i].offset, kept[0][i].length),
                                                             slice(copy, kept[1][i].offset, kept[1][i].length))) {
            return "FLAC block " + std::to_string(kept[0][i].type);
        }
    }
    const std::string tag = commentDifference(comments[0], comments[1], bpm);
    if (!tag.empty()) return tag;
    return sameBytes(slice(original, frames[0], original.length), slice(copy, frames[1], copy.length)) ? std::string()
                                                                                                       : "audio";
}

// ---- WAVE and AIFF: chunks.

struct Chunk {
    char id[5] = {};
    std::uint64_t offset = 0;  // of the chunk's header
    std::uint64_t length = 0;  // of its body
};

bool isId3Chunk(const Chunk& chunk) { return std::strcmp(chunk.id, "ID3 ") == 0 || std::strcmp(chunk.id, "id3 ") == 0; }

std::uint64_t chunkSize(ByteSpan file, std::uint64_t at, bool big) {
    if (big) return bigEndian(file.bytes + at, 4);
    return file.bytes[at] | std::uint64_t{file.bytes[at + 1]} << 8U | std::uint64_t{file.bytes[at + 2]} << 16U |
           std::uint64_t{file.bytes[at + 3]} << 24U;
}

// Every chunk of a RIFF or FORM file whose size is the file's.
TagLayout readChunks(ByteSpan file, bool big, std::vector<Chunk>& chunks) {
    chunks.clear();
    if (file.length < 12) return TagLayout::Damaged;
    if (chunkSize(file, 4, big) + 8 != file.length) return TagLayout::Unusual;
    std::uint64_t at = 12;
    while (at < file.length) {
        if (file.length - at < 8) return TagLayout::Damaged;
        Chunk chunk;
        std::memcpy(chunk.id, file.bytes + at, 4);
        chunk.offset = at;
        chunk.length = chunkSize(file, at + 4, big);
        if (file.length - at - 8 < chunk.length) return TagLayout::Damaged;
        chunks.push_back(chunk);
        at += 8 + chunk.length + (chunk.length & 1U);
    }
    return at == file.length ? TagLayout::Edited : TagLayout::Unusual;
}

ByteSpan bodyOf(ByteSpan file, const Chunk& chunk) { return slice(file, chunk.offset + 8, chunk.length); }

const Chunk* id3Chunk(const std::vector<Chunk>& chunks) {
    for (const Chunk& chunk : chunks) {
        if (isId3Chunk(chunk)) return &chunk;
    }
    return nullptr;
}

TagLayout chunkTempo(ByteSpan file, bool big, std::string& text) {
    std::vector<Chunk> chunks;
    const TagLayout layout = readChunks(file, big, chunks);
    if (layout != TagLayout::Edited) return layout;
    const Chunk* chunk = id3Chunk(chunks);
    const ByteSpan tag = chunk != nullptr ? bodyOf(file, *chunk) : ByteSpan{};
    Id3Tag parsed;
    const TagLayout read = readId3(tag, parsed);
    if (read == TagLayout::Edited) text = id3Tempo(tag, parsed);
    return read;
}

TagLayout chunkWithTempo(ByteSpan file, bool big, int bpm, std::vector<FilePiece>& pieces) {
    std::vector<Chunk> chunks;
    TagLayout layout = readChunks(file, big, chunks);
    if (layout != TagLayout::Edited) return layout;
    const Chunk* old = id3Chunk(chunks);
    const ByteSpan tag = old != nullptr ? bodyOf(file, *old) : ByteSpan{};
    Id3Tag parsed;
    if ((layout = readId3(tag, parsed)) != TagLayout::Edited) return layout;
    const std::vector<unsigned char> id3 = id3WithTempo(tag, parsed, bpm);
    std::vector<unsigned char> chunk(old != nullptr ? old->id : "ID3 ", (old != nullptr ? old->id : "ID3 ") + 4);
    const auto put = big ? putBigEndian : putLittleEndian;
    put(chunk, id3.size(), 4);
    chunk.insert(chunk.end(), id3.begin(), id3.end());
    if (id3.size() % 2 != 0) chunk.push_back(0);
    const std::uint64_t from = old != nullptr ? old->offset : file.length;
    const std::uint64_t to = old != nullptr ? old->offset + 8 + old->length + (old->length & 1U) : file.length;
    std::vector<unsigned char> header(file.bytes, file.bytes + 4);
    put(header, file.length - (to - from) + chunk.size() - 8, 4);
    header.insert(header.end(), file.bytes + 8, file.bytes + 12);
    pieces = {FilePiece{std::move(header), 0, 0}, FilePiece{{}, 12, from - 12}, FilePiece{std::move(chunk), 0, 0},
              FilePiece{{}, to, file.length - to}};
    return TagLayout::Edited;
}

std::string chunkDifference(ByteSpan original, ByteSpan copy, bool big, int bpm) {
    std::vector<Chunk> chunks[2];
    if (readChunks(original, big, chunks[0]) != TagLayout::Edited || readChunks(copy, big, chunks[1]) != TagLayout::Edited ||
        std::memcmp(original.bytes + 8, copy.bytes + 8, 4) != 0) {
        return "chunks";
    }
    std::vector<const Chunk*> kept[2];
    for (int i = 0; i < 2; ++i) {
        for (const Chunk& chunk : chunks[i]) {
            if (!isId3Chunk(chunk)) kept[i].push_back(&chunk);
        }
    }
    if (kept[0].size() != kept[1].size()) return "chunks";
    for (std::size_t i = 0; i < kept[0].size(); ++i) {
        const Chunk& a = *kept[0][i];
        if (std::strcmp(a.id, kept[1][i]->id) != 0 || !sameBytes(bodyOf(original, a), bodyOf(copy, *kept[1][i]))) {
            return std::strcmp(a.id, "data") == 0 || std::strcmp(a.id, "SSND") == 0 ? "audio" : "chunk " + std::string(a.id);
        }
    }
    const Chunk* before = id3Chunk(chunks[0]);
    const Chunk* after = id3Chunk(chunks[1]);
    if (after == nullptr) return "ID3v2 tag";
    return id3Difference(before != nullptr ? bodyOf(original, *before) : ByteSpan{}, bodyOf(copy, *after), bpm);
}

// ---- MP4: the iTunes tag's items.

struct Box {
    std::string type;
    std::uint64_t body = 0;    // offset of the box's body
    std::uint64_t length = 0;  // of its body
};

// The boxes in [at, end) of `file`; false where one overruns.
bool readBoxes(ByteSpan file, std::uint64_t at, std::uint64_t end, std::vector<Box>& boxes) {
    boxes.clear();
    while (at < end) {
        if (end - at < 8) return false;
        std::uint64_t size = bigEndian(file.bytes + at, 4);
        std::uint64_t header = 8;
        if (size == 1) {
            if (end - at < 16) return false;
            size = bigEndian(file.bytes + at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header || size > end - at) return false;
        boxes.push_back(Box{std::string(reinterpret_cast<const char*>(file.bytes + at + 4), 4), at + header, size - header});
        at += size;
    }
    return true;
}

// The box of `type` among the children of [at, at + length), or false.
bool childBox(ByteSpan file, std::uint64_t at, std::uint64_t length, const char* type, Box& found) {
    std::vector<Box> boxes;
    if (!readBoxes(file, at, at + length, boxes)) return false;
    for (const Box& box : boxes) {
        if (box.type == type) {
            found = box;
            return true;
        }
    }
    return false;
}

// The items of the iTunes tag, each its type and bytes; false where there
// is no tag or it does not parse.
bool ilstItems(ByteSpan file, std::vector<std::pair<std::string, std::string>>& items) {
    Box moov;
    Box udta;
    Box meta;
    Box ilst;
    items.clear();
    if (!childBox(file, 0, file.length, "moov", moov) || !childBox(file, moov.body, moov.length, "udta", udta) ||
        !childBox(file, udta.body, udta.length, "meta", meta) || meta.length < 4 ||
        !childBox(file, meta.body + 4, meta.length - 4, "ilst", ilst)) {
        return false;
    }
    std::vector<Box> boxes;
    if (!readBoxes(file, ilst.body, ilst.body + ilst.length, boxes)) return false;
    for (const Box& box : boxes) {
        items.emplace_back(box.type, std::string(reinterpret_cast<const char*>(file.bytes + box.body), box.length));
    }
    return true;
}

}  // namespace

std::string mp4TagDifference(ByteSpan original, ByteSpan copy, int bpm) {
    std::vector<std::pair<std::string, std::string>> before;
    std::vector<std::pair<std::string, std::string>> after;
    if (!ilstItems(copy, after)) return "tag";
    if (!ilstItems(original, before)) before.clear();
    std::string tempo;
    std::vector<std::pair<std::string, std::string>> kept[2];
    for (auto& item : before) {
        if (item.first != "tmpo") kept[0].push_back(std::move(item));
    }
    for (auto& item : after) {
        if (item.first != "tmpo") {
            kept[1].push_back(std::move(item));
        } else {
            tempo = item.second;
        }
    }
    std::sort(kept[0].begin(), kept[0].end());
    std::sort(kept[1].begin(), kept[1].end());
    for (std::size_t i = 0; i < kept[0].size() || i < kept[1].size(); ++i) {
        if (i >= kept[0].size() || i >= kept[1].size() || kept[0][i] != kept[1][i]) {
            return "tag " + (i < kept[0].size() ? kept[0][i].first : kept[1][i].first);
        }
    }
    // A data box: size, "data", type 21 (integer), locale, the value.
    const bool right = tempo.size() >= 18 && tempo.compare(4, 4, "data") == 0 &&
                       bigEndian(reinterpret_cast<const unsigned char*>(tempo.data()) + 16,
                                     static_cast<unsigned>(std::min<std::size_t>(8, tempo.size() - 16))) ==
                           static_cast<std::uint64_t>(bpm);
    return right ? std::string() : "tag tmpo";
}

bool editsTagBytes(AudioContainer container) {
    switch (container) {
        case AudioContainer::Mpeg:
        case AudioContainer::Flac:
        case AudioContainer::OggVorbis:
        case AudioContainer::OggOpus:
        case AudioContainer::OggFlac:
        case AudioContainer::Wave:
        case AudioContainer::Aiff:
            return true;
        default:
            return false;
    }
}

TagLayout readTempoText(AudioContainer container, ByteSpan file, std::string& text) {
    text.clear();
    switch (container) {
        case AudioContainer::Mpeg: return mp3Tempo(file, text);
        case AudioContainer::Flac: return flacTempo(file, text);
        case AudioContainer::Wave: return chunkTempo(file, false, text);
        case AudioContainer::Aiff: return chunkTempo(file, true, text);
        default: return oggTempo(container, file, text);
    }
}

TagLayout rewriteTempo(AudioContainer container, ByteSpan file, int bpm, std::vector<FilePiece>& pieces) {
    switch (container) {
        case AudioContainer::Mpeg: return mp3WithTempo(file, bpm, pieces);
        case AudioContainer::Flac: return flacWithTempo(file, bpm, pieces);
        case AudioContainer::Wave: return chunkWithTempo(file, false, bpm, pieces);
        case AudioContainer::Aiff: return chunkWithTempo(file, true, bpm, pieces);
        default: return oggWithTempo(container, file, bpm, pieces);
    }
}

std::string taggedCopyDifference(AudioContainer container, ByteSpan original, ByteSpan copy, int bpm) {
    switch (container) {
        case AudioContainer::Mpeg: return mp3Difference(original, copy, bpm);
        case AudioContainer::Flac: return flacDifference(original, copy, bpm);
        case AudioContainer::Wave: return chunkDifference(original, copy, false, bpm);
        case AudioContainer::Aiff: return chunkDifference(original, copy, true, bpm);
        default: return oggDifference(container, original, copy, bpm);
    }
}

}  // namespace tempo
