// Tempo from beats.
//
// The precise tempo is the slope of the beats against their numbers: over
// a steady piece of 30 seconds each beat's time is off by up to half a
// frame (6 ms), but the fitted line through 60 of them is off by a few
// thousandths of a beat per minute, far finer than the 0.7 % that one
// frame's step in the periodicity curve gives at 120 BPM.
//
// The tempo changes follow the beats: a tempo is taken at every beat as the
// median of the eight gaps around it, and a run of eight beats whose tempo
// departs by more than 4 % from the tempo in force starts a new one. Four
// per cent is the tolerance within which a tempo counts as right; eight
// beats are two bars of four, long enough that a misplaced beat or a
// held note is not read as a change of tempo.

#include "pulse/tempo_changes.hpp"

#include <algorithm>
#include <cmath>

namespace tempo::pulse {
namespace {

constexpr double kTolerance = 0.04;
constexpr std::size_t kRun = 8;
// A gap further than this from a whole number of periods is a change of
// phase, not a skipped beat (which is a whole period more).
constexpr double kPhaseStep = 0.25;
// The tempo through the beats refines the period it was tracked at where
// they agree within this share: beats that follow the period well (a
// steady piece's, a click track's) agree within a few tenths of a per cent.
constexpr double kFitAgreement = 0.01;
// The line through all the beats stands while it agrees this closely with
// the median of the lines through their stretches (a steady piece's agree
// to a few hundredths of a per cent).
constexpr double kLocalAgreement = 0.003;
// Whole-number snapping: a tempo of the nearest whole number (or half)
// replaces the fitted one where forcing the line through the beats to its
// slope adds no more to their squared misses than chance would. The added
// misses over the misses' variance is a chi-squared variable of one degree
// of freedom where the whole number is the true tempo (the F test of a
// nested linear model); it exceeds 6.63 once in a hundred times, so at most
// one whole-number piece in a hundred keeps its fraction, while a tempo
// 0.3 BPM off a whole number over 30 s of beats scores in the hundreds.
constexpr double kSnapCritical = 6.63;
// Beats that miss their line by more than this (root mean square, seconds)
// are not played to a grid: a tracker's beats over a drum machine or a
// sequencer miss it by 3 to 10 ms (the frames' own rounding is 3.4 ms), a
// player's drift is several times that, and a tempo that only the wide
// misses of a drifting piece cannot tell from a whole number stays as
// measured.
constexpr double kGridMiss = 0.025;
// Misses are taken to be at least this (root mean square, seconds), the
// millisecond to which beats are written, so that beats laid exactly on
// a line do not make every other slope infinitely unlikely.
constexpr double kLeastMiss = 0.001;

double median(std::vector<double> values) {
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    double upper = values[middle];
    if (values.size() % 2 == 1) return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return 0.5 * (lower + upper);
}

bool departs(double bpm, double from) { return std::fabs(bpm - from) > kTolerance * from; }

// The tempo at each beat: 60 over the median of the gaps from kRun / 2
// before it to kRun / 2 after it (fewer at the ends).
std::vector<double> tempoAtBeats(const std::vector<double>& beats) {
    const std::size_t gaps = beats.size() - 1;
    std::vector<double> tempos(beats.size());
    const std::size_t lastStart = gaps > kRun ? gaps - kRun : 0;
    for (std::size_t i = 0; i < beats.size(); ++i) {
        const std::size_t from = std::min(i >= kRun / 2 ? i - kRun / 2 : 0, lastStart);
        const std::size_t hi = std::min(gaps, from + kRun);
        std::vector<double> around;
        for (std::size_t g = from; g < hi; ++g) around.push_back(beats[g + 1] - beats[g]);
        tempos[i] = 60.0 / median(around);
    }
    return tempos;
}

// The least-squares line through beats[from, to) against their numbers,
// one slope for all and an intercept per stretch: a new stretch starts
// where the tracker changed phase (a gap that is no whole number of
// periods), so that a step in phase does not tilt the line. Sums are taken
// about each stretch's first beat.
struct BeatLine {
    double across = 0.0;    // sum over stretches of the co-deviations of number and time
    double spread = 0.0;    // and of the squared deviations of number
    double residual = 0.0;  // the squared misses of the beats from the line, seconds squared
    std::size_t beats = 0;
    std::size_t stretches = 0;

