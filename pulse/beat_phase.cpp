// Beat phase.
//
// A beat tracker that follows the onsets well may still follow the wrong
// ones: where the off-beats are as loud as the beats, or louder (a
// reggae guitar's skank, a dance track's open hi-hat and off-beat bass, a
// syncopated bass line), it finds a steady train of onsets half a period
// away from the beats a listener taps. The two phases of one period are
// told apart on two kinds of evidence:
//
// - where the onset energy falls: at the beats or halfway between them, in
//   all bands and in the low and high bands apart (Ellis 2007 and Davies
//   and Plumbley 2007 place beats on the strongest onsets; the kick and
//   the bass carry the beat in much popular music, Goto 2001);
// - how the beats differ from one to the next: a backbeat's snare or clap
//   on beats 2 and 4, a kick on 1 and 3, a drop on 3 make the beats
//   alternate strong and weak, while the off-beats between them (a hi-hat
//   on every "and") are all alike (Goto 2001's beat types).
//
// The weight of each is fitted by logistic regression (tools/fit_weights,
// bench/fit_weights.sh) over the benchmark's songs and the tuning half of
// the generated grooves, on whether the beats or the points halfway lie
// nearer the labelled beats.

#include "pulse/beat_phase.hpp"

#include <algorithm>
#include <cmath>

#include "pulse/exact_math.hpp"

namespace tempo::pulse {
namespace {

// The intercept and the weights of the terms (see PhaseTerms). Fitted by
// bench/fit_weights.sh.
constexpr double kPhaseIntercept = 0.026;
constexpr double kPhaseWeights[] = {0.813, 1.086, 0.721, 0.620, 1.366, 1.390};
// Means are kept this far above 0 so that their log stays finite where
// nothing sounds (a click track's midpoints).
constexpr double kFloor = 1e-3;
// A beat's onset is the strongest within this many frames of it (23 ms at
// 86 frames a second): the tracker's beats and the points halfway between
// them may be a frame or two off the onset itself.
constexpr std::size_t kReach = 2;

// The mean onset over `frames`, and the evenness of odd against even ones
// (weaker mean over stronger, 1 where both are 0).
struct Spread {
    double mean = 0.0;
    double evenness = 1.0;
};

Spread spreadOf(const std::vector<std::size_t>& frames, const StrengthCurve& values) {
    double sums[2] = {0.0, 0.0};
    double counts[2] = {0.0, 0.0};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        sums[i % 2] += strongestNear(values, frames[i], kReach);
        counts[i % 2] += 1.0;
    }
    Spread spread;
    if (counts[1] == 0.0) return spread;
    spread.mean = (sums[0] + sums[1]) / (counts[0] + counts[1]);
    const double a = sums[0] / counts[0];
    const double b = sums[1] / counts[1];
    if (std::max(a, b) > 0.0) spread.evenness = std::min(a, b) / std::max(a, b);
    return spread;
}

// The points exactly halfway between successive beats.
std::vector<std::size_t> midpoints(const std::vector<std::size_t>& beats) {
    std::vector<std::size_t> points;
    for (std::size_t i = 0; i + 1 < beats.size(); ++i) points.push_back((beats[i] + beats[i + 1] + 1) / 2);
    return points;
}

// The curves given as arrays (an absent one as an empty curve).
PhaseStrengths strengthsOf(const PhaseCurves& curves) {
    PhaseStrengths strengths;
    if (curves.all != nullptr) strengths.all = strengthOf(*curves.all);
    if (curves.low != nullptr) strengths.low = strengthOf(*curves.low);
    if (curves.high != nullptr) strengths.high = strengthOf(*curves.high);
    return strengths;
}

}  // namespace

PhaseTerms phaseTermsOf(const std::vector<std::size_t>& beats, const PhaseStrengths& curves) {
    PhaseTerms terms{};
    if (beats.size() < 4) return terms;
    // The beats between the first and the last, so that both sets cover
    // the same stretch.
    const std::vector<std::size_t> on(beats.begin() + 1, beats.end() - 1);
    const std::vector<std::size_t> off = midpoints(beats);
    const StrengthCurve* bands[] = {&curves.all, &curves.low, &curves.high};
    for (std::size_t k = 0; k < 3; ++k) {
        const Spread atBeats = spreadOf(on, *bands[k]);
        const Spread halfway = spreadOf(off, *bands[k]);
        terms[k] = exactLog(std::max(halfway.mean, kFloor) / std::max(atBeats.mean, kFloor));
        terms[3 + k] = atBeats.evenness - halfway.evenness;
    }
    return terms;
}

PhaseTerms phaseTerms(const std::vector<std::size_t>& beats, const PhaseCurves& curves) {
    return phaseTermsOf(beats, strengthsOf(curves));
}

double offBeatChance(const PhaseTerms& terms) {
    double z = kPhaseIntercept;
    for (std::size_t k = 0; k < terms.size(); ++k) z += kPhaseWeights[k] * terms[k];
    return 1.0 / (1.0 + exactExp(-z));
}

std::vector<std::size_t> halfwayBeats(const std::vector<std::size_t>& beats, const StrengthCurve& strength) {
    if (beats.size() < 2 || strength.size() == 0) return {};
    std::vector<std::size_t> points;
    const std::size_t firstGap = beats[1] - beats[0];
    if (beats[0] >= (firstGap + 1) / 2) points.push_back(beats[0] - (firstGap + 1) / 2);
    for (std::size_t point : midpoints(beats)) points.push_back(point);
    const std::size_t lastGap = beats.back() - beats[beats.size() - 2];
    if (beats.back() + lastGap / 2 < strength.size()) points.push_back(beats.back() + lastGap / 2);
    for (std::size_t& point : points) {
        std::size_t best = point;
        for (std::size_t t = point > 0 ? point - 1 : 0; t <= point + 1 && t < strength.size(); ++t) {
            if (strength[t] > strength[best]) best = t;
        }
        point = best;
    }
    return points;
}

std::vector<std::size_t> halfwayBeats(const std::vector<std::size_t>& beats, const std::vector<double>& strength) {
    return halfwayBeats(beats, strengthOf(strength));
}

std::vector<std::size_t> choosePhase(const std::vector<std::size_t>& beats, const PhaseStrengths& curves,
                                     const StrengthCurve& strength) {
    if (offBeatChance(phaseTermsOf(beats, curves)) > 0.5) return halfwayBeats(beats, strength);
    return beats;
}

std::vector<std::size_t> choosePhase(const std::vector<std::size_t>& beats, const PhaseCurves& curves,
                                     const std::vector<double>& strength) {
    return choosePhase(beats, strengthsOf(curves), strengthOf(strength));
}

}  // namespace tempo::pulse
