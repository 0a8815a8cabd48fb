#include "pulse/loop.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pulse/analysis.hpp"
#include "pulse/onset_curve.hpp"
#include "tests/support/pulse_reading.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::pulse {
namespace {

using testing::Hit;

using testing::pulseReadingOf;

// `bars` bars of `metre` beats at `bpm`, cut to their length: a kick on
// each bar's first beat, a snare on the others, a hi-hat on every eighth.
std::vector<Hit> loopOf(double bpm, int metre, int bars) {
    std::vector<Hit> hits;
    const double beat = 60.0 / bpm;
    for (int b = 0; b < metre * bars; ++b) {
        hits.push_back({beat * b, b % metre == 0, 1.0});
        hits.push_back({beat * b, false, 0.3});
        hits.push_back({beat * (b + 0.5), false, 0.3});
    }
    return hits;
}

// Loops of one and two bars, in four and in three, get the tempo their
// length and beats give, exactly, with their beats from the start and a
// bar on every `metre` of them.
TEST(ReadLoop, TakesTheTempoFromTheLengthOfALoop) {
    const struct {
        double bpm;
        int metre, bars;
    } cases[] = {{120.0, 4, 1}, {140.0, 4, 2}, {100.0, 3, 1}, {174.0, 4, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bpm) + " BPM, " + std::to_string(c.bars) + " bars of " + std::to_string(c.metre));
        const double seconds = 60.0 / c.bpm * c.metre * c.bars;
        const PulseReading reading = pulseReadingOf(loopOf(c.bpm, c.metre, c.bars), seconds);
        ASSERT_TRUE(reading.found);
        EXPECT_NEAR(reading.bpm, c.bpm, 0.01);
        EXPECT_GT(reading.confidence, 0.5);
        ASSERT_EQ(reading.beats.size(), static_cast<std::size_t>(c.metre * c.bars));
        EXPECT_NEAR(reading.beats.front(), 0.0, 0.05);
        EXPECT_EQ(reading.metre, c.metre);
        EXPECT_EQ(reading.downbeats.size(), static_cast<std::size_t>(c.bars));
    }
}

// A single sound, a pair of them, and a loop longer than 8 s or shorter
// than 1 s read as no loop.
TEST(ReadLoop, FindsNoLoopWithoutOne) {
    EXPECT_FALSE(pulseReadingOf({{0.0, true, 1.0}}, 1.5).found);
    EXPECT_FALSE(pulseReadingOf({{0.1, true, 1.0}, {0.9, false, 1.0}}, 2.0).found);
    const std::vector<double> salient(900, 0.0);
    EXPECT_FALSE(readLoop(salient, 86.0, 10.0).found);
    EXPECT_FALSE(readLoop(salient, 86.0, 0.8).found);
}

}  // namespace
}  // namespace tempo::pulse
