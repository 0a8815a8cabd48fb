// Onset curve.
//
// The channels are mixed to mono and summed in groups of whole samples,
// which brings any sample rate near 11 kHz; each analysis frame is
// weighted by a Hann window and transformed; the power spectrum is pooled
// into half-octave bands from 30 Hz to 5 kHz, each band's level is
// compressed as log(1 + gamma * power), and the onset value of a frame is
// the mean over the bands of each level's rise since the previous frame
// (falls count as zero). Bands of equal width on a musical scale give the
// kick and bass as much say as the many bins of the cymbals, and the log
// makes the curve the same for a quiet and a loud copy of a song.

#include "pulse/onset_curve.hpp"

#include <kissfft/kissfft.hh>

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "input/little_endian.hpp"
#include "pulse/exact_math.hpp"

namespace tempo::pulse {

struct FftPlan {
    explicit FftPlan(std::size_t halfLength) : transform(halfLength, false) {}
    kissfft<double> transform;
};

void FftPlanDeleter::operator()(FftPlan* plan) const { delete plan; }

namespace {

// The band edges: half-octave steps from 30 Hz (below the lowest kick
// drum's fundamental) up to 5 kHz (above which most of what changes is
// cymbal noise, already seen lower down).
constexpr double kLowestHz = 30.0;
constexpr double kHighestHz = 5000.0;
constexpr double kBandsPerOctave = 2.0;
// log(1 + kCompression * p), with p = 1 for a full-scale sine: powers
// more than 60 dB below full scale hardly move the level, so noise at the
// bottom of the 16 bits, and rounding in the transform, make no onsets.
constexpr double kCompression = 1e6;
// The pitch classes are read from the bins between these: below 180 Hz a
// bin of 21.5 Hz spans more than a semitone, and above 2.5 kHz little but
// cymbals and the upper partials of notes whose lower ones already count.
constexpr double kPitchLowestHz = 180.0;
constexpr double kPitchHighestHz = 2500.0;
// The lowest sample rate analysed: below it the bands above 2 kHz are gone.
constexpr std::uint32_t kLowestRate = 4000;

// Adds this frame's spectrum to the group's pitch classes, and closes the
// group after kChromaFrames frames: each class's level compressed as the
// bands' are, in steps of 1/kChromaSteps (a full-scale chord reaches about
// 14 natural-log units, 224 steps).
void addPitches(OnsetStream& s) {
    for (std::size_t k = 1; k < s.pitchOfBin.size(); ++k) {
        const int pitch = s.pitchOfBin[k];
        if (pitch < 0) continue;
        const double re = s.spectrum[k].real();
        const double im = s.spectrum[k].imag();
        s.pitchPower[static_cast<std::size_t>(pitch)] += re * re + im * im;
    }
    if (++s.pitchFrames < kChromaFrames) return;
    for (double& power : s.pitchPower) {
        const double level = kChromaSteps * exactLog(1.0 + kCompression * power * s.pitchScale);
        s.chroma.push_back(static_cast<std::uint8_t>(std::min(255.0, std::floor(level + 0.5))));
        power = 0.0;
    }
    s.pitchFrames = 0;
}

void analyseFrame(OnsetStream& s) {
    const std::size_t n = s.windowLength;
    // The ring holds the newest sample before ringPos; unroll it, oldest
    // first, in its two runs.
    const std::size_t tail = n - s.ringPos;
    for (std::size_t i = 0; i < tail; ++i) s.frame[i] = s.ring[s.ringPos + i] * s.window[i];
    for (std::size_t i = tail; i < n; ++i) s.frame[i] = s.ring[i - tail] * s.window[i];
    s.fft->transform.transform_real(s.frame.data(), s.spectrum.data());
    std::fill(s.bandPower.begin(), s.bandPower.end(), 0.0);
    for (std::size_t k = 1; k < n / 2; ++k) {
        const int band = s.bandOfBin[k];
        if (band < 0) continue;
        const double re = s.spectrum[k].real();
        const double im = s.spectrum[k].imag();
        s.bandPower[static_cast<std::size_t>(band)] += re * re + im * im;
    }
    double rise = 0.0;
    double lowRise = 0.0;
    const std::size_t bands = s.bandPower.size();
    for (std::size_t b = 0; b < bands; ++b) {
        const double level = exactLog(1.0 + kCompression * s.bandPower[b] * s.bandScale[b]);
        if (s.havePrevious && level > s.previousLevel[b]) {
            rise += level - s.previousLevel[b];
        }
        s.previousLevel[b] = level;
        if (b + 1 == s.lowBands) lowRise = rise;
    }
    s.havePrevious = true;
    addPitches(s);
    s.onset.push_back(static_cast<float>(rise / static_cast<double>(bands)));
    s.lowOnset.push_back(s.lowBands > 0 ? static_cast<float>(lowRise / static_cast<double>(s.lowBands)) : 0.0F);
}

void addAnalysisSample(OnsetStream& s, double value) {
    ++s.analysisSamples;
    s.ring[s.ringPos] = value;
    s.ringPos = s.ringPos + 1 == s.windowLength ? 0 : s.ringPos + 1;
    if (++s.sinceHop == s.hop) {
        s.sinceHop = 0;
        analyseFrame(s);
    }
}

// Left plus right; the caller holds the pair's four bytes.
std::int64_t pairSum(const unsigned char* pair) {
    return static_cast<std::int64_t>(sampleAt(pair)) + sampleAt(pair + 2);
}

// Adds whole pairs; returns the bytes used (a multiple of 4).
std::size_t addPairs(OnsetStream& s, const unsigned char* bytes, std::size_t count) {
    // Full scale (a group of samples at +-32768 in both channels) is 1.
    const double scale = 1.0 / (65536.0 * static_cast<double>(s.decimation));
    const std::size_t pairs = count / 4;
    std::size_t i = 0;
    // Whole groups of the common sizes, with the loop unrolled by the
    // compiler: nearly all the bytes of a file go through here.
    const auto wholeGroups = [&](auto size) {
        constexpr std::size_t kSize = decltype(size)::value;
        for (; s.groupFill == 0 && i + kSize <= pairs; i += kSize) {
            std::int64_t sum = 0;
            for (std::size_t k = 0; k < kSize; ++k) sum += pairSum(bytes + 4 * (i + k));
            addAnalysisSample(s, static_cast<double>(sum) * scale);
        }
    };
    if (s.decimation == 4) wholeGroups(std::integral_constant<std::size_t, 4>{});
    if (s.decimation == 2) wholeGroups(std::integral_constant<std::size_t, 2>{});
    while (i < pairs) {
        // The rest of the current group, or as much of it as is here.
        const std::size_t take = std::min<std::size_t>(s.decimation - s.groupFill, pairs - i);
        std::int64_t sum = s.groupSum;
        for (std::size_t k = 0; k < take; ++k) sum += pairSum(bytes + 4 * (i + k));
        i += take;
        s.groupFill += static_cast<std::uint32_t>(take);
        s.groupSum = sum;
        if (s.groupFill == s.decimation) {
            addAnalysisSample(s, static_cast<double>(sum) * scale);
            s.groupFill = 0;
            s.groupSum = 0;
        }
    }
    return pairs * 4;
}

// Adds whole frames of float samples, `kChannels` (1 or 2) to a frame.
// Left plus right of each frame is summed in double; each group's sum is
// scaled so that full scale in both channels is 1, as for the bytes: a
// 16-bit s given as s / 32768 is exact, its sums are exact, and the value
// of a group is the same double as from its bytes.
template <unsigned kChannels>
void addFloatFrames(OnsetStream& s, const float* samples, std::size_t frames) {
    const double scale = 1.0 / (2.0 * static_cast<double>(s.decimation));
    double sum = s.floatGroupSum;
    for (std::size_t i = 0; i < frames; ++i) {
        const float* frame = samples + kChannels * i;
        sum += kChannels == 2 ? static_cast<double>(frame[0]) + static_cast<double>(frame[1])
                              : 2.0 * static_cast<double>(frame[0]);
        if (++s.groupFill == s.decimation) {
            addAnalysisSample(s, sum * scale);
            s.groupFill = 0;
            sum = 0.0;
        }
    }
    s.floatGroupSum = sum;
}

// Whether n has no prime factor above 5: the transform has fast steps for
// those alone (lengths with a factor of 7 took two thirds more time).
bool hasSmallFactors(std::size_t n) {
    for (std::size_t p : {std::size_t{2}, std::size_t{3}, std::size_t{5}}) {
        while (n % p == 0) n /= p;
    }
    return n == 1;
}

// The frame length at `rate` analysis samples per second: the even length
// nearest to kWindowLength at kAnalysisRate whose half the transform takes
// quickly, so that a frame lasts nearly the same time and its bins fall
// near the same frequencies at every rate (within 3.1 %; 540 at 12 kHz,
// where 512 would be 8 % off). Without it the bins of the lowest bands, a
// few each, fall on other frequencies of the kick and the bass in a 48 kHz
// copy of a song than in its 44.1 kHz copy, and the two can get other
// tempos.
std::size_t windowLengthAt(double rate) {
    const double ideal = static_cast<double>(kWindowLength) * rate / kAnalysisRate;
    std::size_t best = 0;
    for (std::size_t n = 2; static_cast<double>(n) < 2.0 * ideal; n += 2) {
        if (hasSmallFactors(n / 2) &&
            (best == 0 || std::fabs(static_cast<double>(n) - ideal) < std::fabs(static_cast<double>(best) - ideal))) {
            best = n;
        }
    }
    return best;
}

// The pitch class of each bin between kPitchLowestHz and kPitchHighestHz,
// for frames of `rate` analysis samples per second.
void assignPitches(OnsetStream& s, double rate, double fullScale) {
    const std::size_t n = s.windowLength;
    s.pitchOfBin.assign(n / 2, -1);
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double hz = static_cast<double>(k) * rate / static_cast<double>(n);
        if (hz < kPitchLowestHz || hz >= kPitchHighestHz) continue;
        // Semitones above the C below middle C (130.81 Hz), to the nearest.
        const double semitones = std::floor(12.0 * exactLog2(hz / 130.8127826502993) + 0.5);
        s.pitchOfBin[k] = static_cast<int>(semitones - 12.0 * std::floor(semitones / 12.0));
    }
    // A frame's power per class, as a band's, with the frames of a group
    // summed.
    s.pitchScale = fullScale / static_cast<double>(kChromaFrames);
}

}  // namespace

