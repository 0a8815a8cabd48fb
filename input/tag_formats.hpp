#pragma once

// The pieces of tag_bytes (tag_bytes.cpp, id3v2_tag.cpp, vorbis_comment.cpp,
// ogg_pages.cpp): each format's own structure, parsed and rendered over
// bytes. Offsets are from the start of the span given.

#include <cstdint>
#include <string>
#include <vector>

#include "input/byte_span.hpp"
#include "input/tag_bytes.hpp"

namespace tempo::tagbytes {

// The unsigned big-endian value of `width` (1 to 8) bytes at `bytes`.
std::uint64_t bigEndian(const unsigned char* bytes, unsigned width);
// `value` as `width` big-endian bytes appended to `out`.
void putBigEndian(std::vector<unsigned char>& out, std::uint64_t value, unsigned width);
// `value` as `width` little-endian bytes appended to `out`.
void putLittleEndian(std::vector<unsigned char>& out, std::uint64_t value, unsigned width);
// The bytes [offset, offset + length) of `span`, as a span (clipped to it).
ByteSpan slice(ByteSpan span, std::uint64_t offset, std::uint64_t length);
bool sameBytes(ByteSpan a, ByteSpan b);

// An ID3v2.3 or 2.4 tag: its version and frames, each the whole frame
// (header and body) at [offset, offset + length) of the tag.
struct Id3Frame {
    std::string id;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};
struct Id3Tag {
    unsigned version = 4;
    std::uint64_t size = 0;  // the whole tag, header and padding included
    std::vector<Id3Frame> frames;
};

// The size of the ID3v2 tag at the start of `bytes` (header included),
// or 0 where none starts there.
std::uint64_t id3Size(ByteSpan bytes);
TagLayout parseId3(ByteSpan tag, Id3Tag& parsed);
// TBPM's text, "" for none.
std::string id3Tempo(ByteSpan tag, const Id3Tag& parsed);
// The tag with TBPM set to `bpm`; an empty `tag` gives a new ID3v2.4 tag.
std::vector<unsigned char> id3WithTempo(ByteSpan tag, const Id3Tag& parsed, int bpm);
// What differs between two tags besides TBPM reading `bpm` in `copy`.
std::string id3Difference(ByteSpan original, ByteSpan copy, int bpm);

// A Vorbis comment: the vendor, the fields as written ("KEY=value"), and
// whatever follows them in their packet or block (Vorbis's framing bit,
// Opus's binary data).
struct VorbisComment {
    std::string vendor;
    std::vector<std::string> fields;
    std::vector<unsigned char> rest;
};
bool parseComment(ByteSpan bytes, VorbisComment& comment);
std::vector<unsigned char> renderComment(const VorbisComment& comment);
std::string commentTempo(const VorbisComment& comment);
void setCommentTempo(VorbisComment& comment, int bpm);
std::string commentDifference(const VorbisComment& original, const VorbisComment& copy, int bpm);

// Ogg Vorbis, Opus and Ogg FLAC, through their first stream's header
// packets (ogg_pages.cpp).
TagLayout oggTempo(AudioContainer container, ByteSpan file, std::string& text);
TagLayout oggWithTempo(AudioContainer container, ByteSpan file, int bpm, std::vector<FilePiece>& pieces);
std::string oggDifference(AudioContainer container, ByteSpan original, ByteSpan copy, int bpm);

}  // namespace tempo::tagbytes
