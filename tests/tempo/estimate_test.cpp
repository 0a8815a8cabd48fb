#include "tempo/estimate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo {
namespace {

namespace fs = std::filesystem;

// The five steps written out one by one: what every caller used to do.
TempoEstimate literalSequence(const WaveData& wave) {
    TempoEstimate estimate;
    estimate.spectrum = computeTempoSpectrum(computeOnsetSignal(computeVolumeEnvelope(wave)), wave.sampleRate);
    estimate.peak = findStrongestPeak(estimate.spectrum);
    estimate.tempoIndex = estimate.peak;
    applyHalfTempoCheck(estimate.spectrum, estimate.tempoIndex);
    return estimate;
}

void expectSame(const TempoEstimate& got, const TempoEstimate& expected) {
    EXPECT_EQ(std::memcmp(got.spectrum.data(), expected.spectrum.data(), sizeof got.spectrum), 0);
    EXPECT_EQ(got.peak, expected.peak);
    EXPECT_EQ(got.tempoIndex, expected.tempoIndex);
}

// From memory, from a mapped file read a slice at a time (whole slices, a
// partial last slice, fewer frames than a slice) and from an envelope: the
// same bits. The mapping stays readable after its pages were released.
TEST(EstimateTempo, GivesTheLiteralSequenceOnEveryPath) {
    testing::TempDir dir;
    const struct {
        std::uint32_t frames;
        std::uint32_t sampleRate;
    } cases[] = {{0, 44100}, {1, 44100}, {300, 22050}, {512, 44100}, {1500, 48000}, {2100, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.frames) + " frames at " + std::to_string(c.sampleRate));
        const testing::Bytes bytes = testing::validWave(c.frames, c.sampleRate);
        const fs::path path = dir.path() / ("clip-" + std::to_string(c.frames) + ".wav");
        ASSERT_TRUE(testing::writeFile(path, bytes));

        WaveData fromMemory;
        ASSERT_EQ(checkWaveHeader(testing::spanOf(bytes), fromMemory), WaveCheckResult::Ok);
        const TempoEstimate expected = literalSequence(fromMemory);
        expectSame(estimateTempo(fromMemory), expected);
        expectSame(estimateTempoFromEnvelope(computeVolumeEnvelope(fromMemory), c.sampleRate), expected);

        FileImage image;
        WaveData mapped;
        ASSERT_EQ(openFileImage(path.c_str(), image), WaveCheckResult::Ok);
        ASSERT_EQ(checkWaveHeader(bytesOf(image), mapped), WaveCheckResult::Ok);
        expectSame(estimateTempo(image, mapped), expected);
        EXPECT_FALSE(fileImageLostBytes(image));
        EXPECT_EQ(std::memcmp(image.bytes, bytes.data(), bytes.size()), 0);
        closeFileImage(image);
    }
}

TEST(PrintedBpm, AddsTheLowestTempo) {
    TempoEstimate estimate;
    EXPECT_EQ(printedBpm(estimate), 59);
    estimate.tempoIndex = 60;
    EXPECT_EQ(printedBpm(estimate), 120);
}

// Either method through the one call per file and through a stream cut in pieces
// (as a decoder's pipe delivers them): the same reading, bit for bit. The
// classic reading is tempo's number; the accurate one finds the clicks
// (every 43 frames of 512 samples) and is sure of them.
TEST(EstimateTempo, GivesOneReadingPerMethodOnEveryPath) {
    testing::TempDir dir;
    const std::uint32_t frames = 2600;  // about 30 s at 44.1 kHz
    const testing::Bytes bytes = testing::validWave(frames, 44100);
    const fs::path path = dir.path() / "clicks.wav";
    ASSERT_TRUE(testing::writeFile(path, bytes));
    WaveData fromMemory;
    ASSERT_EQ(checkWaveHeader(testing::spanOf(bytes), fromMemory), WaveCheckResult::Ok);
    const std::size_t dataOffset = static_cast<std::size_t>(fromMemory.samples - bytes.data());

    for (Method method : {Method::Classic, Method::Accurate}) {
        SCOPED_TRACE(method == Method::Classic ? "classic" : "accurate");
        const WaveFileReading file = analyseWaveFile(path.c_str(), method);
        ASSERT_EQ(file.result, WaveCheckResult::Ok);
        const TempoReading& whole = file.reading;

        for (std::size_t piece : {std::size_t{1} << 16, std::size_t{4099}, std::size_t{6}}) {
            TempoStream stream;
            startTempoStream(stream, method, 44100);
            for (std::size_t at = dataOffset; at < bytes.size(); at += piece) {
                feedTempoStream(stream, bytes.data() + at, std::min(piece, bytes.size() - at));
            }
            EXPECT_EQ(tempoStreamBytes(stream), bytes.size() - dataOffset);
            const TempoReading streamed = finishTempoStream(stream);
            EXPECT_EQ(streamed.found, whole.found);
            EXPECT_EQ(streamed.bpm, whole.bpm);
            EXPECT_EQ(streamed.confidence, whole.confidence);
        }
        // The same samples as floats, as a decoder in the process gives
        // them, in blocks of any size.
        std::vector<float> samples;
        for (std::size_t at = dataOffset; at + 2 <= bytes.size(); at += 2) {
            const auto raw = static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8U);
            samples.push_back(static_cast<float>(static_cast<std::int16_t>(raw)) / 32768.0F);
        }
        for (std::size_t piece : {std::size_t{1} << 16, std::size_t{1001}, std::size_t{1}}) {
            TempoStream stream;
            startTempoStream(stream, method, 44100);
            for (std::size_t at = 0; at < samples.size() / 2; at += piece) {
                feedTempoStreamSamples(stream, samples.data() + 2 * at, std::min(piece, samples.size() / 2 - at), 2);
            }
            const TempoReading streamed = finishTempoStream(stream);
            EXPECT_EQ(streamed.found, whole.found);
            EXPECT_EQ(streamed.bpm, whole.bpm);
            EXPECT_EQ(streamed.confidence, whole.confidence);
        }
        EXPECT_TRUE(whole.found);
        if (method == Method::Classic) {
            EXPECT_EQ(whole.bpm, static_cast<double>(printedBpm(estimateTempo(fromMemory))));
            EXPECT_LT(whole.confidence, 0.0);
        } else {
            EXPECT_NEAR(whole.bpm, 44100.0 * 60.0 / (43.0 * 512.0), 0.5);
            EXPECT_GT(whole.confidence, 0.5);
        }
    }
}