void startOnsetStream(OnsetStream& s, std::uint32_t sampleRate) {
    s = OnsetStream{};
    if (sampleRate < kLowestRate) return;
    // In 64 bits: a header may claim a rate near 2^32.
    s.decimation = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(1, (std::uint64_t{sampleRate} + kAnalysisRate / 2) / kAnalysisRate));
    const double rate = static_cast<double>(sampleRate) / static_cast<double>(s.decimation);
    s.windowLength = windowLengthAt(rate);
    s.hop = static_cast<std::size_t>(std::lround(static_cast<double>(kHopLength) * rate / kAnalysisRate));
    s.frameRate = rate / static_cast<double>(s.hop);

    const std::size_t n = s.windowLength;
    s.ring.assign(n, 0.0);
    s.frame.assign(n, 0.0);
    s.spectrum.assign(n / 2, {});
    s.window.resize(n);
    double windowSum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        s.window[i] = 0.5 - 0.5 * unitCircle(i, n).cos;
        windowSum += s.window[i];
    }
    s.fft.reset(new FftPlan(n / 2));

    // A full-scale sine centred on a bin has |X| = windowSum / 2 there.
    const double fullScale = 4.0 / (windowSum * windowSum);
    s.bandOfBin.assign(n / 2, -1);
    std::vector<std::size_t> binsInBand;
    int lastBand = -1;
    int bandIndex = -1;
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double hz = static_cast<double>(k) * rate / static_cast<double>(n);
        if (hz < kLowestHz || hz >= kHighestHz) continue;
        const int band = static_cast<int>(std::floor(kBandsPerOctave * exactLog2(hz / kLowestHz)));
        if (band != lastBand) {
            lastBand = band;
            ++bandIndex;
            binsInBand.push_back(0);
        }
        s.bandOfBin[k] = bandIndex;
        ++binsInBand.back();
        if (hz < kLowBandHz) s.lowBands = binsInBand.size();
    }
    if (binsInBand.empty()) {
        // No bin falls in the analysis band: nothing to analyse.
        s = OnsetStream{};
        return;
    }
    assignPitches(s, rate, fullScale);
    for (std::size_t count : binsInBand) s.bandScale.push_back(fullScale / static_cast<double>(count));
    s.bandPower.assign(binsInBand.size(), 0.0);
    s.previousLevel.assign(binsInBand.size(), 0.0);
}

