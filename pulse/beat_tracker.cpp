// Beat tracking.
//
// First the beat period is followed through the piece: the onset curve's
// autocorrelation over windows of eight seconds, every two seconds, gives
// each lag near the piece's period a score, and a Viterbi path through the
// windows (in the manner of the tempo trackers of Klapuri, Eronen and
// Astola 2006, and of Davies and Plumbley 2007) chooses one lag per window,
// paying for each step in proportion to its square on a log scale: a ramp
// is followed in small steps, a sudden change in one, and a window that
// happens to favour another lag alone does not move the path.
//
// Then the beats: dynamic programming over the onset curve as published by
// Ellis (2007, "Beat tracking by dynamic programming"). Each frame's best
// score is its own onset strength plus the best score of an earlier beat
// (from half a period to two periods before), less a penalty that
// grows with the square of the log of the gap's ratio to the local period; the beats are read back from the best frame of the
// last period. Beats that fall in silence before the music starts or after
// it ends are dropped.

#include "pulse/beat_tracker.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "pulse/exact_math.hpp"

namespace tempo::pulse {
namespace {

// The windows that follow the period: long enough for several beats at 40
// BPM, short enough to see a tempo that changes within a piece.
constexpr double kLocalWindowSeconds = 8.0;
constexpr double kLocalHopSeconds = 2.0;
// The lags considered lie within this ratio of the piece's period: a ramp
// or a second tempo up to 40 % away, and not yet the 3/4 or 4/3 of the beat
// that a dotted or triplet figure gives (those are the metre's business).
constexpr double kLocalReach = 1.4;
// The cost of a step between windows, per squared octave: a 4 % step costs
// 0.03 (a tenth of what a clearer peak gains in one window), a 30 % jump
// 1.1, so only several windows that agree make the path jump.
constexpr double kStepCost = 8.0;
// A slight pull towards the piece's own period, per squared octave, so
// that a window with no clear lag (a break, silence) keeps it.
constexpr double kPullToPiece = 1.0;
// The penalty per squared natural log of the gap's ratio to the period:
// Ellis's value for an onset curve scaled to unit deviation. A gap 5 %
// off the period costs a quarter of a typical onset.
constexpr double kTightness = 100.0;
// A swung beat's off-beat comes two thirds of the way to the next beat
// (long-short); where the onsets a third of a period after the beats
// outweigh those two thirds after by this much, and those half a period
// after too, and they are a train of their own (at least kSwingShare of
// the beats' onsets, not a note's slow swell), the tracker is on the
// off-beats, and the beats lie a third of a period later.
constexpr double kSwingMargin = 1.2;
constexpr double kSwingShare = 0.4;
// The gaps searched for the beat before, as a ratio to the period either
// way: from half to twice the period, as Ellis searches.
constexpr double kWidestGap = 2.0;
// Beats lie on whole frames, so the gap between two beats that keep the
// period exactly is up to a frame off it (a third of a frame on average);
// this much of each gap's miss is not counted against the beats' steadiness,
// so that a fast tempo, with fewer frames to a beat, is not judged less
// steady for its rounding alone.
constexpr double kRoundingMiss = 0.5;
// Beats at the ends whose onset is below this share of the beats' root
// mean square onset are silence around the music.
constexpr double kEndBeatShare = 0.5;

struct LagScores {
    std::size_t lowest = 0;
    std::vector<std::vector<double>> perWindow;  // score of each lag, per window
    std::vector<double> centres;                 // each window's centre, in frames
};

// Each window's normalised autocorrelation at every lag from `lowest` to
// `highest`, helped by the lag's double (where the beat recurs a bar later)
// and, as much, by its half (where the beat's eighths recur): even eighths
// recur at two of them and at three alike, and of the beat and the beat and
// a half only the beat has a half that recurs too. Without it a piece that
// speeds up into even eighths is followed at the beat and a half where that
// lies nearer its old period (120 BPM into 150 read as 100).
LagScores windowScores(const std::vector<double>& salient, std::size_t w, std::size_t hop, std::size_t lowest,
                       std::size_t highest) {
    LagScores scores;
    scores.lowest = lowest;
    const std::size_t n = salient.size();
    std::vector<double> x(w);
    const auto correlation = [&x, w](std::size_t lag, double norm) {
        if (lag >= w) return 0.0;
        double sum = 0.0;
        for (std::size_t t = 0; t + lag < w; ++t) sum += x[t] * x[t + lag];
        return sum * static_cast<double>(w) / static_cast<double>(w - lag) / norm;
    };
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
        std::vector<double> row(highest - lowest + 1, 0.0);
        if (energy > 0.0) {
            for (std::size_t l = lowest; l <= highest; ++l) {
                row[l - lowest] = correlation(l, energy) + 0.5 * correlation(2 * l, energy) +
                                 0.25 * (correlation(l / 2, energy) + correlation((l + 1) / 2, energy));
            }
        }
        scores.perWindow.push_back(std::move(row));
        scores.centres.push_back(static_cast<double>(start) + 0.5 * static_cast<double>(w));
        if (start + w >= n) break;
    }
    return scores;
}

// The Viterbi path through the windows' lags: one lag index per window.
std::vector<std::size_t> bestPath(const LagScores& scores, double period) {
    const std::size_t lags = scores.perWindow.front().size();
    std::vector<double> octave(lags);
    std::vector<double> prior(lags);
    for (std::size_t i = 0; i < lags; ++i) {
        octave[i] = exactLog2(static_cast<double>(scores.lowest + i));
        const double away = octave[i] - exactLog2(period);
        prior[i] = -kPullToPiece * away * away;
    }
    const std::size_t windows = scores.perWindow.size();
    // Where each window's path to each lag came from: window w's lag i at
    // w * lags + i (a lag index: fewer than the frames of a window).
    std::vector<std::uint32_t> from(windows * lags, 0);
    std::vector<double> total(lags);
    for (std::size_t i = 0; i < lags; ++i) total[i] = scores.perWindow[0][i] + prior[i];
    std::vector<double> next(lags);
    for (std::size_t w = 1; w < windows; ++w) {
        for (std::size_t i = 0; i < lags; ++i) {
            double best = -std::numeric_limits<double>::infinity();
            for (std::size_t j = 0; j < lags; ++j) {
                const double step = octave[i] - octave[j];
                const double value = total[j] - kStepCost * step * step;
                if (value > best) {
                    best = value;
                    from[w * lags + i] = static_cast<std::uint32_t>(j);
                }
            }
            next[i] = best + scores.perWindow[w][i] + prior[i];
        }
        total.swap(next);
    }
    std::vector<std::size_t> path(windows);
    path.back() = static_cast<std::size_t>(std::max_element(total.begin(), total.end()) - total.begin());
    for (std::size_t w = windows - 1; w > 0; --w) path[w - 1] = from[w * lags + path[w]];
    return path;
}

// The lag of index `i` in a window's row, refined by a parabola through it
// and its neighbours.
double refinedLag(const std::vector<double>& row, std::size_t lowest, std::size_t i) {
    double lag = static_cast<double>(lowest + i);
    if (i == 0 || i + 1 >= row.size()) return lag;
    const double a = row[i - 1];
    const double b = row[i];
    const double c = row[i + 1];
    const double bend = a - 2.0 * b + c;
    if (bend < 0.0 && b >= a && b >= c) lag += 0.5 * (a - c) / bend;
    return lag;
}

// Drops the beats at either end whose onset is too weak to be music.
void dropSilentEnds(std::vector<std::size_t>& beats, const StrengthCurve& strength) {
    if (beats.empty()) return;
    const auto near = [&strength](std::size_t frame) {
        const std::size_t lo = frame >= 2 ? frame - 2 : 0;
        const std::size_t hi = std::min(strength.size(), frame + 3);
        // The first of the largest, as std::max_element finds it.
        double best = strength[lo];
        for (std::size_t t = lo + 1; t < hi; ++t) {
            const double value = strength[t];
            if (best < value) best = value;
        }
        return best;
    };
    double squares = 0.0;
    for (std::size_t frame : beats) squares += near(frame) * near(frame);
    const double floor = kEndBeatShare * std::sqrt(squares / static_cast<double>(beats.size()));
    std::size_t first = 0;
    std::size_t last = beats.size();
    while (first < last && near(beats[first]) < floor) ++first;
    while (last > first && near(beats[last - 1]) < floor) --last;
    beats = std::vector<std::size_t>(beats.begin() + static_cast<std::ptrdiff_t>(first),
                                     beats.begin() + static_cast<std::ptrdiff_t>(last));
}

// The strongest value of `strength` within a frame of `at`.
double strengthNear(const StrengthCurve& strength, double at) {
    const auto centre = static_cast<long>(std::lround(at));
    double best = 0.0;
    for (long t = centre - 1; t <= centre + 1; ++t) {
        if (t >= 0 && static_cast<std::size_t>(t) < strength.size()) best = std::max(best, strength[static_cast<std::size_t>(t)]);
    }
    return best;
}

// Moves beats that sit on a swing's off-beats onto the beats.
void alignSwing(std::vector<std::size_t>& beats, const StrengthCurve& strength, const PeriodCurve& periods) {
    double onBeats = 0.0;
    double third = 0.0;
    double twoThirds = 0.0;
    double half = 0.0;
    for (std::size_t frame : beats) {
        const double at = static_cast<double>(frame);
        const double period = periods[frame];
        onBeats += strengthNear(strength, at);
        third += strengthNear(strength, at + period / 3.0);
        twoThirds += strengthNear(strength, at + 2.0 * period / 3.0);
        half += strengthNear(strength, at + period / 2.0);
    }
    if (!(third > kSwingMargin * twoThirds && third > kSwingMargin * half && third > kSwingShare * onBeats)) return;
    for (std::size_t& frame : beats) {
        const auto target = static_cast<std::size_t>(std::lround(static_cast<double>(frame) + periods[frame] / 3.0));
        std::size_t best = target;
        for (std::size_t t = target - 1; t <= target + 1; ++t) {
            if (t < strength.size() && strength[t] > strength[std::min(best, strength.size() - 1)]) best = t;
        }
        frame = std::min(best, strength.size() - 1);
    }
}

// The best scores of the frames a beat may look back to, and no further
// (a frame's score reads those up to the widest gap before it): a buffer
// of a few times that many that moves its newest part to the front when
// it is full, so that an hour's tracking keeps no score per frame.
struct RecentScores {
    std::size_t keep = 0;          // frames kept when the buffer moves
    std::size_t first = 0;         // the frame at values[0]
    std::vector<double> values;

