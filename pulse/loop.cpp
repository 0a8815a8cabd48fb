// Loops.
//
// A loop from a sample library is cut to a whole number of bars, so its
// length alone fixes its tempo once the number of beats is known: one,
// two or four bars of three or four beats. Too short for the periodicity
// (a few periods of the slowest beat need more than a few seconds), it is
// read instead by laying each such grid over it from the start and seeing
// how well it meets the onsets, in the manner of the grid templates of
// Dixon (2001) and of rhythm matching against the bar length:
//
// - precision: the share of the grid's points with an onset on them (a
//   grid too fine puts points where nothing sounds);
// - recall: the share of the onsets' strength that falls on the grid (a
//   grid too coarse leaves the snare or the off-beats between its points);
// - the preferred tempo of listeners, a log-normal one octave wide about
//   120 BPM (as for the metrical level), between a grid and its double
//   where both meet every onset.
//
// The grid whose product of the three is highest is the loop's; where
// even it meets the onsets poorly (a single sound, noise), there is no
// tempo. Its confidence is that grid's share of the products of all
// grids weighed, times its precision: not fitted like the confidence of a
// longer piece, but low where another grid nearly as good lies at another
// tempo, or where the grid misses onsets. Its tempo is taken to the whole
// number (or half) where the length cannot tell them apart.

#include "pulse/loop.hpp"

#include <algorithm>
#include <cmath>

#include "pulse/exact_math.hpp"

namespace tempo::pulse {
namespace {

// The tempos a loop may have.
constexpr double kSlowestBpm = 60.0;
constexpr double kFastestBpm = 200.0;
constexpr double kPreferredBpm = 120.0;
// The bars of a loop, and the beats to a bar.
constexpr std::size_t kBarCounts[] = {1, 2, 4};
constexpr int kBeatsPerBar[] = {3, 4};
// Onsets are the local peaks of the salient curve above this share of its
// highest (the smaller ones are a sound's own flutter).
constexpr double kPeakShare = 0.1;
// A grid point meets an onset within this many frames (23 ms at 86 frames
// a second: a player's or a quantiser's slack, and the frame's rounding).
constexpr double kReach = 2.0;
// An attack shows in the onset curve up to this many frames after it
// sounds (the window's taper and the note's own rise): the grid is laid
// at every lag up to it, and the best taken.
constexpr double kLatest = 4.0;
// The least onsets for a rhythm, and the least precision and recall of
// the grid chosen: three in four of its points sound, and half the onsets'
// strength falls on it.
constexpr std::size_t kLeastOnsets = 3;
constexpr double kLeastPrecision = 0.75;
constexpr double kLeastRecall = 0.4;
// A loop's length is known to the analysis sample (0.09 ms), and a loop
// may have been cut to the millisecond: a whole (or half) tempo whose
// beats last the loop's length within this many seconds is as good an
// account of it as the length itself, and is reported instead (a loop of
// a bar at 174 BPM, 1.3793 s, cut to 1.379 s reads 174.04 by its length).
constexpr double kLengthSlack = 0.001;

// The nearest whole tempo, else half, whose `beats` last `seconds` within
// kLengthSlack; `bpm` where neither does.
double wholeTempo(double bpm, std::size_t beats, double seconds) {
    for (const double candidate : {std::round(bpm), 0.5 * std::round(2.0 * bpm)}) {
        if (std::fabs(60.0 * static_cast<double>(beats) / candidate - seconds) <= kLengthSlack) return candidate;
    }
    return bpm;
}

struct Onset {
    double frame;
    double height;
};

// The local peaks of `salient` above kPeakShare of its highest.
std::vector<Onset> onsetsOf(const std::vector<double>& salient) {
    double highest = 0.0;
    for (double value : salient) highest = std::max(highest, value);
    std::vector<Onset> onsets;
    for (std::size_t t = 1; t + 1 < salient.size(); ++t) {
        if (!(salient[t] > salient[t - 1]) || salient[t] < salient[t + 1]) continue;
        if (salient[t] >= kPeakShare * highest && salient[t] > 0.0) onsets.push_back({static_cast<double>(t), salient[t]});
    }
    return onsets;
}

struct GridFit {
    double precision = 0.0;
    double recall = 0.0;
    double lag = 0.0;  // frames: how late the onsets come after the grid's points
};

// How well a grid of `beats` points over `seconds`, `lag` frames late,
// meets the onsets.
GridFit fitOf(const std::vector<Onset>& onsets, std::size_t beats, double seconds, double frameRate, double lag) {
    const double step = seconds / static_cast<double>(beats) * frameRate;
    GridFit fit;
    fit.lag = lag;
    double total = 0.0;
    double met = 0.0;
    for (const Onset& onset : onsets) {
        const double k = std::round((onset.frame + 0.5 - lag) / step);
        total += onset.height;
        if (std::fabs(k * step - 0.5 + lag - onset.frame) <= kReach) met += onset.height;
    }
    double sounding = 0.0;
    for (std::size_t k = 0; k < beats; ++k) {
        const double point = static_cast<double>(k) * step - 0.5 + lag;
        for (const Onset& onset : onsets) {
            if (std::fabs(onset.frame - point) <= kReach) {
                sounding += 1.0;
                break;
            }
        }
    }
    fit.precision = sounding / static_cast<double>(beats);
    fit.recall = total > 0.0 ? met / total : 0.0;
    return fit;
}

// The best fit of the grid at any lag up to kLatest frames, in half
// frames.
GridFit bestFitOf(const std::vector<Onset>& onsets, std::size_t beats, double seconds, double frameRate) {
    GridFit best;
    for (double lag = 0.0; lag <= kLatest; lag += 0.5) {
        const GridFit fit = fitOf(onsets, beats, seconds, frameRate, lag);
        if (fit.precision * fit.recall > best.precision * best.recall) best = fit;
    }
    return best;
}

}  // namespace

LoopReading readLoop(const std::vector<double>& salient, double frameRate, double seconds) {
    LoopReading loop;
    if (!(frameRate > 0.0) || !(seconds >= kShortestLoop) || seconds > kLongestLoop) return loop;
    const std::vector<Onset> onsets = onsetsOf(salient);
    if (onsets.size() < kLeastOnsets) return loop;
    double total = 0.0;
    double best = 0.0;
    GridFit bestFit;
    for (int metre : kBeatsPerBar) {
        for (std::size_t bars : kBarCounts) {
            const std::size_t beats = bars * static_cast<std::size_t>(metre);
            const double bpm = 60.0 * static_cast<double>(beats) / seconds;
            if (bpm < kSlowestBpm || bpm > kFastestBpm) continue;
            const GridFit fit = bestFitOf(onsets, beats, seconds, frameRate);
            const double octaves = exactLog2(bpm / kPreferredBpm);
            const double score = fit.precision * fit.recall * exactExp(-0.5 * octaves * octaves);
            total += score;
            if (score > best) {
                best = score;
                bestFit = fit;
                loop.bpm = bpm;
                loop.beats = beats;
                loop.metre = metre;
                loop.first = (fit.lag) / frameRate;
            }
        }
    }
    if (!(best > 0.0)) return LoopReading{};
    loop.confidence = best / total * bestFit.precision;
    loop.bpm = wholeTempo(loop.bpm, loop.beats, seconds);
    loop.found = bestFit.precision >= kLeastPrecision && bestFit.recall >= kLeastRecall;
    if (!loop.found) {
        loop = LoopReading{};
        loop.confidence = 0.0;
    }
    return loop;
}

}  // namespace tempo::pulse