// The classic method reads float samples as the 16-bit samples they round
// to, clipped at full scale, and a mono sample as both channels: a frame
// of one steady value has that value's level.
TEST(EstimateTempo, ReadsFloatSamplesAsTheirSixteenBitValuesForTheClassicMethod) {
    const struct {
        float sample;
        unsigned channels;
        double level;
    } cases[] = {{0.25F, 2, 8192.0}, {0.25F, 1, 8192.0},  {-0.5F, 1, 16384.0},  {1.0F, 2, 32767.0},
                 {3.0F, 1, 32767.0}, {-1.0F, 2, 32768.0}, {-7.0F, 2, 32768.0}, {100.6F / 32768.0F, 2, 101.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.sample) + " in " + std::to_string(c.channels));
        TempoStream stream;
        startTempoStream(stream, Method::Classic, 44100);
        const std::vector<float> samples(kFrameBytes / 4 * c.channels, c.sample);
        feedTempoStreamSamples(stream, samples.data(), kFrameBytes / 4, c.channels);
        EXPECT_EQ(tempoStreamBytes(stream), kFrameBytes);
        const VolumeEnvelope volume = finishVolumeEnvelope(stream.envelope);
        ASSERT_EQ(volume.size(), 1U);
        EXPECT_EQ(volume[0], c.level);
    }
}

// A waltz at 120 BPM: a kick and a new chord on each bar's first beat, the
// chord again softly on the other two.
testing::Bytes waltz() {
    static const double kChords[2][3] = {{261.63, 329.63, 392.00}, {392.00, 493.88, 587.33}};
    std::vector<testing::Hit> hits;
    for (int b = 0; b < 60; ++b) {
        const double at = 0.2 + 0.5 * b;
        hits.push_back({at, b % 3 == 0, b % 3 == 0 ? 1.0 : 0.5});
        for (double hz : kChords[(b / 3) % 2]) hits.push_back({at, false, b % 3 == 0 ? 0.8 : 0.3, hz});
    }
    return testing::hitSamples(hits, 44100, 31.0);
}

// The accurate method's onset curves (and pitch classes) stay in the
// stream when asked for and are released by the analysis otherwise; the
// reading is the same bit for bit either way, found or not (clicks, a
// waltz with its bars, and silence).
TEST(FinishTempoStream, KeepsTheOnsetCurvesOnlyWhenAsked) {
    const struct {
        const char* name;
        testing::Bytes bytes;
        bool found;
        int metre;
    } cases[] = {{"clicks", testing::clickTrack(2600), true, pulse::kNoMetre},
                 {"waltz", waltz(), true, 3},
                 {"silence", testing::Bytes(std::size_t{44100} * 4 * 30, 0), false, pulse::kNoMetre}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempoReading readings[2];
        for (OnsetCurve keep : {OnsetCurve::Keep, OnsetCurve::Drop}) {
            TempoStream stream;
            startTempoStream(stream, Method::Accurate, 44100);
            feedTempoStream(stream, c.bytes.data(), c.bytes.size());
            const bool kept = keep == OnsetCurve::Keep;
            readings[kept ? 0 : 1] = finishTempoStream(stream, keep);
            EXPECT_EQ(stream.onsets.onset.empty(), !kept);
            EXPECT_EQ(stream.onsets.lowOnset.size(), stream.onsets.onset.size());
            EXPECT_EQ(stream.onsets.chroma.empty(), !kept);
        }
        EXPECT_EQ(readings[0].found, c.found);
        EXPECT_EQ(readings[1].found, readings[0].found);
        EXPECT_EQ(readings[1].bpm, readings[0].bpm);
        EXPECT_EQ(readings[1].confidence, readings[0].confidence);
        EXPECT_EQ(readings[1].beats, readings[0].beats);
        EXPECT_EQ(readings[0].metre, c.metre);
        EXPECT_EQ(readings[1].metre, readings[0].metre);
        EXPECT_EQ(readings[1].downbeats, readings[0].downbeats);
        // The downbeats are beats.
        for (double downbeat : readings[0].downbeats) {
            EXPECT_NE(std::find(readings[0].beats.begin(), readings[0].beats.end(), downbeat), readings[0].beats.end());
        }
    }
}

}  // namespace
}  // namespace tempo
