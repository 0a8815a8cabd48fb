// Confidence.
//
// Logistic calibration (Platt 1999): the chance that the tempo is right is
// a logistic function of measures of the evidence for it:
//
// - the log-odds of the chosen metrical level's share among the levels
//   weighed (how clearly it wins over its double, half, triple or third);
// - the log of the beats' mean deviation from the local period: beats
//   tracked at the level a piece is played in fall on its onsets, one
//   period apart, while beats at twice that tempo must also find the
//   weaker off-beats, and beats at 3/4 or 4/3 of it fall between its notes,
//   and both wander (Davies and Plumbley 2007 and Ellis 2007 judge a
//   tracker by how well its beats keep the period);
// - whether anything recurs at 2/3, 3/4, 4/3 or 3/2 of the period (the
//   periodicity curve above 0 at one of them): at the beat a listener
//   taps, the eighths or triplets that divide it recur there; a level
//   that is itself the fastest pulse (a groove counted at twice its tempo)
//   has nothing there, and is less likely right.
//
// The coefficients were fitted by maximum likelihood over the benchmark's
// songs, the beatgen clips and the tuning half of the generated grooves,
// each file counted once, where "right" means within 4 % of the label
// (bench/fit_weights.sh); the reliability table of bench/accuracy.sh shows
// how well the result holds on the other half. The height of the
// periodicity curve at the beat adds nothing to these three there (its
// weight comes out small and below 0), and is left out. Where no beats
// were tracked, an older calibration on that height and the share alone
// gives the chance.

#include "pulse/calibration.hpp"

#include <algorithm>
#include <iterator>

#include "pulse/exact_math.hpp"

namespace tempo::pulse {
namespace {

// The calibration with the beats: intercept, then per share log-odds, per
// log deviation and for no rival. Fitted by bench/fit_weights.sh.
constexpr double kBeatsIntercept = -5.227;
constexpr double kBeatsWeights[] = {0.722, -1.249, -0.420};
// Deviations are kept above this (a thousandth of a period, a tenth of a
// frame at 120 BPM), so that their log stays finite for beats that keep
// the period exactly.
constexpr double kLeastDeviation = 1e-3;

// The calibration on the periodicity alone.
constexpr double kIntercept = -0.1242;
constexpr double kPerHeight = 1.5728;
constexpr double kPerShareLogOdds = 0.6113;
// Shares are kept this far from 0 and 1, so that their log-odds stay finite.
constexpr double kShareMargin = 1e-6;

double shareLogOdds(double share) {
    const double kept = std::clamp(share, kShareMargin, 1.0 - kShareMargin);
    return exactLog(kept / (1.0 - kept));
}

}  // namespace

double calibratedConfidence(const ConfidenceTerms& terms) {
    const double values[] = {shareLogOdds(terms.share), exactLog(std::max(terms.deviation, kLeastDeviation)),
                             terms.rival > 0.0 ? 0.0 : 1.0};
    double z = kBeatsIntercept;
    for (std::size_t k = 0; k < std::size(values); ++k) z += kBeatsWeights[k] * values[k];
    return 1.0 / (1.0 + exactExp(-z));
}

double calibratedConfidence(double height, double share) {
    const double logOdds = shareLogOdds(share);
    const double z = kIntercept + kPerHeight * std::clamp(height, -1.0, 1.0) + kPerShareLogOdds * logOdds;
    return 1.0 / (1.0 + exactExp(-z));
}

}  // namespace tempo::pulse
