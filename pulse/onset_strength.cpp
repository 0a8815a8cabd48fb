// Onset strength, read where it is needed.
//
// An hour of music is 310,000 frames of 86 a second, and each curve of
// doubles over them 2.5 MB: the scaled curves (all bands, low bands, the
// bands above them) and their sum for the beat tracker were five such
// arrays beside the salient curves they are made from. Each is one scale
// away from its salient curve, so only the salient curves are kept, and a
// frame's scaled value is worked out by the same multiplication (and the
// same addition, for the sum) as when it was stored: the same bits.

#include "pulse/onset_strength.hpp"

#include <algorithm>
#include <cmath>

namespace tempo::pulse {

ScaledCurve unitScaled(const std::vector<double>& salient) {
    double squares = 0.0;
    for (double value : salient) squares += value * value;
    ScaledCurve curve;
    curve.values = &salient;
    if (!(squares > 0.0)) {
        curve.zero = true;
        return curve;
    }
    curve.scale = 1.0 / std::sqrt(squares / static_cast<double>(salient.size()));
    return curve;
}

StrengthCurve strengthOf(const std::vector<double>& values) {
    StrengthCurve curve;
    curve.first.values = &values;
    return curve;
}

StrengthCurve sumOf(const ScaledCurve& first, const ScaledCurve& second, double weight) {
    StrengthCurve curve;
    curve.first = first;
    curve.second = second;
    curve.weight = weight;
    return curve;
}

double strongestNear(const StrengthCurve& values, std::size_t frame, std::size_t reach) {
    double best = 0.0;
    const std::size_t lo = frame >= reach ? frame - reach : 0;
    for (std::size_t t = lo; t <= frame + reach && t < values.size(); ++t) best = std::max(best, values[t]);
    return best;
}

}  // namespace tempo::pulse
