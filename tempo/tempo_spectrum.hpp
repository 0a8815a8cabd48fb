#pragma once

// How strongly the onset signal oscillates at each whole tempo from 60 to
// 240 BPM.

#include <array>
#include <cstdint>

#include "tempo/envelope.hpp"

namespace tempo {

constexpr int kMinBpm = 60;
constexpr int kMaxBpm = 240;
constexpr int kTempoCount = kMaxBpm - kMinBpm + 1;

// Entry t belongs to the tempo 60 + t BPM.
using TempoSpectrum = std::array<double, kTempoCount>;

// The magnitude of the Hann-windowed onset signal's projection onto a
// cosine and a sine of each tempo, sampled at sampleRate/512 frames per
// second. Every entry is >= 0 when there is at least one frame and the
// sample rate is above 0; all entries are 0 for one frame, and NaN for no
// frames or a sample rate of 0.
TempoSpectrum computeTempoSpectrum(const OnsetSignal& onset, std::uint32_t sampleRate);

}  // namespace tempo
