#pragma once

// The few elementary functions the accurate analysis needs, computed from
// + - * / and exact scaling by powers of two alone, so that its every value
// is the same bit for bit wherever IEEE double arithmetic runs. The C
// library's log, exp, sin and cos are not: they differ in the last bit
// between libraries, and the Windows runtime computes them on the x87
// unit, whose results are not the same on every processor. Each result is
// within a few units in the last place of the true value.

#include <cstdint>

namespace tempo::pulse {

// The natural logarithm: NaN below 0 and for NaN, -infinity at 0,
// infinity at infinity.
double exactLog(double x);

// The base-2 logarithm, exact at every power of two.
double exactLog2(double x);

// e to the power x: 0 below -745, infinity above 709.
double exactExp(double x);

// cos and sin of the angle 2 pi k / n, for 0 < n <= 2^62 ((1, 0)
// otherwise). The angle is reduced in whole numbers, so the quarter turns
// are exact: (1, 0), (0, 1), (-1, 0), (0, -1).
struct UnitPoint {
    double cos = 1.0;
    double sin = 0.0;
};
UnitPoint unitCircle(std::uint64_t k, std::uint64_t n);

}  // namespace tempo::pulse
