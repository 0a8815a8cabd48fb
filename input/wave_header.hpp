#pragma once

// Decides whether a run of bytes (a whole file, or the start of a stream)
// is a RIFF WAVE file of 16-bit stereo samples and, if so, where its
// samples are.

#include <cstdint>

#include "input/byte_span.hpp"
#include "input/wave_check_result.hpp"

namespace tempo {

// How many chunks may stand between the fmt chunk and the data chunk.
constexpr unsigned kMaxSkippedChunks = 10;

struct WaveData {
    // First byte of the data chunk's body, inside the bytes checked.
    const unsigned char* samples = nullptr;
    // The data chunk's declared size in bytes; samples + dataSize lies
    // within the image.
    std::uint32_t dataSize = 0;
    // Samples per second per channel, as the header gives it (0 is possible).
    std::uint32_t sampleRate = 0;
};

// Yields Ok and fills `wave`, or the first failure met, checked in this
// order: RiffCheck, WaveCheck, FmtCheck, DataChunkCheck, DataSize,
// Not16Bit, NotStereo. The data size is checked against the low 32 bits of
// `file.length` (the whole file's size), so a file of 4 GiB or more can
// only be refused by it. Never reads outside file.bytes[0, file.length).
WaveCheckResult checkWaveHeader(ByteSpan file, WaveData& wave);

// The same checks for the start of a WAVE stream whose length is not known
// yet (a decoder writing to a pipe declares no true data size): no data
// size check, and DataChunkCheck also while the data chunk's header is not
// wholly inside the bytes given, so the caller can read more and retry.
// `wave.samples` is then the first sample byte among them (possibly
// start.bytes + start.length) and `wave.dataSize` what the header declares.
// Where a chunk header is not wholly inside the bytes given, `*needed` (if
// given) is set to the length they must reach before a retry can decide
// more, so a reader checks again only then.
WaveCheckResult checkWaveStreamHeader(ByteSpan start, WaveData& wave, std::uint64_t* needed = nullptr);

}  // namespace tempo