    double operator[](std::size_t t) const { return values[t - first]; }
    void set(std::size_t t, double score) {
        if (t - first == values.size()) {
            std::copy(values.end() - static_cast<std::ptrdiff_t>(keep), values.end(), values.begin());
            first = t - keep;
        }
        values[t - first] = score;
    }
};

// The penalty of each gap d (1 to widest frames) from `period`.
void penaltiesFor(double period, const std::vector<double>& logGap, std::vector<double>& penalty) {
    const double logPeriod = exactLog(period);
    for (std::size_t d = 1; d < penalty.size(); ++d) {
        const double off = logGap[d] - logPeriod;
        penalty[d] = kTightness * off * off;
    }
}

// Ellis's forward pass: for each frame, the gap back to the beat before
// its best sequence (0: none), and the last beat, the best frame of the
// last period. `Gap` holds gaps up to `widest`.
template <typename Gap>
std::size_t bestSequences(const StrengthCurve& strength, const PeriodCurve& periods, std::size_t n,
                          std::size_t widest, std::vector<Gap>& gapBefore) {
    std::vector<double> logGap(widest + 1, 0.0);
    for (std::size_t d = 1; d <= widest; ++d) logGap[d] = exactLog(static_cast<double>(d));
    RecentScores score{widest + 1, 0, std::vector<double>(std::min(n, std::max<std::size_t>(4 * (widest + 1), 4096)))};
    // The penalty of each gap, worked out again only where the period
    // changes (never, for a steady period): the same values either way.
    std::vector<double> penalty(widest + 1, 0.0);
    double penaltyPeriod = -1.0;
    gapBefore.assign(n, 0);
    for (std::size_t t = 0; t < n; ++t) {
        const double period = periods[t];
        const auto shortest = static_cast<std::size_t>(std::max(1L, std::lround(period / kWidestGap)));
        const auto longestGap = std::min(t, static_cast<std::size_t>(std::lround(kWidestGap * period)));
        if (period != penaltyPeriod) {
            penaltyPeriod = period;
            penaltiesFor(period, logGap, penalty);
        }
        double best = 0.0;
        std::size_t gap = 0;
        for (std::size_t d = shortest; d <= longestGap; ++d) {
            const double value = score[t - d] - penalty[d];
            if (gap == 0 || value > best) {
                best = value;
                gap = d;
            }
        }
        gapBefore[t] = static_cast<Gap>(gap);
        score.set(t, strength[t] + best);
    }
    const auto reach = static_cast<std::size_t>(std::lround(periods[n - 1]));
    std::size_t last = n - 1;
    for (std::size_t t = n - 1 - std::min(reach, n - 1); t < n; ++t) {
        if (score[t] > score[last]) last = t;
    }
    return last;
}

// The beats of the best sequence, from the last back to the first.
template <typename Gap>
std::vector<std::size_t> beatsBack(const StrengthCurve& strength, const PeriodCurve& periods, std::size_t n,
                                   std::size_t widest) {
    std::vector<Gap> gapBefore;
    std::vector<std::size_t> beats;
    for (std::size_t t = bestSequences(strength, periods, n, widest, gapBefore);; t -= gapBefore[t]) {
        beats.push_back(t);
        if (gapBefore[t] == 0) break;
    }
    return beats;
}

}  // namespace

