#include "pulse/calibration.hpp"

#include <gtest/gtest.h>

namespace tempo::pulse {
namespace {

// A probability that rises with the peak's height and with the level's
// share, and stays within 0 and 1 for any input; a drum machine's clear
// beat is likely right, a barely regular sound unlikely.
TEST(CalibratedConfidence, RisesWithTheEvidenceWithinZeroAndOne) {
    double previous = 0.0;
    for (double height = -1.5; height <= 1.5; height += 0.1) {
        const double value = calibratedConfidence(height, 0.5);
        EXPECT_GE(value, previous);
        EXPECT_GE(value, 0.0);
        EXPECT_LE(value, 1.0);
        previous = value;
    }
    previous = 0.0;
    for (double share : {-1.0, 0.0, 1e-9, 0.1, 0.3, 0.5, 0.7, 0.9, 1.0 - 1e-9, 1.0, 2.0}) {
        const double value = calibratedConfidence(0.5, share);
        EXPECT_GE(value, previous);
        previous = value;
    }
    EXPECT_GT(calibratedConfidence(0.9, 0.95), 0.85);
    EXPECT_LT(calibratedConfidence(0.1, 0.3), 0.5);
}

// With the beats' evidence: the chance rises with the share, falls as the
// beats stray from the period and where nothing recurs at 2/3, 3/4, 4/3 or
// 3/2 of it, and stays within 0 and 1. A groove whose beats keep the period
// to 1 % with sixteenths between them, clearly at its level, is likely
// right; beats that stray by 8 % with nothing between them (a subdivision
// counted as the beat) unlikely.
TEST(CalibratedConfidence, WeighsTheBeatsSteadinessAndSubdivisions) {
    const ConfidenceTerms steady{0.95, 0.01, 0.3};
    EXPECT_GT(calibratedConfidence(steady), 0.9);
    EXPECT_LT(calibratedConfidence({0.95, 0.08, 0.0}), 0.5);
    const struct {
        const char* name;
        ConfidenceTerms lower;
        ConfidenceTerms higher;
    } cases[] = {
        {"share", {0.5, 0.01, 0.3}, steady},
        {"deviation", {0.95, 0.03, 0.3}, steady},
        {"no rival", {0.95, 0.01, 0.0}, steady},
        {"a deviation of 0 kept finite", {0.95, 0.002, 0.3}, {0.95, 0.0, 0.3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_LT(calibratedConfidence(c.lower), calibratedConfidence(c.higher));
    }
    for (const ConfidenceTerms& extreme : {ConfidenceTerms{-1.0, 5.0, 0.0}, ConfidenceTerms{2.0, 0.0, 1.0}}) {
        const double value = calibratedConfidence(extreme);
        EXPECT_GE(value, 0.0);
        EXPECT_LE(value, 1.0);
    }
}

}  // namespace
}  // namespace tempo::pulse
