// Volume envelope and onset signal.
//
// Each frame's level is the root of the mean of its left samples' squares.
// The squares are integers and every partial sum stays below 2^53 (at most
// 512 * 32768^2 = 2^39), so a double sum in any order is exact and equals
// the 64-bit integer sum, which is what is computed: it needs no rounding
// and no chain of dependent double additions. Only the final scaling and
// root round.
// The onset signal keeps only the rises of that level, since a beat shows
// as a sudden increase in loudness, not as a decay.

#include "tempo/envelope.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "input/little_endian.hpp"

namespace tempo {
namespace {

constexpr std::uint32_t kBytesPerPair = 4;

// The level of the whole frame of kFrameBytes bytes at `frame`.
double frameLevel(const unsigned char* frame) {
    std::int64_t e = 0;
    for (std::uint32_t i = 0; i < kFrameLength; ++i) {
        const std::int32_t x = sampleAt(frame + i * kBytesPerPair);
        e += x * x;
    }
    return std::sqrt(static_cast<double>(e) * kInverseFrameLength);
}

}  // namespace

VolumeEnvelope computeVolumeEnvelope(const WaveData& wave) {
    const std::uint32_t frames = frameCount(wave.dataSize);
    VolumeEnvelope volume(frames);
    // Whole frames end at or before dataSize, inside the data chunk.
    const unsigned char* frame = wave.samples;
    for (std::uint32_t f = 0; f < frames; ++f, frame += kFrameBytes) volume[f] = frameLevel(frame);
    return volume;
}

void feedVolumeEnvelope(EnvelopeStream& stream, const unsigned char* bytes, std::size_t count) {
    stream.totalBytes += count;
    if (stream.partialBytes > 0) {
        const std::size_t take = std::min<std::size_t>(kFrameBytes - stream.partialBytes, count);
        std::memcpy(stream.partial.data() + stream.partialBytes, bytes, take);
        stream.partialBytes += static_cast<std::uint32_t>(take);
        bytes += take;
        count -= take;
        if (stream.partialBytes < kFrameBytes) return;
        stream.volume.push_back(frameLevel(stream.partial.data()));
        stream.partialBytes = 0;
    }
    for (; count >= kFrameBytes; bytes += kFrameBytes, count -= kFrameBytes) {
        stream.volume.push_back(frameLevel(bytes));
    }
    if (count > 0) std::memcpy(stream.partial.data(), bytes, count);
    stream.partialBytes = static_cast<std::uint32_t>(count);
}

VolumeEnvelope finishVolumeEnvelope(EnvelopeStream& stream) {
    VolumeEnvelope volume = std::move(stream.volume);
    stream = EnvelopeStream{};
    return volume;
}

OnsetSignal computeOnsetSignal(const VolumeEnvelope& volume) {
    return computeOnsetSignal(VolumeEnvelope(volume));
}

OnsetSignal computeOnsetSignal(VolumeEnvelope&& volume) {
    // Backwards, so that vol[k - 1] is still in place when on[k] is formed;
    // on[0] = vol[0] is already there.
    OnsetSignal onset = std::move(volume);
    for (std::size_t k = onset.size(); k-- > 1;) {
        const double d = onset[k] - onset[k - 1];
        onset[k] = d > 0 ? d : 0.0;
    }
    return onset;
}

}  // namespace tempo