double PeriodCurve::operator[](std::size_t t) const {
    if (given != nullptr) return (*given)[t];
    const auto at = static_cast<double>(t);
    // The last window whose centre is at or before the frame; the first
    // where none is.
    const auto after = std::upper_bound(centres.begin() + 1, centres.end(), at);
    const auto k = static_cast<std::size_t>(after - centres.begin()) - 1;
    if (at <= centres[k] || k + 1 == lags.size()) return lags[k];
    const double share = (at - centres[k]) / (centres[k + 1] - centres[k]);
    return lags[k] + share * (lags[k + 1] - lags[k]);
}

PeriodCurve steadyPeriod(std::size_t frames, double period) {
    PeriodCurve curve;
    curve.frames = frames;
    curve.lags = {period};
    curve.centres = {0.0};
    return curve;
}

PeriodCurve givenPeriods(const std::vector<double>& given) {
    PeriodCurve curve;
    curve.given = &given;
    return curve;
}

PeriodCurve followPeriod(const std::vector<double>& salient, double frameRate, double period) {
    const std::size_t n = salient.size();
    PeriodCurve periods = steadyPeriod(n, period);
    if (!(frameRate > 0.0) || !(period >= 2.0)) return periods;
    const auto w = static_cast<std::size_t>(std::lround(kLocalWindowSeconds * frameRate));
    const auto hop = static_cast<std::size_t>(std::max(1L, std::lround(kLocalHopSeconds * frameRate)));
    const auto lowest = static_cast<std::size_t>(std::max(2.0, std::floor(period / kLocalReach)));
    const auto highest = static_cast<std::size_t>(std::ceil(period * kLocalReach));
    if (n < w || highest >= w / 2) return periods;
    LagScores scores = windowScores(salient, w, hop, lowest, highest);
    const std::vector<std::size_t> path = bestPath(scores, period);
    periods.lags.assign(path.size(), 0.0);
    for (std::size_t k = 0; k < path.size(); ++k) periods.lags[k] = refinedLag(scores.perWindow[k], lowest, path[k]);
    periods.centres = std::move(scores.centres);
    return periods;
}

