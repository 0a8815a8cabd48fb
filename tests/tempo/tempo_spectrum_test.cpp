#include "tempo/tempo_spectrum.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "tests/support/wave_bytes.hpp"

namespace tempo {
namespace {

// The spectrum exactly as its formula reads: tempo by tempo, the window
// recomputed for every term, no frame skipped. The shipped code reorders
// the loops and skips zero terms; it must agree to the last bit.
TempoSpectrum literalSpectrum(const OnsetSignal& on, std::uint32_t sampleRate) {
    const std::size_t n = on.size();
    const double r = static_cast<double>(sampleRate) * 0.001953125;
    TempoSpectrum v{};
    for (int bpm = 60; bpm <= 240; ++bpm) {
        const double omega = static_cast<double>(bpm) / 60.0 * 6.283185307179586;
        double sumCos = 0.0;
        double sumSin = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            const double w = 0.5 - std::cos(static_cast<double>(k) * 6.283185307179586 / static_cast<double>(n)) * 0.5;
            const double theta = static_cast<double>(k) * omega / r;
            sumCos = std::cos(theta) * on[k] * w + sumCos;
            sumSin = std::sin(theta) * on[k] * w + sumSin;
        }
        const double a = sumCos / static_cast<double>(n);
        const double b = sumSin / static_cast<double>(n);
        v[static_cast<std::size_t>(bpm - 60)] = std::sqrt(b * b + a * a);
    }
    return v;
}

void expectBitwiseEqual(const TempoSpectrum& actual, const TempoSpectrum& expected) {
    for (std::size_t t = 0; t < expected.size(); ++t) {
        std::uint64_t a = 0;
        std::uint64_t e = 0;
        std::memcpy(&a, &actual[t], sizeof a);
        std::memcpy(&e, &expected[t], sizeof e);
        ASSERT_EQ(a, e) << "tempo " << (60 + t) << ": " << actual[t] << " vs " << expected[t];
    }
}

// An onset signal like music's: most frames exactly zero, the rest rises of
// varied size, with a pulse every `period` frames.
OnsetSignal randomOnsets(std::size_t n, std::uint64_t seed, double zeroShare, std::size_t period) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    OnsetSignal on(n);
    for (std::size_t k = 0; k < n; ++k) {
        if (period != 0 && k % period == 0) {
            on[k] = 3000.0 + 1000.0 * unit(random);
        } else if (unit(random) >= zeroShare) {
            on[k] = 500.0 * unit(random) * unit(random);
        }
    }
    return on;
}

// The onset signal of a generated clip, as the tool computes it.
OnsetSignal clipOnsets() {
    const testing::Bytes samples = testing::clickTrack(600);
    WaveData wave;
    wave.samples = samples.data();
    wave.dataSize = static_cast<std::uint32_t>(samples.size());
    return computeOnsetSignal(computeVolumeEnvelope(wave));
}

TEST(ComputeTempoSpectrum, MatchesTheLiteralFormulaBitForBit) {
    std::vector<OnsetSignal> signals = {
        {}, {7.0}, {7.0, 0.0}, {0.0, 7.0}, {1.5, 2.5},
        OnsetSignal(50, 0.0),
        randomOnsets(300, 1, 0.0, 0),
        randomOnsets(1000, 2, 0.5, 43),
        randomOnsets(2000, 3, 0.9, 21),
        randomOnsets(4097, 4, 0.7, 0),
        randomOnsets(777, 5, 0.99, 0),
        clipOnsets(),
    };
    for (std::uint32_t rate : {0U, 1U, 8000U, 44100U, 48000U, 0xFFFFFFFFU}) {
        for (const OnsetSignal& on : signals) {
            SCOPED_TRACE("rate " + std::to_string(rate) + ", frames " + std::to_string(on.size()));
            expectBitwiseEqual(computeTempoSpectrum(on, rate), literalSpectrum(on, rate));
        }
    }
}

TEST(ComputeTempoSpectrum, DegenerateInputs) {
    const struct {
        const char* name;
        OnsetSignal on;
        std::uint32_t rate;
        bool nan;  // every entry NaN; otherwise every entry +0.0
    } cases[] = {
        {"no frames", {}, 44100, true},
        {"no frames, rate 0", {}, 0, true},
        {"one frame has window 0", {12345.0}, 44100, false},
        {"rate 0", {1.0, 2.0, 3.0}, 0, true},
        {"rate 0, silent", {0.0, 0.0, 0.0}, 0, true},
        {"only on[0]", {9000.0, 0.0, 0.0, 0.0}, 44100, false},
        {"silence", OnsetSignal(100, 0.0), 8000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (double entry : computeTempoSpectrum(c.on, c.rate)) {
            if (c.nan) {
                EXPECT_TRUE(std::isnan(entry));
            } else {
                EXPECT_EQ(entry, 0.0);
                EXPECT_FALSE(std::signbit(entry));
            }
        }
    }
}

TEST(ComputeTempoSpectrum, ScalesExactlyByPowersOfTwo) {
    const OnsetSignal on = randomOnsets(1500, 6, 0.6, 40);
    const TempoSpectrum base = computeTempoSpectrum(on, 44100);
    for (double scale : {0.25, 2.0, 1024.0}) {
        OnsetSignal scaled = on;
        for (double& value : scaled) value *= scale;
        const TempoSpectrum spectrum = computeTempoSpectrum(scaled, 44100);
        for (std::size_t t = 0; t < spectrum.size(); ++t) EXPECT_EQ(spectrum[t], base[t] * scale) << t;
    }
}

TEST(ComputeTempoSpectrum, PeaksAtThePulseTempo) {
    // One pulse every 40 frames at 44100/512 frames per second is
    // 60 * 86.1328125 / 40 = 129.2 BPM.
    OnsetSignal on(4000, 0.0);
    for (std::size_t k = 0; k < on.size(); k += 40) on[k] = 1000.0;
    const TempoSpectrum spectrum = computeTempoSpectrum(on, 44100);
    std::size_t strongest = 0;
    for (std::size_t t = 1; t < spectrum.size(); ++t) {
        if (spectrum[t] > spectrum[strongest]) strongest = t;
    }
    EXPECT_EQ(strongest + 60, 129U);
}

}  // namespace
}  // namespace tempo
