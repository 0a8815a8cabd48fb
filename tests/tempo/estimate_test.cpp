#include "tempo/estimate.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
        ASSERT_EQ(checkWaveHeader(testing::imageOf(bytes), fromMemory), WaveCheckResult::Ok);
        const TempoEstimate expected = literalSequence(fromMemory);
        expectSame(estimateTempo(fromMemory), expected);
        expectSame(estimateTempoFromEnvelope(computeVolumeEnvelope(fromMemory), c.sampleRate), expected);

        FileImage image;
        WaveData mapped;
        ASSERT_EQ(openFileImage(path.c_str(), image), WaveCheckResult::Ok);
        ASSERT_EQ(checkWaveHeader(image, mapped), WaveCheckResult::Ok);
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

}  // namespace
}  // namespace tempo
