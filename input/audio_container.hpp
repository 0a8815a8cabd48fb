#pragma once

// What kind of file a run of bytes is, judged from its content alone (the
// signatures at its start), never from its name: the decoder to read it
// with, and the tag format that may be written into it, follow from this.

#include "input/byte_span.hpp"

namespace tempo {

enum class AudioContainer {
    Unknown,   // no signature this tool knows
    Empty,     // no bytes at all
    Wave,      // RIFF/WAVE
    WideWave,  // RF64 or BW64: WAVE with 64-bit sizes
    Aiff,      // FORM/AIFF or FORM/AIFC
    Flac,      // native FLAC ("fLaC"), after an ID3v2 tag or not
    OggVorbis,
    OggOpus,
    OggFlac,
    Ogg,       // another codec in Ogg
    Mpeg,      // MPEG audio frames (MP3, MP2), after an ID3v2 tag or not
    Adts,      // raw AAC in ADTS frames
    Mp4,       // ISO base media ("ftyp"): M4A, MP4, ALAC
    Matroska,
    WebM,      // Matroska whose document type is "webm"
    Asf,       // WMA
    Ape,       // Monkey's Audio
    WavPack,
};

// The container `file` starts with. `file` is the whole file: an ID3v2 tag
// in front is skipped by its declared size, and a file that ends inside
// its tag counts as MP3 (the tag's own format), cut short.
// Never reads outside file.bytes[0, file.length).
AudioContainer identifyContainer(ByteSpan file);

// The container's name in plain words ("Matroska", "RF64/BW64", "MP3").
const char* containerName(AudioContainer container);

}  // namespace tempo
