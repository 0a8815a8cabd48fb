// Elementary functions by argument reduction and short series, in plain
// double arithmetic (see exact_math.hpp for why).

#include "pulse/exact_math.hpp"

#include <cmath>
#include <limits>

namespace tempo::pulse {
namespace {

// ln 2 split so that k * kLn2High is exact for |k| < 2^11.
constexpr double kLn2High = 0.693147180369123816490;
constexpr double kLn2Low = 1.90821492927058770002e-10;
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kHalfPi = 1.57079632679489661923;
constexpr double kSqrtHalf = 0.70710678118654752440;
// The finest division of the circle taken: 4 k stays within 64 bits.
constexpr std::uint64_t kLargestTurn = std::uint64_t{1} << 62;

// 2 atanh(s) = log((1 + s) / (1 - s)) for |s| <= 0.172: the odd series to
// s^25, whose next term is below 2^-60 of the sum.
double twiceAtanh(double s) {
    const double s2 = s * s;
    double sum = 1.0 / 25.0;
    for (int k = 23; k >= 3; k -= 2) sum = 1.0 / static_cast<double>(k) + s2 * sum;
    return 2.0 * (s + s * (s2 * sum));
}

// log(m) for m in [sqrt(1/2), sqrt(2)).
double logNearOne(double m) {
    const double f = m - 1.0;
    return twiceAtanh(f / (2.0 + f));
}

// m in [sqrt(1/2), sqrt(2)) and e with x = m * 2^e, for finite x > 0.
void split(double x, double& m, int& e) {
    m = std::frexp(x, &e);  // m in [1/2, 1): exact
    if (m < kSqrtHalf) {
        m *= 2.0;
        --e;
    }
}

// sin and cos of x in [0, pi/4], by their Taylor series to x^21 and x^20
// (the next terms are below 2^-70).
UnitPoint firstOctant(double x) {
    const double x2 = x * x;
    double s = 1.0;
    double c = 1.0;
    for (int k = 20; k >= 2; k -= 2) {
        s = 1.0 - x2 / static_cast<double>((k + 1) * k) * s;
        c = 1.0 - x2 / static_cast<double>(k * (k - 1)) * c;
    }
    return {c, x * s};
}

}  // namespace

double exactLog(double x) {
    if (std::isnan(x) || x < 0.0) return std::numeric_limits<double>::quiet_NaN();
    if (x == 0.0) return -std::numeric_limits<double>::infinity();
    if (std::isinf(x)) return x;
    double m = 0.0;
    int e = 0;
    split(x, m, e);
    const double k = static_cast<double>(e);
    return k * kLn2High + (logNearOne(m) + k * kLn2Low);
}

double exactLog2(double x) {
    // Outside the finite positives (NaN, -infinity, infinity) it is log's.
    if (!(x > 0.0) || std::isinf(x)) return exactLog(x);
    double m = 0.0;
    int e = 0;
    split(x, m, e);
    return static_cast<double>(e) + logNearOne(m) / kLn2;
}

double exactExp(double x) {
    if (std::isnan(x)) return x;
    if (x > 709.0) return std::numeric_limits<double>::infinity();
    if (x < -745.0) return 0.0;
    // x = k ln 2 + r with |r| <= ln 2 / 2, then e^r by its series to r^18.
    const double k = std::floor(x / kLn2 + 0.5);
    const double r = (x - k * kLn2High) - k * kLn2Low;
    double sum = 1.0;
    for (int n = 18; n >= 1; --n) sum = 1.0 + r / static_cast<double>(n) * sum;
    return std::ldexp(sum, static_cast<int>(k));
}

UnitPoint unitCircle(std::uint64_t k, std::uint64_t n) {
    if (n == 0 || n > kLargestTurn) return {};
    k %= n;
    // The quarter turn and the place within it, in whole numbers: the
    // angle is (pi / 2) * (q + r / n), 0 <= r < n. Past the middle of the
    // quarter, the rest of it is measured instead, with sin and cos
    // exchanged, so the series always sees at most pi / 4.
    const std::uint64_t scaled = k * 4;
    const auto q = static_cast<unsigned>(scaled / n);
    const std::uint64_t r = scaled % n;
    UnitPoint p;
    if (2 * r <= n) {
        p = firstOctant(kHalfPi * (static_cast<double>(r) / static_cast<double>(n)));
    } else {
        const UnitPoint rest = firstOctant(kHalfPi * (static_cast<double>(n - r) / static_cast<double>(n)));
        p = {rest.sin, rest.cos};
    }
    switch (q) {
        case 0: return p;
        case 1: return {-p.sin, p.cos};
        case 2: return {-p.cos, -p.sin};
        default: return {p.sin, -p.cos};
    }
}

}  // namespace tempo::pulse
