#include "pulse/onset_curve.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/wave_bytes.hpp"

namespace tempo::pulse {
namespace {

using testing::Bytes;

// Stereo 16-bit bytes of `seconds` at `rate`: a decaying 150 Hz burst plus
// a noise burst on every beat of `bpm`, scaled by `gain`.
Bytes drumLoop(double bpm, std::uint32_t rate, double seconds, double gain) {
    const auto count = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> left(count);
    std::vector<std::int16_t> right(count);
    const double beat = 60.0 / bpm * rate;
    std::uint32_t state = 99;
    for (std::size_t i = 0; i < count; ++i) {
        const double t = std::fmod(static_cast<double>(i), beat) / rate;
        state = state * 1664525U + 1013904223U;
        const double noise = static_cast<double>(state >> 8U) / 8388608.0 - 1.0;
        const double value = std::exp(-t * 30.0) * (std::sin(2 * 3.141592653589793 * 150.0 * t) * 0.6 + noise * 0.3);
        left[i] = static_cast<std::int16_t>(value * gain * 30000.0);
        right[i] = static_cast<std::int16_t>(value * gain * 20000.0);
    }
    return testing::stereoSamples(left, right);
}

std::vector<float> curveOf(const Bytes& bytes, std::uint32_t rate, const std::vector<std::size_t>& cuts) {
    OnsetStream stream;
    startOnsetStream(stream, rate);
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        const std::size_t piece = cuts.empty() ? bytes.size() : cuts[i % cuts.size()];
        const std::size_t count = std::min(piece, bytes.size() - at);
        feedOnsetStream(stream, bytes.data() + at, count);
        at += count;
    }
    finishOnsetStream(stream);
    EXPECT_EQ(stream.totalBytes, bytes.size());
    return stream.onset;
}

// However the bytes are cut (a byte at a time, half a pair, odd sizes, a
// pipe's 64 KiB), the curve is bit for bit the one of the whole.
TEST(OnsetStream, IsTheSameHoweverTheBytesAreCut) {
    const Bytes bytes = drumLoop(120, 44100, 3, 1.0);
    const std::vector<float> whole = curveOf(bytes, 44100, {});
    ASSERT_EQ(whole.size(), bytes.size() / 4 / 4 / kHopLength);
    const std::vector<std::vector<std::size_t>> patterns = {{1}, {2}, {3, 5}, {4097}, {65536}, {7, 1, 2048, 13}};
    for (const auto& pattern : patterns) {
        SCOPED_TRACE(std::to_string(pattern[0]));
        EXPECT_EQ(curveOf(bytes, 44100, pattern), whole);
    }
}

// The 16-bit samples of `bytes` as floats (s / 32768), interleaved; with
// `mono`, only each pair's left sample, once.
std::vector<float> floatsOf(const Bytes& bytes, bool mono) {
    std::vector<float> samples;
    for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        for (std::size_t channel = 0; channel < (mono ? 1U : 2U); ++channel) {
            const auto raw = static_cast<std::uint16_t>(bytes[at + 2 * channel] | bytes[at + 2 * channel + 1] << 8U);
            samples.push_back(static_cast<float>(static_cast<std::int16_t>(raw)) / 32768.0F);
        }
    }
    return samples;
}

std::vector<float> curveOfSamples(const std::vector<float>& samples, unsigned channels, std::uint32_t rate,
                                  std::size_t piece) {
    OnsetStream stream;
    startOnsetStream(stream, rate);
    const std::size_t frames = samples.size() / channels;
    for (std::size_t at = 0; at < frames; at += piece) {
        feedOnsetSamples(stream, samples.data() + at * channels, std::min(piece, frames - at), channels);
    }
    finishOnsetStream(stream);
    return stream.onset;
}

// Float samples give, bit for bit, the curve of the same 16-bit samples as
// bytes, however the frames are cut and whatever the rate's grouping; a
// mono sample counts as both channels of a stereo pair.
TEST(OnsetStream, TakesFloatSamplesInMonoOrStereoAsItTakesBytes) {
    for (std::uint32_t rate : {11025U, 12000U, 22050U, 44100U, 48000U, 96000U}) {
        SCOPED_TRACE(std::to_string(rate));
        const Bytes stereo = drumLoop(120, rate, 3, 1.0);
        const std::vector<float> whole = curveOf(stereo, rate, {});
        ASSERT_FALSE(whole.empty());
        for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, stereo.size()}) {
            EXPECT_EQ(curveOfSamples(floatsOf(stereo, false), 2, rate, piece), whole) << piece;
        }
        // Left copied into right, as bytes, against the left alone as mono.
        Bytes doubled = stereo;
        for (std::size_t at = 0; at + 4 <= doubled.size(); at += 4) {
            doubled[at + 2] = doubled[at];
            doubled[at + 3] = doubled[at + 1];
        }
        EXPECT_EQ(curveOfSamples(floatsOf(stereo, true), 1, rate, 1000), curveOf(doubled, rate, {}));
        EXPECT_NE(curveOf(doubled, rate, {}), whole);
    }
    // No other channel count is taken, and no rate below 4 kHz.
    const std::vector<float> samples(44100 * 3, 0.5F);
    EXPECT_TRUE(curveOfSamples(samples, 3, 44100, 4096).empty());
    EXPECT_TRUE(curveOfSamples(samples, 1, 3999, 4096).empty());
}

