// Volume envelope and onset signal.
//
// Each frame's level is the root of the mean of its left samples' squares.
// The squares are integers and every partial sum stays below 2^53, so the
// sum is exact whatever its order; only the final scaling and root round.
// The onset signal keeps only the rises of that level, since a beat shows
// as a sudden increase in loudness, not as a decay.

#include "tempo/envelope.hpp"

#include <cmath>

#include "input/little_endian.hpp"

namespace tempo {
namespace {

constexpr std::uint64_t kBytesPerPair = 4;
constexpr double kInverseFrameLength = 0.001953125;  // 1/512, exactly

}  // namespace

VolumeEnvelope computeVolumeEnvelope(const WaveData& wave) {
    const std::uint32_t frames = frameCount(wave.dataSize);
    VolumeEnvelope volume(frames);
    double x[kFrameLength];
    for (std::uint32_t f = 0; f < frames; ++f) {
        const std::uint64_t frameStart = static_cast<std::uint64_t>(f) * kFrameLength * kBytesPerPair;
        for (std::uint32_t i = 0; i < kFrameLength; ++i) {
            const std::uint32_t raw =
                readLittleEndian(wave.samples, wave.dataSize, frameStart + i * kBytesPerPair, 2);
            const auto sample = static_cast<std::int32_t>(raw) - ((raw & 0x8000U) != 0 ? 0x10000 : 0);
            x[i] = static_cast<double>(sample);
        }
        double e = 0.0;
        for (std::uint32_t i = 0; i < kFrameLength; ++i) {
            e = e + x[i] * x[i];
        }
        volume[f] = std::sqrt(e * kInverseFrameLength);
    }
    return volume;
}

OnsetSignal computeOnsetSignal(const VolumeEnvelope& volume) {
    OnsetSignal onset(volume.size());
    if (volume.empty()) return onset;
    onset[0] = volume[0];
    for (std::size_t k = 1; k < volume.size(); ++k) {
        const double d = volume[k] - volume[k - 1];
        onset[k] = d > 0 ? d : 0.0;
    }
    return onset;
}

}  // namespace tempo