std::vector<double> localPeriods(const std::vector<double>& salient, double frameRate, double period) {
    const PeriodCurve curve = followPeriod(salient, frameRate, period);
    std::vector<double> periods(curve.size());
    for (std::size_t t = 0; t < periods.size(); ++t) periods[t] = curve[t];
    return periods;
}

std::vector<std::size_t> trackBeatsOver(const StrengthCurve& strength, const PeriodCurve& periods) {
    const std::size_t n = std::min(strength.size(), periods.size());
    if (n == 0) return {};
    // The least and the largest period, compared as std::min_element and
    // std::max_element compare.
    double least = periods[0];
    double longest = periods[0];
    for (std::size_t t = 1; t < n; ++t) {
        const double period = periods[t];
        if (period < least) least = period;
        if (longest < period) longest = period;
    }
    if (!(least >= 2.0)) return {};
    const auto widest = static_cast<std::size_t>(std::ceil(kWidestGap * longest)) + 1;
    // Two bytes a frame for each gap where they hold the widest (a period
    // of up to 32,000 frames: every tempo the analysis looks for).
    std::vector<std::size_t> beats = widest <= 0xFFFF ? beatsBack<std::uint16_t>(strength, periods, n, widest)
                                                      : beatsBack<std::uint32_t>(strength, periods, n, widest);
    std::reverse(beats.begin(), beats.end());
    alignSwing(beats, strength, periods);
    dropSilentEnds(beats, strength);
    return beats;
}

std::vector<std::size_t> trackBeats(const std::vector<double>& strength, const std::vector<double>& periods) {
    return trackBeatsOver(strengthOf(strength), givenPeriods(periods));
}

double beatDeviation(const std::vector<std::size_t>& beats, const PeriodCurve& periods) {
    double sum = 0.0;
    double gaps = 0.0;
    for (std::size_t i = 0; i + 1 < beats.size() && beats[i] < periods.size(); ++i) {
        const double period = periods[beats[i]];
        const double miss = std::fabs(static_cast<double>(beats[i + 1] - beats[i]) - period);
        sum += std::max(0.0, miss - kRoundingMiss) / period;
        gaps += 1.0;
    }
    return gaps > 0.0 ? sum / gaps : 1.0;
}

double beatDeviation(const std::vector<std::size_t>& beats, const std::vector<double>& periods) {
    return beatDeviation(beats, givenPeriods(periods));
}

double frameSeconds(double frame, double frameRate) { return (frame + 0.5) / frameRate; }

}  // namespace tempo::pulse