// The curve rises on each beat and nowhere else, whatever the sample rate,
// and is the same for a quiet copy: the log takes the level out.
TEST(OnsetStream, RisesOnTheBeatAtAnyRateAndLevel) {
    const struct {
        std::uint32_t rate;
        double gain;
    } cases[] = {{44100, 1.0}, {48000, 1.0}, {22050, 1.0}, {32000, 1.0}, {8000, 1.0}, {44100, 0.1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, gain " + std::to_string(c.gain));
        OnsetStream probe;
        startOnsetStream(probe, c.rate);
        const double frameRate = probe.frameRate;
        // About 86 frames a second near 44.1 kHz and its multiples; at
        // 8 kHz, which is not summed down, 62.5.
        EXPECT_GE(frameRate, 62.5);
        EXPECT_LE(frameRate, 94.0);
        const std::vector<float> curve = curveOf(drumLoop(100, c.rate, 6, c.gain), c.rate, {});
        // Frames within a frame of a beat hold the rises; the rest hold
        // little.
        const double beatFrames = frameRate * 0.6;
        const auto hop = static_cast<double>(probe.hop);
        double onBeat = 0.0;
        double offBeat = 0.0;
        for (std::size_t k = 0; k < curve.size(); ++k) {
            const double phase =
                std::fmod(static_cast<double>(k) * hop + static_cast<double>(probe.windowLength), beatFrames * hop) / hop;
            ((phase < 6.0 || phase > beatFrames - 2.0) ? onBeat : offBeat) += static_cast<double>(curve[k]);
        }
        EXPECT_GT(onBeat, 10.0 * offBeat);
    }
}

// A frame lasts nearly the same time, and its bins fall near the same
// frequencies, whatever the file's rate: 512 samples at 11025 Hz to within
// 3.5 % (the nearest length the transform takes quickly), taken every 128
// to within 1 % (the hop is a whole number of samples). The transform's
// half length has no prime factor above 5.
TEST(OnsetStream, FramesLastTheSameTimeAtEveryRate) {
    const double window = static_cast<double>(kWindowLength) / kAnalysisRate;
    const double hop = static_cast<double>(kHopLength) / kAnalysisRate;
    for (std::uint32_t rate : {4000U, 8000U, 11025U, 16000U, 22050U, 24000U, 32000U, 44100U, 48000U, 88200U, 96000U,
                               176400U, 192000U, 352800U, 384000U}) {
        SCOPED_TRACE(std::to_string(rate));
        OnsetStream s;
        startOnsetStream(s, rate);
        const double analysisRate = static_cast<double>(rate) / s.decimation;
        EXPECT_NEAR(static_cast<double>(s.windowLength) / analysisRate, window, 0.035 * window);
        EXPECT_NEAR(static_cast<double>(s.hop) / analysisRate, hop, 0.01 * hop);
        EXPECT_DOUBLE_EQ(s.frameRate, analysisRate / static_cast<double>(s.hop));
        std::size_t half = s.windowLength / 2;
        EXPECT_EQ(half * 2, s.windowLength);
        for (std::size_t p : {std::size_t{2}, std::size_t{3}, std::size_t{5}}) {
            while (half % p == 0) half /= p;
        }
        EXPECT_EQ(half, 1U);
    }
}

// Silence makes no onsets; a rate below 4 kHz, or one so high (as a
// hostile header may claim, up to 2^32 - 1) that no bin of the transform
// falls in the analysis band, makes no curve at all.
TEST(OnsetStream, IsFlatForSilenceAndEmptyForARateOutOfReach) {
    const Bytes zeros(44100 * 4 * 2, 0);
    for (float value : curveOf(zeros, 44100, {})) EXPECT_EQ(value, 0.0F);
    for (std::uint32_t rate : {0U, 1U, 3999U, 4294967108U, 4294967295U}) {
        SCOPED_TRACE(std::to_string(rate));
        EXPECT_TRUE(curveOf(zeros, rate, {}).empty());
    }
}

}  // namespace
}  // namespace tempo::pulse
