#pragma once

// The tempo field of a file's own tag, read and replaced over the file's
// bytes, for the formats whose tag this tool edits itself: the ID3v2 tag
// of MP3 (in front) and of WAVE and AIFF (in their "ID3 " chunk), and the
// Vorbis comment of FLAC, Ogg Vorbis, Opus and Ogg FLAC. The edit touches
// the tempo field alone: every other ID3v2 frame is kept byte for byte
// (its version, flags, encoding and place), every other comment keeps its
// key as written (case included), its value and its place, the vendor
// string and every other block, chunk, packet and page stay as they were.
// A general-purpose tag library re-renders the whole tag (an ID3v2.3
// genre moved, Vorbis keys upper-cased and sorted), which is why the edit
// is made here, on the bytes.
//
// The new file is described as pieces (new bytes, or a run of the
// original's), so the audio is copied straight from the original and
// never held in memory but where its pages must be renumbered (an Ogg
// comment that now takes another number of pages).

#include <cstdint>
#include <string>
#include <vector>

#include "input/audio_container.hpp"
#include "input/byte_span.hpp"

namespace tempo {

// One piece of a rewritten file: `bytes` when not empty, else the
// original's bytes [offset, offset + length).
struct FilePiece {
    std::vector<unsigned char> bytes;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

enum class TagLayout {
    Edited,     // the pieces hold the file with the new tempo
    Unusual,    // a tag layout this tool does not rewrite (ID3v2.2, unsynchronisation,
                // an extended header, a comment sharing its last page with audio)
    Damaged,    // the tag or the container's structure does not parse
};

// Whether `container` is one whose tag is edited here.
bool editsTagBytes(AudioContainer container);

// The text of the tempo field in `file` ("" where there is none): TBPM's
// text, or the value of the first BPM comment (its key in any case).
// Unusual or Damaged where the tag cannot be read.
TagLayout readTempoText(AudioContainer container, ByteSpan file, std::string& text);

// `file` with its tempo field set to `bpm` (decimal digits): the first
// tempo field keeps its place (and its key's case), any other is dropped,
// and a file without one gains it at the end of its tag (a new ID3v2.4
// tag, or chunk, where there is no tag at all).
TagLayout rewriteTempo(AudioContainer container, ByteSpan file, int bpm, std::vector<FilePiece>& pieces);

// What differs between an original and its tagged copy, besides a tempo
// field that reads `bpm` in the copy: "" when nothing does, else what,
// in a few words ("TCON", "comment ARTIST", "audio", "tempo", ...). The
// audio is compared byte for byte: the MP3 frames after the tag, the FLAC
// frames, the Ogg pages after the headers (their sequence numbers
// shifted alike), the chunks of WAVE and AIFF.
std::string taggedCopyDifference(AudioContainer container, ByteSpan original, ByteSpan copy, int bpm);

// What differs between the items of two MP4 files' iTunes tag (the
// children of moov/udta/meta/ilst), besides a tmpo item that reads `bpm`
// in the copy: "" when nothing does, else "tag <item>". Items are matched
// by their bytes, in any order (a tag library may write them sorted).
std::string mp4TagDifference(ByteSpan original, ByteSpan copy, int bpm);

}  // namespace tempo
