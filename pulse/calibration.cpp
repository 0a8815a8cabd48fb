// Confidence.
//
// Logistic calibration (Platt 1999): the chance that the tempo is right is
// a logistic function of two measures that each rise with it, the height
// of the periodicity curve at the beat (how regularly the onsets recur)
// and the log-odds of the chosen metrical level's share among the levels
// weighed (how clearly it wins over its double, half, triple or third).
// The three coefficients were fitted by maximum likelihood over the
// benchmark's songs and the tuning half of the generated grooves, where
// "right" means within 4 % of the label (bench/fit_weights.sh); the
// reliability table of bench/accuracy.sh shows how well the result holds
// on the other half.

#include "pulse/calibration.hpp"

#include <algorithm>

#include "pulse/exact_math.hpp"

namespace tempo::pulse {
namespace {

constexpr double kIntercept = -0.6566;
constexpr double kPerHeight = 2.2640;
constexpr double kPerShareLogOdds = 0.5858;
// Shares are kept this far from 0 and 1, so that their log-odds stay finite.
constexpr double kShareMargin = 1e-6;

}  // namespace

double calibratedConfidence(double height, double share) {
    const double kept = std::clamp(share, kShareMargin, 1.0 - kShareMargin);
    const double logOdds = exactLog(kept / (1.0 - kept));
    const double z = kIntercept + kPerHeight * std::clamp(height, -1.0, 1.0) + kPerShareLogOdds * logOdds;
    return 1.0 / (1.0 + exactExp(-z));
}

}  // namespace tempo::pulse
