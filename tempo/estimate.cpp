// The analysis sequence, written once. The envelope of a mapped file is
// built through an EnvelopeStream a slice of frames at a time, which gives
// the same values as the whole-file envelope, so that the pages behind
// each slice can go as soon as it is summed.

#include "tempo/estimate.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tempo {
namespace {

// Bytes per slice: 4 MiB of samples. Fewer, larger releases cost less
// than many small ones; the slice is the only part of the file resident.
constexpr std::uint64_t kSliceBytes = 2048 * kFrameBytes;

// A float sample as the 16-bit sample it rounds to, clipped (a NaN, which
// no decoder gives, as the lowest), in the two little-endian bytes at `out`.
void putSample16(float sample, unsigned char* out) {
    const double x = static_cast<double>(sample) * 32768.0;
    const double scaled = x > 32767.0 ? 32767.0 : (x >= -32768.0 ? x : -32768.0);
    const auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lrint(scaled)));
    out[0] = static_cast<unsigned char>(value & 0xFFU);
    out[1] = static_cast<unsigned char>(value >> 8U);
}

TempoReading classicReading(const TempoEstimate& estimate) {
    TempoReading reading;
    reading.found = estimate.tempoIndex != kNoPeak;
    reading.bpm = static_cast<double>(printedBpm(estimate));
    return reading;
}

// The accurate reading of the samples of `wave`, fed to `stream` a slice
// at a time; the onset curve stays in the stream.
TempoReading streamThrough(FileImage& image, const WaveData& wave, TempoStream& stream) {
    startTempoStream(stream, Method::Accurate, wave.sampleRate);
    // Every whole stereo pair of the data chunk.
    readInSlices(image, wave.samples, wave.dataSize & ~std::uint32_t{3}, kSliceBytes,
                 [&stream](const unsigned char* bytes, std::size_t count) { feedTempoStream(stream, bytes, count); });
    return finishTempoStream(stream);
}

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

void startTempoStream(TempoStream& stream, Method method, std::uint32_t sampleRate) {
    stream.method = method;
    stream.sampleRate = sampleRate;
    stream.envelope = EnvelopeStream{};
    if (method == Method::Accurate) {
        pulse::startOnsetStream(stream.onsets, sampleRate);
    } else {
        stream.onsets = pulse::OnsetStream{};
    }
}

void feedTempoStream(TempoStream& stream, const unsigned char* bytes, std::size_t count) {
    if (stream.method == Method::Accurate) {
        pulse::feedOnsetStream(stream.onsets, bytes, count);
    } else {
        feedVolumeEnvelope(stream.envelope, bytes, count);
    }
}

void feedTempoStreamSamples(TempoStream& stream, const float* samples, std::size_t frames, unsigned channels) {
    if (stream.method == Method::Accurate) {
        pulse::feedOnsetSamples(stream.onsets, samples, frames, channels);
        return;
    }
    if (channels != 1 && channels != 2) return;
    // The classic envelope reads 16-bit stereo bytes: a block of them at a
    // time.
    constexpr std::size_t kBlockFrames = 1024;
    unsigned char block[kBlockFrames * 4];
    for (std::size_t done = 0; done < frames;) {
        const std::size_t count = std::min(kBlockFrames, frames - done);
        for (std::size_t i = 0; i < count; ++i) {
            const float* frame = samples + (done + i) * channels;
            putSample16(frame[0], block + 4 * i);
            putSample16(frame[channels - 1], block + 4 * i + 2);
        }
        feedVolumeEnvelope(stream.envelope, block, count * 4);
        done += count;
    }
}

std::uint64_t tempoStreamBytes(const TempoStream& stream) {
    return stream.method == Method::Accurate ? stream.onsets.totalBytes : stream.envelope.totalBytes;
}

TempoReading finishTempoStream(TempoStream& stream) {
    if (stream.method == Method::Classic) {
        return classicReading(estimateTempoFromEnvelope(finishVolumeEnvelope(stream.envelope), stream.sampleRate));
    }
    pulse::finishOnsetStream(stream.onsets);
    const pulse::PulseEstimate pulse = pulse::estimatePulse(stream.onsets.onset, stream.onsets.frameRate);
    TempoReading reading;
    reading.found = pulse.found;
    reading.bpm = pulse.bpm;
    reading.confidence = pulse.confidence;
    return reading;
}

TempoEstimate estimateTempo(FileImage& image, const WaveData& wave) {
    EnvelopeStream stream;
    stream.volume.reserve(frameCount(wave.dataSize));
    // Only whole frames count.
    readInSlices(image, wave.samples, static_cast<std::uint64_t>(frameCount(wave.dataSize)) * kFrameBytes, kSliceBytes,
                 [&stream](const unsigned char* bytes, std::size_t count) { feedVolumeEnvelope(stream, bytes, count); });
    return estimateTempoFromEnvelope(finishVolumeEnvelope(stream), wave.sampleRate);
}

WaveFileReading analyseWaveFile(const PathChar* path, Method method, OnsetCurve keep) {
    WaveFileReading file;
    FileImage image;
    WaveData wave;
    file.result = openFileImage(path, image);
    file.systemError = image.systemError;
    if (file.result == WaveCheckResult::Ok) file.result = checkWaveHeader(bytesOf(image), wave);
    if (file.result == WaveCheckResult::Ok) {
        if (method == Method::Classic) {
            file.classic = estimateTempo(image, wave);
            file.reading = classicReading(file.classic);
        } else {
            TempoStream stream;
            file.reading = streamThrough(image, wave, stream);
            if (keep == OnsetCurve::Keep) {
                file.onsets = std::move(stream.onsets.onset);
                file.onsetRate = stream.onsets.frameRate;
            }
        }
    }
    // A file cut short by another process while it was read: its data
    // chunk no longer fits in it, whatever was computed from the zeros.
    if (fileImageLostBytes(image)) {
        file.shrank = true;
        file.result = WaveCheckResult::DataSize;
    }
    closeFileImage(image);
    return file;
}

}  // namespace tempo
