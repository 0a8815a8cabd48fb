// Tempo spectrum.
//
// For each tempo the onset signal, weighted by a Hann window over its whole
// length, is correlated with a cosine and a sine of that tempo's angular
// frequency; the length of the resulting (cos, sin) pair, divided by the
// frame count, is the tempo's strength. The window keeps the cut-off ends of
// the recording from adding a spurious oscillation.
//
// The printed tempo must be identical on every machine, so each term is
// evaluated exactly as (cos(theta) * on[k]) * w + sum, with
// theta = (k * omega) / r, in increasing k, one rounding after another.
// Two things change the cost but not a single bit:
//   - frames are the outer loop and tempos the inner one, so each frame's
//     window value is computed once and each tempo's sums still see the
//     frames in increasing order;
//   - with a sample rate above 0 every angle is finite, so a frame whose
//     onset or window is zero adds a signed zero to a sum that is never -0
//     (it starts at +0.0, and an exact cancellation gives +0.0), which
//     leaves the sum's bits unchanged; such frames are skipped. About half
//     the frames of music are falls or steady stretches with onset 0.
// With a sample rate of 0 nothing is skipped: the NaN and infinite angles
// must reach every sum.

#include "tempo/tempo_spectrum.hpp"

#include <cmath>

namespace tempo {
namespace {

constexpr double kTwoPi = 6.283185307179586;

}  // namespace

TempoSpectrum computeTempoSpectrum(const OnsetSignal& onset, std::uint32_t sampleRate) {
    const double n = static_cast<double>(onset.size());
    const double frameRate = static_cast<double>(sampleRate) * kInverseFrameLength;
    const bool zeroTermsVanish = sampleRate > 0;

    constexpr std::size_t kTempos = kTempoCount;
    std::array<double, kTempos> omega{};
    for (std::size_t t = 0; t < kTempos; ++t) {
        const double bpm = static_cast<double>(static_cast<std::size_t>(kMinBpm) + t);
        omega[t] = bpm / 60.0 * kTwoPi;
    }

    std::array<double, kTempos> sumCos{};
    std::array<double, kTempos> sumSin{};
    for (std::size_t k = 0; k < onset.size(); ++k) {
        const double on = onset[k];
        if (zeroTermsVanish && on == 0.0) continue;
        const double kd = static_cast<double>(k);
        const double w = 0.5 - std::cos(kd * kTwoPi / n) * 0.5;
        if (zeroTermsVanish && w == 0.0) continue;
        for (std::size_t t = 0; t < kTempos; ++t) {
            const double theta = kd * omega[t] / frameRate;
            sumCos[t] = std::cos(theta) * on * w + sumCos[t];
            sumSin[t] = std::sin(theta) * on * w + sumSin[t];
        }
    }

    TempoSpectrum spectrum{};
    for (std::size_t t = 0; t < kTempos; ++t) {
        const double a = sumCos[t] / n;
        const double b = sumSin[t] / n;
        spectrum[t] = std::sqrt(b * b + a * a);
    }
    return spectrum;
}

}  // namespace tempo
