#pragma once

// The loudness of each frame and the rises of that loudness from frame to
// frame: the onset signal that the tempo spectrum looks for a beat in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "input/wave_header.hpp"

namespace tempo {

// Left-channel samples per frame; a frame is 512 stereo pairs, 2048 bytes.
constexpr std::uint32_t kFrameLength = 512;
constexpr std::uint32_t kFrameBytes = kFrameLength * 4;
// 1 / kFrameLength, exact in binary: multiplying by it rounds as the
// formulas' division by 512 does.
constexpr double kInverseFrameLength = 1.0 / kFrameLength;
static_assert(kInverseFrameLength * kFrameLength == 1.0 && (kFrameLength & (kFrameLength - 1)) == 0,
              "the frame length is a power of two");

// One root-mean-square level per frame, in sample units (0 to 32768).
using VolumeEnvelope = std::vector<double>;
// One value per frame, each >= 0: how much the level rose into that frame.
using OnsetSignal = std::vector<double>;

// Number of whole frames in a data chunk of `dataSize` bytes; the bytes
// after the last whole frame are never read.
constexpr std::uint32_t frameCount(std::uint32_t dataSize) { return dataSize / kFrameBytes; }

// The RMS level of the left channel of every whole frame. Empty when the
// data chunk is shorter than one frame.
VolumeEnvelope computeVolumeEnvelope(const WaveData& wave);

// The same envelope built from sample bytes that arrive in pieces of any
// size (a decoder's pipe, or a long mapping taken a slice at a time): the
// values are bit for bit those of computeVolumeEnvelope over the bytes
// joined. Only a frame cut between two pieces is copied, into `partial`.
struct EnvelopeStream {
    VolumeEnvelope volume;          // one value per finished frame
    std::array<unsigned char, kFrameBytes> partial{};
    std::uint32_t partialBytes = 0; // bytes of the unfinished frame held
    std::uint64_t totalBytes = 0;   // every byte fed so far
};

// Adds `count` sample bytes (stereo pairs, left first) to the stream.
void feedVolumeEnvelope(EnvelopeStream& stream, const unsigned char* bytes, std::size_t count);

// The finished frames' envelope; the bytes of an unfinished last frame are
// dropped, as computeVolumeEnvelope ignores the bytes after the last
// whole frame. Leaves the stream empty.
VolumeEnvelope finishVolumeEnvelope(EnvelopeStream& stream);

// on[0] = vol[0]; on[k] = vol[k] - vol[k-1] where that is positive, else
// +0.0. Empty for an empty envelope.
OnsetSignal computeOnsetSignal(const VolumeEnvelope& volume);
// The same, computed in the storage of an envelope the caller gives up:
// one array of frames fewer to allocate and fault in.
OnsetSignal computeOnsetSignal(VolumeEnvelope&& volume);

}  // namespace tempo
