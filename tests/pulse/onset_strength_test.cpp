#include "pulse/onset_strength.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tempo::pulse {
namespace {

double rootMeanSquare(const ScaledCurve& curve) {
    double squares = 0.0;
    for (std::size_t t = 0; t < curve.size(); ++t) squares += curve[t] * curve[t];
    return std::sqrt(squares / static_cast<double>(curve.size()));
}

// A curve read frame by frame is the curve over its root mean square (so
// its own is 1), the same for a quiet copy as for a loud one;
// one with no onset reads 0 throughout.
TEST(UnitScaled, ScalesToUnitRootMeanSquare) {
    std::vector<double> busy(500);
    for (std::size_t t = 0; t < busy.size(); ++t) busy[t] = (t % 7 == 0 ? 2.0 : 0.1) + 0.01 * static_cast<double>(t % 3);
    std::vector<double> quiet(busy);
    for (double& value : quiet) value *= 1e-6;
    std::vector<double> spike(300, 0.0);
    spike[123] = 0.4;
    const struct {
        const char* name;
        const std::vector<double>& values;
    } cases[] = {{"busy", busy}, {"quiet", quiet}, {"one spike", spike}};
    for (const auto& c : cases) {
        const ScaledCurve curve = unitScaled(c.values);
        ASSERT_EQ(curve.size(), c.values.size()) << c.name;
        EXPECT_NEAR(rootMeanSquare(curve), 1.0, 1e-12) << c.name;
        double squares = 0.0;
        for (double value : c.values) squares += value * value;
        const double rms = std::sqrt(squares / static_cast<double>(c.values.size()));
        for (std::size_t t = 0; t < c.values.size(); ++t) EXPECT_NEAR(curve[t], c.values[t] / rms, 1e-12) << t;
    }
    const ScaledCurve loud = unitScaled(busy);
    const ScaledCurve soft = unitScaled(quiet);
    for (std::size_t t = 0; t < busy.size(); ++t) EXPECT_NEAR(soft[t], loud[t], 1e-12) << t;
    const std::vector<double> silence(100, 0.0);
    const ScaledCurve none = unitScaled(silence);
    ASSERT_EQ(none.size(), 100U);
    for (std::size_t t = 0; t < none.size(); ++t) EXPECT_EQ(none[t], 0.0);
    const std::vector<double> empty;
    EXPECT_EQ(unitScaled(empty).size(), 0U);
}

// A sum reads first + weight * second at each frame, first alone where the
// second is shorter; a curve taken as it is reads its values bit for bit.
TEST(StrengthCurve, SumsAndReadsAsStored) {
    const std::vector<double> first = {0.5, 1.0, 0.0, 2.25, 1e-310, 3.0};
    const std::vector<double> second = {1.0, 0.5, 4.0, 0.125};
    const struct {
        double weight;
        std::vector<double> expected;
    } cases[] = {{1.0, {1.5, 1.5, 4.0, 2.375, 1e-310, 3.0}}, {0.5, {1.0, 1.25, 2.0, 2.3125, 1e-310, 3.0}}};
    for (const auto& c : cases) {
        const StrengthCurve sum = sumOf(strengthOf(first).first, strengthOf(second).first, c.weight);
        ASSERT_EQ(sum.size(), first.size());
        for (std::size_t t = 0; t < first.size(); ++t) EXPECT_EQ(sum[t], c.expected[t]) << c.weight << " at " << t;
    }
    const StrengthCurve plain = strengthOf(first);
    ASSERT_EQ(plain.size(), first.size());
    for (std::size_t t = 0; t < first.size(); ++t) EXPECT_EQ(plain[t], first[t]);
    EXPECT_EQ(StrengthCurve{}.size(), 0U);
}

// The strongest value near a frame looks `reach` frames either side and
// no further, cut short at both ends of the curve.
TEST(StrengthCurve, FindsTheStrongestNearAFrame) {
    const std::vector<double> values = {5.0, 0.0, 1.0, 0.0, 0.0, 2.0, 0.0, 3.0};
    const StrengthCurve curve = strengthOf(values);
    const struct {
        std::size_t frame;
        std::size_t reach;
        double expected;
    } cases[] = {
        {0, 0, 5.0}, {1, 0, 0.0}, {1, 1, 5.0}, {3, 1, 1.0}, {3, 2, 2.0}, {4, 2, 2.0},
        {7, 2, 3.0}, {9, 2, 3.0}, {10, 2, 0.0}, {3, 0, 0.0}, {2, 100, 5.0},
    };
    for (const auto& c : cases) EXPECT_EQ(strongestNear(curve, c.frame, c.reach), c.expected) << c.frame << " within " << c.reach;
    EXPECT_EQ(strongestNear(StrengthCurve{}, 0, 2), 0.0);
}

}  // namespace
}  // namespace tempo::pulse
