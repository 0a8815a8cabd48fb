// Beat period.
//
// The onset curve has its local mean (over half a second) taken off and
// what is left of each onset above it is lightly smoothed, so that beats
// that fall on alternate sides of a frame boundary still line up. Its
// autocorrelation is taken over windows of 12 seconds, half overlapping,
// each normalised by its own energy (so a loud chorus counts no more than a
// quiet verse) and averaged over the piece: the periodicity curve, 1 at lag
// 0, near 0 at lags where onsets do not recur.
//
// Every local maximum of that curve between 40 and 250 BPM is a candidate
// beat period. A real beat also recurs at the whole multiples of its
// period that make up bars: two and four beats in a duple metre, three and
// six in a ternary one. Each candidate's strength is reinforced by the
// curve there, the k-th multiple weighted 1/k; the strongest after
// weighting by a broad prior over tempos wins. Then, if the curve at half
// the winning period is nearly as strong, the faster pulse is taken: a
// drum pattern whose every beat is marked is counted at its beat, not at
// its bar. The period is refined between frames by a parabola through the
// peak.

#include "pulse/periodicity.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "pulse/exact_math.hpp"

namespace tempo::pulse {
namespace {

// The local mean reaches a quarter of a second each way: longer than the
// gap between two fast beats, shorter than a phrase's swell.
constexpr double kMeanSeconds = 0.25;
// Twelve seconds hold several bars at any tempo, and four periods of the
// slowest beat; the tempo may drift a little from one window to the next.
constexpr double kWindowSeconds = 12.0;
// Onset energy below this level per frame (in the onset curve's log
// units) counts as none: a steady tone's tiny flicker is no beat.
constexpr double kFloor = 0.01;
// The tempos searched for a beat.
constexpr double kSlowestBpm = 40.0;
constexpr double kFastestBpm = 250.0;
// A curve shorter than this holds too few beats to tell a tempo.
constexpr double kShortestSeconds = 4.0;
// The multiples of a beat period where its bars recur, duple and ternary
// alike, so that neither metre is favoured: a song in three whose
// dotted-note figures recur every one and a half beats still has its bars
// at three and six beats, where that figure's period has none. Each counts
// 1/k: the further away, the less reliably a beat recurs there (bars vary,
// tempo drifts). Five and seven are left out: bars of five or seven beats
// are rare, and those multiples would reward periods that divide nothing.
constexpr double kBarMultiples[] = {2.0, 3.0, 4.0, 6.0};
// The curve reaches this many periods of the slowest tempo.
constexpr double kLongestMultiple = *std::max_element(std::begin(kBarMultiples), std::end(kBarMultiples));
// The prior: a log-normal over tempos, one octave wide. Its centre sits
// above the commonest tempos of music (about 120 BPM) because the
// periodicity curve itself favours long periods: every multiple of a beat
// repeats it, and a bar repeats the whole pattern.
constexpr double kPriorBpm = 150.0;
constexpr double kPriorOctaves = 1.0;
// How strong half the period must be, against the winner, to be taken as
// the beat instead.
constexpr double kFasterPulseRatio = 0.9;
// Below this confidence no beat stands out. Noise, a held chord and a
// steady tone stay under 0.1; songs and drum loops lie well above.
constexpr double kLeastConfidence = 0.15;

}  // namespace

std::vector<double> salientOnsets(const std::vector<float>& onset, double frameRate) {
    if (!(frameRate > 0.0)) return {};
    const std::size_t n = onset.size();
    const auto reach = static_cast<std::size_t>(std::lround(kMeanSeconds * frameRate));
    std::vector<double> salient(n);
    // The sum over [lo, hi), slid along one frame at a time.
    double sum = 0.0;
    std::size_t lo = 0;
    std::size_t hi = 0;
    for (std::size_t t = 0; t < n; ++t) {
        for (; hi < n && hi <= t + reach; ++hi) sum += static_cast<double>(onset[hi]);
        for (; lo + reach < t; ++lo) sum -= static_cast<double>(onset[lo]);
        const double mean = sum / static_cast<double>(hi - lo);
        salient[t] = std::max(0.0, static_cast<double>(onset[t]) - mean);
    }
    double previous = 0.0;
    for (std::size_t t = 0; t < n; ++t) {
        const double current = salient[t];
        const double next = t + 1 < n ? salient[t + 1] : 0.0;
        salient[t] = 0.25 * previous + 0.5 * current + 0.25 * next;
        previous = current;
    }
    return salient;
}

namespace {

// The windowed, normalised autocorrelation of `salient`, lags 0 to `lags`;
// with `wanted`, only at the lags it marks (0 at the others).
std::vector<double> periodicityCurve(const std::vector<double>& salient, double frameRate, std::size_t lags,
                                     const std::vector<bool>* wanted = nullptr) {
    const std::size_t n = salient.size();
    const std::size_t w = std::min(n, static_cast<std::size_t>(std::lround(kWindowSeconds * frameRate)));
    const std::size_t hop = std::max<std::size_t>(1, w / 2);
    std::vector<double> curve(lags + 1, 0.0);
    std::vector<double> x(w);
    std::size_t windows = 0;
    for (std::size_t start = 0;; start += hop) {
        start = std::min(start, n - w);
        double mean = 0.0;
        for (std::size_t t = 0; t < w; ++t) mean += salient[start + t];
        mean /= static_cast<double>(w);
        double energy = 0.0;
        for (std::size_t t = 0; t < w; ++t) {
            x[t] = salient[start + t] - mean;
            energy += x[t] * x[t];
        }
        const double norm = std::max(energy, kFloor * kFloor * static_cast<double>(w));
        for (std::size_t l = 0; l <= lags && l < w; ++l) {
            if (wanted != nullptr && !(*wanted)[l]) continue;
            double sum = 0.0;
            for (std::size_t t = 0; t + l < w; ++t) sum += x[t] * x[t + l];
            // Unbiased: a long lag overlaps fewer frames.
            curve[l] += sum * static_cast<double>(w) / static_cast<double>(w - l) / norm;
        }
        ++windows;
        if (start + w >= n) break;
    }
    for (double& value : curve) value /= static_cast<double>(windows);
    return curve;
}

// A peak of `curve` near `lag`: its height and refined position from a
// parabola through the highest local maximum within a frame of `lag`.
struct Peak {
    double lag = 0.0;
    double height = 0.0;
};

Peak peakNear(const std::vector<double>& curve, double lag) {
    Peak best{lag, 0.0};
    if (lag < 1.0 || lag + 2.0 >= static_cast<double>(curve.size())) return best;
    const auto lo = std::max<std::size_t>(1, static_cast<std::size_t>(std::floor(lag)) - 1);
    const auto hi = std::min(curve.size() - 2, static_cast<std::size_t>(std::ceil(lag)) + 1);
    bool found = false;
    for (std::size_t l = lo; l <= hi; ++l) {
        const double a = curve[l - 1];
        const double b = curve[l];
        const double c = curve[l + 1];
        Peak here{static_cast<double>(l), b};
        if (b >= a && b >= c) {
            const double bend = a - 2.0 * b + c;
            if (bend < 0.0) {
                here.lag += 0.5 * (a - c) / bend;
                here.height = b - 0.125 * (a - c) * (a - c) / bend;
            }
        }
        if (!found || here.height > best.height) best = here;
        found = true;
    }
    return best;
}

}  // namespace

double periodicityAt(const std::vector<double>& curve, double lag) { return peakNear(curve, lag).height; }

std::vector<double> periodicityOfSalient(const std::vector<double>& salient, double frameRate) {
    const std::size_t n = salient.size();
    if (!(frameRate > 0.0) || static_cast<double>(n) < kShortestSeconds * frameRate) return {};
    const double longest = std::ceil(frameRate * 60.0 / kSlowestBpm);
    const std::size_t lags = std::min(n / 2, static_cast<std::size_t>(kLongestMultiple * longest) + 4);
    return periodicityCurve(salient, frameRate, lags);
}

std::vector<double> periodicityOf(const std::vector<float>& onset, double frameRate) {
    if (!(frameRate > 0.0) || static_cast<double>(onset.size()) < kShortestSeconds * frameRate) return {};
    return periodicityOfSalient(salientOnsets(onset, frameRate), frameRate);
}

std::vector<double> periodicityNear(const std::vector<float>& onset, double frameRate, const std::vector<double>& lags) {
    if (!(frameRate > 0.0) || static_cast<double>(onset.size()) < kShortestSeconds * frameRate) return {};
    return periodicityNearSalient(salientOnsets(onset, frameRate), frameRate, lags);
}

std::vector<double> periodicityNearSalient(const std::vector<double>& salient, double frameRate,
                                           const std::vector<double>& lags) {
    const std::size_t n = salient.size();
    if (!(frameRate > 0.0) || static_cast<double>(n) < kShortestSeconds * frameRate) return {};
    const double longest = std::ceil(frameRate * 60.0 / kSlowestBpm);
    const std::size_t last = std::min(n / 2, static_cast<std::size_t>(kLongestMultiple * longest) + 4);
    std::vector<bool> wanted(last + 1, false);
    for (double lag : lags) {
        if (!(lag >= 0.0) || lag > static_cast<double>(last)) continue;
        const auto centre = static_cast<std::size_t>(lag);
        for (std::size_t l = centre >= 2 ? centre - 2 : 0; l <= centre + 3 && l <= last; ++l) wanted[l] = true;
    }
    return periodicityCurve(salient, frameRate, last, &wanted);
}

PulseEstimate estimatePulse(const std::vector<float>& onset, double frameRate) {
    return choosePulse(periodicityOf(onset, frameRate), frameRate);
}

PulseEstimate choosePulse(const std::vector<double>& curve, double frameRate) {
    PulseEstimate estimate;
    if (curve.empty() || !(frameRate > 0.0)) return estimate;
    const double shortest = std::max(2.0, std::floor(frameRate * 60.0 / kFastestBpm));
    const double longest = std::ceil(frameRate * 60.0 / kSlowestBpm);

    double bestScore = 0.0;
    Peak best;
    for (auto l = static_cast<std::size_t>(shortest); l <= static_cast<std::size_t>(longest) && l + 1 < curve.size();
         ++l) {
        if (curve[l] < curve[l - 1] || curve[l] < curve[l + 1]) continue;
        const Peak peak = peakNear(curve, static_cast<double>(l));
        const double bpm = 60.0 * frameRate / peak.lag;
        const double octaves = exactLog2(bpm / kPriorBpm) / kPriorOctaves;
        const double prior = exactExp(-0.5 * octaves * octaves);
        double strength = peak.height;
        for (double k : kBarMultiples) strength += peakNear(curve, k * peak.lag).height / k;
        const double score = strength * prior;
        if (score > bestScore) {
            bestScore = score;
            best = peak;
        }
    }
    if (bestScore <= 0.0) return estimate;
    for (;;) {
        const Peak faster = peakNear(curve, 0.5 * best.lag);
        if (60.0 * frameRate / faster.lag > kFastestBpm || faster.height < kFasterPulseRatio * best.height) break;
        best = faster;
    }
    // The period from the peak at four periods where it is there, for a
    // finer measure than one period gives.
    const Peak four = peakNear(curve, 4.0 * best.lag);
    const double lag = four.height >= 0.5 * best.height && four.lag > 0.0 ? four.lag / 4.0 : best.lag;
    estimate.bpm = 60.0 * frameRate / lag;
    estimate.confidence = std::clamp(best.height, 0.0, 1.0);
    estimate.found = estimate.confidence >= kLeastConfidence;
    return estimate;
}

}  // namespace tempo::pulse
