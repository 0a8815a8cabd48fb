#include "tempo/envelope.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "tests/support/wave_bytes.hpp"

namespace tempo {
namespace {

using testing::Bytes;
using Samples = std::vector<std::int16_t>;

// The envelope of `data` read as a data chunk of exactly its own size, so a
// sanitizer catches any read past its end.
VolumeEnvelope envelopeOf(const Bytes& data) {
    WaveData wave;
    wave.samples = data.data();
    wave.dataSize = static_cast<std::uint32_t>(data.size());
    wave.sampleRate = 44100;
    return computeVolumeEnvelope(wave);
}

Samples repeat(std::initializer_list<std::int16_t> pattern, std::size_t count) {
    Samples out;
    while (out.size() < count) out.insert(out.end(), pattern.begin(), pattern.end());
    out.resize(count);
    return out;
}

TEST(ComputeVolumeEnvelope, GivesTheRmsOfEachFrame) {
    const struct {
        const char* name;
        Samples left;
        Samples right;
        std::vector<double> expected;
    } cases[] = {
        {"full-scale negative", repeat({-32768}, 512), {}, {32768.0}},
        {"alternating 1000", repeat({1000, -1000}, 512), {}, {1000.0}},
        {"silent left, loud right", Samples(1024, 0), repeat({32767, -32768}, 1024), {0.0, 0.0}},
        {"one sample of 512", [] { Samples s(512, 0); s[100] = 512; return s; }(), {}, {std::sqrt(512.0)}},
        {"second frame louder", [] { Samples s = repeat({3}, 512); Samples t = repeat({4}, 512);
                                      s.insert(s.end(), t.begin(), t.end()); return s; }(), {}, {3.0, 4.0}},
        {"mixed values", repeat({3, -4, 0, 12}, 512), {}, {6.5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const VolumeEnvelope volume = envelopeOf(testing::stereoSamples(c.left, c.right));
        ASSERT_EQ(volume.size(), c.expected.size());
        for (std::size_t f = 0; f < volume.size(); ++f) EXPECT_EQ(volume[f], c.expected[f]) << "frame " << f;
    }
}

// Only whole frames count: 2047 trailing bytes are ignored and never read.
TEST(ComputeVolumeEnvelope, IgnoresATrailingPartialFrame) {
    for (std::size_t frames : {0U, 1U, 3U}) {
        for (std::size_t extra : {0U, 1U, 2046U, 2047U}) {
            SCOPED_TRACE(std::to_string(frames) + " frames + " + std::to_string(extra));
            Bytes data = testing::stereoSamples(repeat({100, -100}, frames * 512), {});
            data.resize(data.size() + extra, 0x7F);  // loud garbage, if it were read
            const VolumeEnvelope volume = envelopeOf(data);
            ASSERT_EQ(volume.size(), frames);
            for (double v : volume) EXPECT_EQ(v, 100.0);
        }
    }
}

// The envelope exactly as its formula reads: each frame gathered into
// doubles and its squares summed in index order.
VolumeEnvelope literalEnvelope(const Bytes& data) {
    VolumeEnvelope volume(data.size() / 2048);
    for (std::size_t f = 0; f < volume.size(); ++f) {
        double x[512];
        for (std::size_t i = 0; i < 512; ++i) {
            const std::size_t at = 4 * (512 * f + i);
            x[i] = static_cast<double>(static_cast<std::int16_t>(data[at] | data[at + 1] << 8));
        }
        double e = 0.0;
        for (std::size_t i = 0; i < 512; ++i) e = e + x[i] * x[i];
        volume[f] = std::sqrt(e * 0.001953125);
    }
    return volume;
}

TEST(ComputeVolumeEnvelope, MatchesTheLiteralFormulaBitForBit) {
    std::uint32_t state = 7;
    const auto next = [&state] { return state = state * 1664525U + 1013904223U; };
    Bytes data(2048 * 300);
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::size_t frame = i / 2048;
        // Full-scale extremes, silence, small values and random bytes.
        data[i] = frame % 5 == 0   ? (i % 4 == 1 ? 0x80 : 0x00)
                  : frame % 5 == 1 ? 0
                  : frame % 5 == 2 ? static_cast<unsigned char>(next() >> 31U)
                                   : static_cast<unsigned char>(next() >> 24U);
    }
    const VolumeEnvelope expected = literalEnvelope(data);
    const VolumeEnvelope actual = envelopeOf(data);
    ASSERT_EQ(actual.size(), expected.size());
    EXPECT_EQ(std::memcmp(actual.data(), expected.data(), actual.size() * sizeof(double)), 0);
    EXPECT_EQ(actual[0], 32768.0);
}

TEST(FrameCount, DividesBy2048RoundingDown) {
    EXPECT_EQ(frameCount(0), 0U);
    EXPECT_EQ(frameCount(2047), 0U);
    EXPECT_EQ(frameCount(2048), 1U);
    EXPECT_EQ(frameCount(0xFFFFFFFFU), 0x1FFFFFU);
}

TEST(ComputeOnsetSignal, KeepsOnlyRises) {
    const struct {
        const char* name;
        std::vector<double> volume;
        std::vector<double> expected;
    } cases[] = {
        {"empty", {}, {}},
        {"first value passes through", {5.5}, {5.5}},
        {"constant", {2, 2, 2, 2}, {2, 0, 0, 0}},
        {"falling", {9, 7, 3, 0}, {9, 0, 0, 0}},
        {"rises and falls", {0, 1, 4, 2, 2.5, 2.5, 10}, {0, 1, 3, 0, 0.5, 0, 7.5}},
        {"silence", {0, 0, 0}, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const OnsetSignal onset = computeOnsetSignal(c.volume);
        ASSERT_EQ(onset.size(), c.expected.size());
        EXPECT_EQ(computeOnsetSignal(VolumeEnvelope(c.volume)), onset);  // in place, same values
        for (std::size_t k = 0; k < onset.size(); ++k) {
            EXPECT_EQ(onset[k], c.expected[k]) << "k " << k;
            EXPECT_FALSE(std::signbit(onset[k])) << "k " << k;  // falls give +0.0, never -0.0
        }
    }
}

// The stream must give the whole-data envelope bit for bit however the
// bytes are cut: pieces of one byte, pieces that split a sample or a pair,
// pieces larger than a frame, and random cuts.
TEST(FeedVolumeEnvelope, MatchesTheWholeEnvelopeOverAnyCuts) {
    std::mt19937_64 random(7);
    Bytes data = testing::clickTrack(37);
    data.resize(data.size() + 1001);  // a partial frame at the end
    for (std::size_t i = 0; i < data.size(); ++i) data[i] ^= static_cast<unsigned char>(random());
    const VolumeEnvelope whole = envelopeOf(data);
    ASSERT_EQ(whole.size(), 37U);

    const auto cutsOf = [&](std::size_t piece) { return std::vector<std::size_t>(data.size() / piece + 1, piece); };
    std::vector<std::size_t> randomCuts;
    for (std::size_t total = 0; total < data.size(); total += randomCuts.back()) randomCuts.push_back(random() % 5000);
    const struct {
        const char* name;
        std::vector<std::size_t> cuts;
    } cases[] = {
        {"one piece", {data.size()}},
        {"bytes", cutsOf(1)},
        {"three bytes", cutsOf(3)},
        {"a frame less one", cutsOf(kFrameBytes - 1)},
        {"a frame and one", cutsOf(kFrameBytes + 1)},
        {"several frames", cutsOf(5 * kFrameBytes + 7)},
        {"random, with empty pieces", randomCuts},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EnvelopeStream stream;
        std::size_t at = 0;
        for (std::size_t piece : c.cuts) {
            piece = std::min(piece, data.size() - at);
            feedVolumeEnvelope(stream, data.data() + at, piece);
            at += piece;
        }
        ASSERT_EQ(at, data.size());
        EXPECT_EQ(stream.totalBytes, data.size());
        const VolumeEnvelope volume = finishVolumeEnvelope(stream);
        ASSERT_EQ(volume.size(), whole.size());
        for (std::size_t f = 0; f < volume.size(); ++f) {
            EXPECT_EQ(std::memcmp(&volume[f], &whole[f], sizeof(double)), 0) << "frame " << f;
        }
        EXPECT_TRUE(stream.volume.empty());
        EXPECT_EQ(stream.partialBytes, 0U);
    }
}

}  // namespace
}  // namespace tempo
