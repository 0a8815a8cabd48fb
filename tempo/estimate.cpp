// The analysis sequence for either method, written once: samples that
// arrive in pieces (TempoStream), and the one call per file. The classic
// method's own steps are in estimate_classic.cpp.

#include "tempo/estimate.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "tempo/wave_file.hpp"

namespace tempo {
namespace {

// A float sample as the 16-bit sample it rounds to, clipped (a NaN, which
// no decoder gives, as the lowest), in the two little-endian bytes at `out`.
void putSample16(float sample, unsigned char* out) {
    const double x = static_cast<double>(sample) * 32768.0;
    const double scaled = x > 32767.0 ? 32767.0 : (x >= -32768.0 ? x : -32768.0);
    const auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lrint(scaled)));
    out[0] = static_cast<unsigned char>(value & 0xFFU);
    out[1] = static_cast<unsigned char>(value >> 8U);
}

// The accurate reading of the samples of `wave`, fed to `stream` a slice
// at a time; with OnsetCurve::Keep the onset curves stay in the stream.
TempoReading streamThrough(FileImage& image, const WaveData& wave, TempoStream& stream, OnsetCurve keep) {
    startTempoStream(stream, Method::Accurate, wave.sampleRate);
    // Every whole stereo pair of the data chunk.
    readInSlices(image, wave.samples, wave.dataSize & ~std::uint32_t{3}, kSliceBytes,
                 [&stream](const unsigned char* bytes, std::size_t count) { feedTempoStream(stream, bytes, count); });
    return finishTempoStream(stream, keep);
}

}  // namespace

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

TempoReading finishTempoStream(TempoStream& stream, OnsetCurve keep) {
    if (stream.method == Method::Classic) {
        return classicReading(estimateTempoFromEnvelope(finishVolumeEnvelope(stream.envelope), stream.sampleRate));
    }
    pulse::finishOnsetStream(stream.onsets);
    pulse::PulseReading pulse =
        keep == OnsetCurve::Keep
            ? pulse::analysePulse(std::vector<float>(stream.onsets.onset), std::vector<float>(stream.onsets.lowOnset),
                                  stream.onsets.chroma, stream.onsets.frameRate, pulse::onsetStreamSeconds(stream.onsets))
            : pulse::analysePulse(std::move(stream.onsets.onset), std::move(stream.onsets.lowOnset),
                                  stream.onsets.chroma, stream.onsets.frameRate, pulse::onsetStreamSeconds(stream.onsets));
    TempoReading reading;
    reading.found = pulse.found;
    reading.bpm = pulse.bpm;
    reading.confidence = pulse.confidence;
    reading.beats = std::move(pulse.beats);
    reading.tempoChanges = std::move(pulse.tempoChanges);
    reading.metre = pulse.metre;
    reading.downbeats = std::move(pulse.downbeats);
    if (keep == OnsetCurve::Drop) std::vector<std::uint8_t>().swap(stream.onsets.chroma);
    return reading;
}

WaveFileReading analyseWaveFile(const PathChar* path, Method method, OnsetCurve keep) {
    if (method == Method::Classic) return analyseClassicWaveFile(path);
    return readWaveFile(path, [keep](FileImage& image, const WaveData& wave, WaveFileReading& file) {
        TempoStream stream;
        file.reading = streamThrough(image, wave, stream, keep);
        if (keep == OnsetCurve::Keep) {
            file.onsets = std::move(stream.onsets.onset);
            file.lowOnsets = std::move(stream.onsets.lowOnset);
            file.chroma = std::move(stream.onsets.chroma);
            file.seconds = pulse::onsetStreamSeconds(stream.onsets);
            file.onsetRate = stream.onsets.frameRate;
        }
    });
}

}  // namespace tempo
