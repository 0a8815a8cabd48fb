#include "input/tag_bytes.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tempo {
namespace {

using Bytes = std::string;

ByteSpan spanOf(const Bytes& bytes) { return {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}; }

Bytes bigEndian(std::uint64_t value, int width) {
    Bytes out;
    for (int i = width - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

Bytes littleEndian(std::uint64_t value, int width) {
    Bytes out;
    for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

Bytes syncsafe(std::uint64_t value) {
    Bytes out;
    for (int shift = 21; shift >= 0; shift -= 7) out += static_cast<char>((value >> shift) & 0x7F);
    return out;
}

// An ID3v2 frame and a tag of them, with `padding` zero bytes.
Bytes frame(unsigned version, const Bytes& id, const Bytes& body) {
    return id + (version == 4 ? syncsafe(body.size()) : bigEndian(body.size(), 4)) + Bytes(2, '\0') + body;
}
Bytes tag(unsigned version, const Bytes& frames, std::size_t padding, unsigned char flags = 0) {
    return Bytes("ID3") + static_cast<char>(version) + '\0' + static_cast<char>(flags) +
           syncsafe(frames.size() + padding) + frames + Bytes(padding, '\0');
}

Bytes applied(AudioContainer container, const Bytes& file, int bpm) {
    std::vector<FilePiece> pieces;
    EXPECT_EQ(rewriteTempo(container, spanOf(file), bpm, pieces), TagLayout::Edited);
    Bytes out;
    for (const FilePiece& piece : pieces) {
        out += piece.bytes.empty() ? file.substr(piece.offset, piece.length) : Bytes(piece.bytes.begin(), piece.bytes.end());
    }
    return out;
}

Bytes tempoText(AudioContainer container, const Bytes& file) {
    std::string text;
    EXPECT_EQ(readTempoText(container, spanOf(file), text), TagLayout::Edited);
    return text;
}

const Bytes kAudio = Bytes("\xFF\xFB\x90\x00", 4) + Bytes(400, 'a');
// Two comments in two languages, UTF-16, and a v2.3 genre as written.
Bytes comments(unsigned version) {
    return frame(version, "COMM", Bytes("\x01" "eng\xFF\xFE\0\0h\0i\0", 13)) +
           frame(version, "COMM", Bytes("\x01" "deu\xFF\xFE\0\0h\0a\0", 13)) + frame(version, "TCON", Bytes("\0(17)Rock", 9));
}

// The tempo frame alone changes, in its place or after the others; the
// padding takes up the change; every other frame stays byte for byte.
TEST(TagBytes, WritesTheTempoFrameAloneInMp3) {
    const struct {
        const char* name;
        Bytes file;
        Bytes expected;  // the tag after the write
    } cases[] = {
        {"v2.3, new frame into padding", tag(3, comments(3), 100) + kAudio,
         tag(3, comments(3) + frame(3, "TBPM", Bytes("\0" "128", 4)), 86)},
        {"v2.4, frame replaced in place", tag(4, frame(4, "TBPM", Bytes("\0" "99", 3)) + comments(4), 0) + kAudio,
         tag(4, frame(4, "TBPM", Bytes("\0" "128", 4)) + comments(4), 0)},
        {"two tempo frames: the first kept in place", tag(4, frame(4, "TBPM", Bytes("\0" "1", 2)) + comments(4) +
                                                             frame(4, "TBPM", Bytes("\0" "2", 2)), 5) + kAudio,
         tag(4, frame(4, "TBPM", Bytes("\0" "128", 4)) + comments(4), 15)},
        {"no tag: a new v2.4 one", kAudio, tag(4, frame(4, "TBPM", Bytes("\0" "128", 4)), 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes written = applied(AudioContainer::Mpeg, c.file, 128);
        EXPECT_EQ(written, c.expected + kAudio);
        EXPECT_EQ(tempoText(AudioContainer::Mpeg, written), "128");
        EXPECT_EQ(taggedCopyDifference(AudioContainer::Mpeg, spanOf(c.file), spanOf(written), 128), "");
    }
}

// A copy that differs in anything but the tempo is named by what differs.
TEST(TagBytes, NamesWhatDiffersInACopy) {
    const Bytes original = tag(3, comments(3), 100) + kAudio;
    const Bytes written = applied(AudioContainer::Mpeg, original, 128);
    Bytes genre = written;
    genre[genre.find("(17)")] = '[';
    Bytes audio = written;
    audio[audio.size() - 1] = 'b';
    const Bytes lost = tag(3, comments(3).substr(23) + frame(3, "TBPM", Bytes("\0" "128", 4)), 100) + kAudio;
    EXPECT_EQ(taggedCopyDifference(AudioContainer::Mpeg, spanOf(original), spanOf(genre), 128), "TCON");
    EXPECT_EQ(taggedCopyDifference(AudioContainer::Mpeg, spanOf(original), spanOf(audio), 128), "audio");
    EXPECT_EQ(taggedCopyDifference(AudioContainer::Mpeg, spanOf(original), spanOf(lost), 128), "COMM");
    EXPECT_EQ(taggedCopyDifference(AudioContainer::Mpeg, spanOf(original), spanOf(written), 127), "tempo");
}

// Tags this tool does not rewrite, and tags that do not parse.
TEST(TagBytes, LeavesUnusualAndDamagedTagsAlone) {
    const struct {
        const char* name;
        Bytes file;
        TagLayout layout;
    } cases[] = {
        {"unsynchronised", tag(3, comments(3), 10, 0x80) + kAudio, TagLayout::Unusual},
        {"extended header", tag(4, comments(4), 10, 0x40) + kAudio, TagLayout::Unusual},
        {"ID3v2.2", Bytes("ID3\x02\0\0", 6) + syncsafe(10) + Bytes(10, '\0') + kAudio, TagLayout::Unusual},
        {"frame past the tag", tag(3, frame(3, "TIT2", "abc").substr(0, 12), 0) + kAudio, TagLayout::Damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FilePiece> pieces;
        std::string text;
        EXPECT_EQ(rewriteTempo(AudioContainer::Mpeg, spanOf(c.file), 128, pieces), c.layout);
        EXPECT_EQ(readTempoText(AudioContainer::Mpeg, spanOf(c.file), text), c.layout);
    }
}

Bytes comment(const Bytes& vendor, const std::vector<Bytes>& fields) {
    Bytes out = littleEndian(vendor.size(), 4) + vendor + littleEndian(fields.size(), 4);
    for (const Bytes& field : fields) out += littleEndian(field.size(), 4) + field;
    return out;
}
Bytes flacBlock(unsigned type, bool last, const Bytes& body) {
    return static_cast<char>(type | (last ? 0x80 : 0)) + bigEndian(body.size(), 3) + body;
}

// FLAC: the BPM field alone, its key's case and every other field's
// order kept; the padding block takes up the change.
TEST(TagBytes, WritesTheBpmFieldAloneInFlac) {
    const Bytes info = flacBlock(0, false, Bytes(34, 'i'));
    const Bytes frames = "\xFF\xF8" + Bytes(300, 'f');
    const std::vector<Bytes> fields = {"artist=One", "bpm=99", "ARTIST=Two", "Album=A"};
    const Bytes original = "fLaC" + info + flacBlock(4, false, comment("vendor", fields)) + flacBlock(1, true, Bytes(50, '\0')) + frames;
    const Bytes written = applied(AudioContainer::Flac, original, 128);
    const std::vector<Bytes> expected = {"artist=One", "bpm=128", "ARTIST=Two", "Album=A"};
    EXPECT_EQ(written, "fLaC" + info + flacBlock(4, false, comment("vendor", expected)) + flacBlock(1, true, Bytes(49, '\0')) + frames);
    EXPECT_EQ(written.size(), original.size());
    EXPECT_EQ(tempoText(AudioContainer::Flac, written), "128");
    EXPECT_EQ(taggedCopyDifference(AudioContainer::Flac, spanOf(original), spanOf(written), 128), "");
    Bytes swapped = written;
    std::swap(swapped[swapped.find("artist")], swapped[swapped.find("ARTIST")]);
    EXPECT_EQ(taggedCopyDifference(AudioContainer::Flac, spanOf(original), spanOf(swapped), 128), "comment ARTIST");
}

Bytes riffChunk(const Bytes& id, const Bytes& body) {
    return id + littleEndian(body.size(), 4) + body + (body.size() % 2 != 0 ? Bytes(1, '\0') : Bytes());
}

// WAVE: an "ID3 " chunk added after the others; every other chunk and the
// sizes as they must be.
TEST(TagBytes, AddsAnId3ChunkToWave) {
    const Bytes chunks = riffChunk("fmt ", Bytes(16, 'f')) + riffChunk("LIST", "INFOabc") + riffChunk("data", Bytes(101, 'd'));
    const Bytes original = "RIFF" + littleEndian(4 + chunks.size(), 4) + "WAVE" + chunks;
    const Bytes written = applied(AudioContainer::Wave, original, 128);
    const Bytes id3 = riffChunk("ID3 ", tag(4, frame(4, "TBPM", Bytes("\0" "128", 4)), 0));
    EXPECT_EQ(written, "RIFF" + littleEndian(4 + chunks.size() + id3.size(), 4) + "WAVE" + chunks + id3);
    EXPECT_EQ(taggedCopyDifference(AudioContainer::Wave, spanOf(original), spanOf(written), 128), "");
    Bytes info = written;
    info[info.find("INFOabc") + 4] = 'x';
    EXPECT_EQ(taggedCopyDifference(AudioContainer::Wave, spanOf(original), spanOf(info), 128), "chunk LIST");
}

}  // namespace
}  // namespace tempo
