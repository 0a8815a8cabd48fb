// The analysis sequence, written once. The envelope of a mapped file is
// built through an EnvelopeStream a slice of frames at a time, which gives
// the same values as the whole-file envelope, so that the pages behind
// each slice can go as soon as it is summed.

#include "tempo/estimate.hpp"

#include <algorithm>
#include <utility>

namespace tempo {
namespace {

// Frames per slice: 4 MiB of samples. Fewer, larger releases cost less
// than many small ones; the slice is the only part of the file resident.
constexpr std::uint32_t kSliceFrames = 2048;

}  // namespace

TempoEstimate estimateTempoFromEnvelope(VolumeEnvelope&& volume, std::uint32_t sampleRate) {
    TempoEstimate estimate;
    estimate.spectrum = computeTempoSpectrum(computeOnsetSignal(std::move(volume)), sampleRate);
    estimate.peak = findStrongestPeak(estimate.spectrum);
    estimate.tempoIndex = estimate.peak;
    applyHalfTempoCheck(estimate.spectrum, estimate.tempoIndex);
    return estimate;
}

TempoEstimate estimateTempo(const WaveData& wave) {
    return estimateTempoFromEnvelope(computeVolumeEnvelope(wave), wave.sampleRate);
}

TempoEstimate estimateTempo(FileImage& image, const WaveData& wave) {
    const std::uint32_t frames = frameCount(wave.dataSize);
    const std::uint64_t dataOffset = static_cast<std::uint64_t>(wave.samples - image.bytes);
    EnvelopeStream stream;
    stream.volume.reserve(frames);
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t slice = std::min(kSliceFrames, frames - done);
        const std::uint64_t offset = static_cast<std::uint64_t>(done) * kFrameBytes;
        feedVolumeEnvelope(stream, wave.samples + offset, static_cast<std::size_t>(slice) * kFrameBytes);
        done += slice;
        releaseFileImageBefore(image, dataOffset + static_cast<std::uint64_t>(done) * kFrameBytes);
    }
    return estimateTempoFromEnvelope(finishVolumeEnvelope(stream), wave.sampleRate);
}

}  // namespace tempo
