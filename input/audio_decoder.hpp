#pragma once

// Compressed audio decoded in this process from the bytes of a file: MPEG
// audio (MP3, and MP2 and MP1), FLAC, Ogg Vorbis and Ogg Opus. A decoder
// is pulled from: each read gives the next block of samples, mixed to
// mono, at the lowest rate the format's decoder offers that still holds
// what the analysis uses (its bands reach 5 kHz), and says how far into
// the bytes it has read, so that the caller can hand the pages behind that
// point back to the system and check its clock between blocks. Hostile
// bytes end a stream (EndedEarly or NotDecodable), never the process.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "input/audio_container.hpp"
#include "input/byte_span.hpp"

namespace tempo {

// The lowest rate a decoder here chooses to decode at: the analysis's
// bands reach 5 kHz, which a rate of 10 kHz holds. A stream whose own rate
// is lower is decoded at its own rate.
constexpr std::uint32_t kLowestChosenRate = 10000;

enum class DecodeResult {
    Ok,            // the stream is being read, or was read to its own end
    EndedEarly,    // it stops short or is damaged: decoded as far as it goes
    NotDecodable,  // not a stream this decoder reads, or it broke before any audio
};

// Each format's working state, defined in its decoder's unit.
struct DecoderState;
struct DecoderStateDeleter {
    void operator()(DecoderState* state) const;
};

struct AudioDecoder {
    std::uint32_t sampleRate = 0;  // frames per second of the samples read, > 0 once open
    unsigned channels = 0;         // samples per frame: 1, as every decoder here mixes down
    // The stream as coded, before the decoder lowers its rate and mixes
    // it: its own rate (Hz) and channels, and the coding's usual short name
    // ("mp3", "mp2", "flac", "vorbis", "opus"), as the record reports them.
    std::uint32_t streamRate = 0;
    unsigned streamChannels = 0;
    const char* codec = "";
    // Bytes of the file the decoder has taken in (it keeps its own copy of
    // what it still needs): it never reads before this offset again.
    std::uint64_t consumed = 0;
    DecodeResult result = DecodeResult::NotDecodable;
    std::unique_ptr<DecoderState, DecoderStateDeleter> state;
};

// Whether `container` is one of the formats decoded here (Ogg FLAC is not).
bool decodesInProcess(AudioContainer container);

// Prepares to decode `file`, the whole file, which must stay readable as
// long as the decoder is used: Ok with the rate and channels set, or
// NotDecodable (another container, headers this decoder does not accept).
DecodeResult openAudioDecoder(AudioDecoder& decoder, AudioContainer container, ByteSpan file);

// Up to `maxFrames` frames of samples, finite, full scale +-1.0, into
// `out` (room for maxFrames * channels floats); the count written. 0 once the stream
// is over: decoder.result then says how it ended. A call may take as long
// as skipping the damaged bytes in its way does, which is bounded by the
// file's size.
std::size_t readAudio(AudioDecoder& decoder, float* out, std::size_t maxFrames);

}  // namespace tempo
