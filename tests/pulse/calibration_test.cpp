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

}  // namespace
}  // namespace tempo::pulse
