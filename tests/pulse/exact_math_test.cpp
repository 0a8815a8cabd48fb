#include "pulse/exact_math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace tempo::pulse {
namespace {

// How many doubles lie between a and b (0: the same bits).
std::int64_t ulpsApart(double a, double b) {
    std::int64_t ia = 0;
    std::int64_t ib = 0;
    std::memcpy(&ia, &a, sizeof a);
    std::memcpy(&ib, &b, sizeof b);
    if (ia < 0) ia = std::numeric_limits<std::int64_t>::min() - ia;
    if (ib < 0) ib = std::numeric_limits<std::int64_t>::min() - ib;
    return ia > ib ? ia - ib : ib - ia;
}

// Within a few units in the last place of the C library's value, over the
// ranges the analysis uses and well beyond.
TEST(ExactMath, AgreesWithTheCLibraryToTheLastBits) {
    constexpr std::int64_t kUlps = 4;
    for (double x = 1e-300; x < 1e300; x *= 1.37) {
        SCOPED_TRACE(x);
        EXPECT_LE(ulpsApart(exactLog(x), std::log(x)), kUlps);
        EXPECT_LE(ulpsApart(exactLog2(x), std::log2(x)), kUlps);
    }
    for (double x = 1.0; x < 1e7; x = x * 1.01 + 0.37) {
        SCOPED_TRACE(x);
        // Near 1 the logarithm is near 0: compare there in absolute terms.
        EXPECT_NEAR(exactLog(x), std::log(x), 4e-16 * std::max(1.0, std::fabs(std::log(x))));
    }
    for (double x = -744.0; x < 709.0; x += 0.731) {
        SCOPED_TRACE(x);
        EXPECT_LE(ulpsApart(exactExp(x), std::exp(x)), kUlps);
    }
    const double twoPi = 6.283185307179586;
    for (std::uint64_t n : {1U, 3U, 8U, 512U, 1000U, 1024U}) {
        for (std::uint64_t k = 0; k < 2 * n; ++k) {
            SCOPED_TRACE(std::to_string(k) + "/" + std::to_string(n));
            const UnitPoint p = unitCircle(k, n);
            const double angle = twoPi * static_cast<double>(k % n) / static_cast<double>(n);
            EXPECT_NEAR(p.cos, std::cos(angle), 1e-15);
            EXPECT_NEAR(p.sin, std::sin(angle), 1e-15);
        }
    }
}

// The values that must be exact, and the edges.
TEST(ExactMath, KeepsExactValuesAndEdges) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(exactLog(1.0), 0.0);
    EXPECT_EQ(exactExp(0.0), 1.0);
    for (int e = -1074; e <= 1023; ++e) ASSERT_EQ(exactLog2(std::ldexp(1.0, e)), static_cast<double>(e)) << e;
    EXPECT_EQ(exactLog(0.0), -inf);
    EXPECT_EQ(exactLog(inf), inf);
    EXPECT_TRUE(std::isnan(exactLog(-1.0)));
    EXPECT_TRUE(std::isnan(exactLog2(std::nan(""))));
    EXPECT_EQ(exactExp(-inf), 0.0);
    EXPECT_EQ(exactExp(710.0), inf);
    EXPECT_TRUE(std::isnan(exactExp(std::nan(""))));
    const struct {
        std::uint64_t k, n;
        double cos, sin;
    } turns[] = {
        {0, 4, 1.0, 0.0},    {1, 4, 0.0, 1.0},   {2, 4, -1.0, 0.0},  {3, 4, 0.0, -1.0},
        {128, 512, 0.0, 1.0}, {256, 512, -1.0, 0.0}, {1792, 512, -1.0, 0.0}, {5, 0, 1.0, 0.0},
    };
    for (const auto& t : turns) {
        SCOPED_TRACE(std::to_string(t.k) + "/" + std::to_string(t.n));
        const UnitPoint p = unitCircle(t.k, t.n);
        EXPECT_EQ(p.cos, t.cos);
        EXPECT_EQ(p.sin, t.sin);
    }
}

// The same bits on every platform: these were computed on Linux, and the
// Windows build, tested under wine, must give them too.
TEST(ExactMath, GivesTheSameBitsEverywhere) {
    const struct {
        const char* what;
        double value;
        double expected;
    } cases[] = {
        {"log 10", exactLog(10.0), 0x1.26bb1bbb55516p+1},
        {"log of a band level", exactLog(1.0 + 1e6 * 0.37), 0x1.9a47c51f40915p+3},
        {"log2 1/3", exactLog2(1.0 / 3.0), -0x1.95c01a39fbd68p+0},
        {"a prior", exactExp(-0.5 * 0.7 * 0.7), 0x1.90bea6345bf54p-1},
        {"exp -3.3", exactExp(-3.3), 0x1.2e259bb85be84p-5},
        {"cos 37/512", unitCircle(37, 512).cos, 0x1.cc1f0f3fcfc5cp-1},
        {"sin 37/512", unitCircle(37, 512).sin, 0x1.c1249d8011ee7p-2},
        {"cos 1/1024", unitCircle(1, 1024).cos, 0x1.fffd8858e8a92p-1},
        {"sin 1/1024", unitCircle(1, 1024).sin, 0x1.921f0fe670071p-8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ulpsApart(c.value, c.expected), 0);
    }
}

}  // namespace
}  // namespace tempo::pulse
