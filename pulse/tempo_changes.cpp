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

}  // namespace

double beatsTempo(const std::vector<double>& beats, double bpm) {
    if (beats.size() < kRun || !(bpm > 0.0)) return bpm;
    const double period = 60.0 / bpm;
    // Sums for the least-squares line time = a + slope * number, about the
    // first beat, so that the sums stay small.
    double number = 0.0;
    double sumN = 0.0;
    double sumT = 0.0;
    double sumNN = 0.0;
    double sumNT = 0.0;
    for (std::size_t i = 0; i < beats.size(); ++i) {
        if (i > 0) number += std::max(1.0, std::round((beats[i] - beats[i - 1]) / period));
        const double t = beats[i] - beats[0];
        sumN += number;
        sumT += t;
        sumNN += number * number;
        sumNT += number * t;
    }
    const auto count = static_cast<double>(beats.size());
    const double spread = sumNN - sumN * sumN / count;
    if (!(spread > 0.0)) return bpm;
    const double slope = (sumNT - sumN * sumT / count) / spread;
    if (!(slope > 0.0)) return bpm;
    const double fitted = 60.0 / slope;
    return departs(fitted, bpm) ? bpm : fitted;
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
