#pragma once

// The onset strength the beats are tracked and judged on, read a frame at
// a time where it is needed instead of kept as arrays of its own: a salient
// onset curve scaled to unit root mean square is the curve times one
// scale, and the beat tracker's strength is the sum of two such curves.
// Each value read is, bit for bit, what the whole array would have held.

#include <cstddef>
#include <vector>

namespace tempo::pulse {

// `values` times `scale`; every value 0 where `zero` (a curve with no
// onset at all). Reads no further than `values` holds.
struct ScaledCurve {
    const std::vector<double>* values = nullptr;  // nullptr: an empty curve
    double scale = 1.0;
    bool zero = false;

    std::size_t size() const { return values == nullptr ? 0 : values->size(); }
    double operator[](std::size_t t) const { return zero ? 0.0 : (*values)[t] * scale; }
};

// A curve, or the sum `first[t] + weight * second[t]` of two, frame by
// frame; where `second` is shorter, `first` alone. Its length is first's.
struct StrengthCurve {
    ScaledCurve first;
    ScaledCurve second;  // values nullptr: first alone
    double weight = 1.0;

    std::size_t size() const { return first.size(); }
    double operator[](std::size_t t) const {
        return t < second.size() ? first[t] + weight * second[t] : first[t];
    }
};

// `salient` (values >= 0, as salientOnsets gives them) scaled to unit root
// mean square; all 0 where its squares do not add up to more than 0. The
// curve read is the caller's: it must outlive the result.
ScaledCurve unitScaled(const std::vector<double>& salient);

// `values` as they are (a scale of 1 changes no bit).
StrengthCurve strengthOf(const std::vector<double>& values);

// `first[t] + weight * second[t]`.
StrengthCurve sumOf(const ScaledCurve& first, const ScaledCurve& second, double weight);

// The strongest value within `reach` frames of `frame`, either side (the
// curve's end cuts the span short); 0 where the span holds no frame or
// nothing above 0.
double strongestNear(const StrengthCurve& values, std::size_t frame, std::size_t reach);

}  // namespace tempo::pulse
