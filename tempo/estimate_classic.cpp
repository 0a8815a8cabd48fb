// The classic method's sequence, written once: envelope, onset signal,
// tempo spectrum, strongest peak and half-tempo check. The envelope of a
// mapped file is built through an EnvelopeStream a slice of frames at a
// time, which gives the same values as the whole-file envelope, so that
// the pages behind each slice can go as soon as it is summed. Nothing here
// reaches the accurate analysis, so plain tempo links without it.

#include <utility>

#include "tempo/estimate.hpp"
#include "tempo/wave_file.hpp"

namespace tempo {

TempoReading classicReading(const TempoEstimate& estimate) {
    TempoReading reading;
    reading.found = estimate.tempoIndex != kNoPeak;
    reading.bpm = static_cast<double>(printedBpm(estimate));
    return reading;
}

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
    EnvelopeStream stream;
    stream.volume.reserve(frameCount(wave.dataSize));
    // Only whole frames count.
    readInSlices(image, wave.samples, static_cast<std::uint64_t>(frameCount(wave.dataSize)) * kFrameBytes, kSliceBytes,
                 [&stream](const unsigned char* bytes, std::size_t count) { feedVolumeEnvelope(stream, bytes, count); });
    return estimateTempoFromEnvelope(finishVolumeEnvelope(stream), wave.sampleRate);
}

WaveFileReading analyseClassicWaveFile(const PathChar* path) {
    return readWaveFile(path, [](FileImage& image, const WaveData& wave, WaveFileReading& file) {
        file.classic = estimateTempo(image, wave);
        file.reading = classicReading(file.classic);
    });
}

}  // namespace tempo