void feedOnsetStream(OnsetStream& s, const unsigned char* bytes, std::size_t count) {
    s.totalBytes += count;
    if (s.decimation == 0) return;
    std::size_t at = 0;
    if (s.partialBytes > 0) {
        while (s.partialBytes < 4 && at < count) s.partial[s.partialBytes++] = bytes[at++];
        if (s.partialBytes < 4) return;
        addPairs(s, s.partial, 4);
        s.partialBytes = 0;
    }
    at += addPairs(s, bytes + at, count - at);
    while (at < count) s.partial[s.partialBytes++] = bytes[at++];
}

void feedOnsetSamples(OnsetStream& s, const float* samples, std::size_t frames, unsigned channels) {
    if (s.decimation == 0) return;
    if (channels == 1) addFloatFrames<1>(s, samples, frames);
    if (channels == 2) addFloatFrames<2>(s, samples, frames);
}

double onsetStreamSeconds(const OnsetStream& s) {
    const double rate = s.frameRate * static_cast<double>(s.hop);
    return rate > 0.0 ? static_cast<double>(s.analysisSamples) / rate : 0.0;
}

void finishOnsetStream(OnsetStream& s) {
    // The curves grew a value at a time, to up to twice their length: an
    // hour's slack would be as large as the curves.
    s.onset.shrink_to_fit();
    s.lowOnset.shrink_to_fit();
    s.chroma.shrink_to_fit();
    s.pitchOfBin = {};
    s.ring = {};
    s.frame = {};
    s.spectrum = {};
    s.window = {};
    s.fft.reset();
}

}  // namespace tempo::pulse