    // Seconds per beat; 0 where it cannot tell.
    double slope() const { return spread > 0.0 && across > 0.0 ? across / spread : 0.0; }
};

BeatLine pooledLine(const std::vector<double>& beats, std::size_t from, std::size_t to, double period) {
    BeatLine line;
    double squares = 0.0;  // sum over stretches of the squared deviations of time
    std::size_t first = from;
    while (first < to) {
        double number = 0.0;
        double sumN = 0.0;
        double sumT = 0.0;
        double sumNN = 0.0;
        double sumNT = 0.0;
        double sumTT = 0.0;
        std::size_t i = first;
        for (; i < to; ++i) {
            if (i > first) {
                const double periods = (beats[i] - beats[i - 1]) / period;
                if (std::fabs(periods - std::round(periods)) > kPhaseStep) break;
                number += std::max(1.0, std::round(periods));
            }
            const double t = beats[i] - beats[first];
            sumN += number;
            sumT += t;
            sumNN += number * number;
            sumNT += number * t;
            sumTT += t * t;
        }
        const auto count = static_cast<double>(i - first);
        line.across += sumNT - sumN * sumT / count;
        line.spread += sumNN - sumN * sumN / count;
        squares += sumTT - sumT * sumT / count;
        line.beats += i - first;
        ++line.stretches;
        first = i;
    }
    if (line.spread > 0.0) line.residual = std::max(0.0, squares - line.across * line.across / line.spread);
    return line;
}

double pooledSlope(const std::vector<double>& beats, std::size_t from, std::size_t to, double period) {
    return pooledLine(beats, from, to, period).slope();
}

}  // namespace

double beatsTempo(const std::vector<double>& beats, double bpm) {
    if (beats.size() < kRun || !(bpm > 0.0)) return bpm;
    const double period = 60.0 / bpm;
    const double slope = pooledSlope(beats, 0, beats.size(), period);
    if (!(slope > 0.0)) return bpm;
    double fitted = 60.0 / slope;
    // Where the tracker drifted from the off-beats onto the beats over a
    // few gaps, no one gap shows the step, but the line through the whole
    // tilts; the median of the lines through stretches of two kRuns then
    // stands instead.
    std::vector<double> local;
    for (std::size_t from = 0; from + 2 * kRun <= beats.size(); from += kRun) {
        const double part = pooledSlope(beats, from, from + 2 * kRun, period);
        if (part > 0.0) local.push_back(60.0 / part);
    }
    if (local.size() >= 3) {
        const double typical = median(local);
        if (std::fabs(fitted - typical) > kLocalAgreement * typical) fitted = typical;
    }
    // Beats that stray further than this from the period they were tracked
    // at (a wrong metrical level, a figure the tracker half follows) wander
    // from one copy of a song to the next; they cannot refine the period.
    return std::fabs(fitted - bpm) > kFitAgreement * bpm ? bpm : fitted;
}

double snappedTempo(const std::vector<double>& beats, double bpm) {
    if (beats.size() < kRun || !(bpm > 0.0)) return bpm;
    const BeatLine line = pooledLine(beats, 0, beats.size(), 60.0 / bpm);
    const double slope = line.slope();
    if (!(slope > 0.0) || line.beats <= line.stretches + 1) return bpm;
    const double variance = std::max(line.residual / static_cast<double>(line.beats - line.stretches - 1),
                                     kLeastMiss * kLeastMiss);
    if (variance > kGridMiss * kGridMiss) return bpm;
    for (const double candidate : {std::round(bpm), 0.5 * std::round(2.0 * bpm)}) {
        const double miss = 60.0 / candidate - slope;
        if (candidate > 0.0 && line.spread * miss * miss <= kSnapCritical * variance) return candidate;
    }
    return bpm;
}

std::vector<TempoChange> tempoChanges(const std::vector<double>& beats, double bpm) {
    std::vector<TempoChange> changes;
    if (beats.size() <= kRun || !(bpm > 0.0)) return changes;
    const std::vector<double> tempos = tempoAtBeats(beats);
    double current = bpm;
    for (std::size_t i = 0; i + kRun <= tempos.size();) {
        bool run = true;
        for (std::size_t k = i; k < i + kRun && run; ++k) {
            run = departs(tempos[k], current) && (tempos[k] > current) == (tempos[i] > current);
        }
        if (!run) {
            ++i;
            continue;
        }
        current = median(std::vector<double>(tempos.begin() + static_cast<std::ptrdiff_t>(i),
                                              tempos.begin() + static_cast<std::ptrdiff_t>(i + kRun)));
        changes.push_back({beats[i], current});
        i += kRun;
    }
    return changes;
}

}  // namespace tempo::pulse
