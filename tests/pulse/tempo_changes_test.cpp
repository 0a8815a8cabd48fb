#include "pulse/tempo_changes.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tempo::pulse {
namespace {

// Beats from `from` to `to` BPM over `count` beats (a straight line in
// tempo), each off its place by up to `jitter` seconds.
std::vector<double> beats(double from, double to, int count, double jitter = 0.0) {
    std::vector<double> times;
    double at = 0.5;
    std::uint32_t state = 11;
    for (int i = 0; i < count; ++i) {
        state = state * 1664525U + 1013904223U;
        times.push_back(at + jitter * (static_cast<double>(state >> 8U) / 8388608.0 - 1.0));
        at += 60.0 / (from + (to - from) * i / std::max(1, count - 1));
    }
    return times;
}

// The fitted tempo is far finer than one beat's jitter, a skipped beat
// keeps the others' numbers, and too few beats or beats far from the given
// tempo leave it as it was.
TEST(BeatsTempo, FitsALineThroughTheBeats) {
    std::vector<double> skipped = beats(127.3, 127.3, 60, 0.006);
    skipped.erase(skipped.begin() + 30);
    const struct {
        const char* name;
        std::vector<double> times;
        double given, expected, tolerance;
    } cases[] = {{"jittered", beats(93.75, 93.75, 50, 0.006), 94.5, 93.75, 0.03},
                 {"a beat skipped", skipped, 127.0, 127.3, 0.03},
                 {"seven beats", beats(100.0, 100.0, 7), 101.0, 101.0, 0.0},
                 {"another tempo", beats(150.0, 150.0, 40), 120.0, 120.0, 0.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(beatsTempo(c.times, c.given), c.expected, c.tolerance);
    }
}

// Steady beats, jittered or with one misplaced, change nothing; a ramp
// climbs in steps above 4 %; a switch gives one change where it happens.
TEST(TempoChanges, FollowTheBeats) {
    std::vector<double> misplaced = beats(120.0, 120.0, 80, 0.01);
    misplaced[40] += 0.2;
    EXPECT_TRUE(tempoChanges(beats(120.0, 120.0, 80, 0.015), 120.0).empty());
    EXPECT_TRUE(tempoChanges(misplaced, 120.0).empty());
    EXPECT_TRUE(tempoChanges(beats(120.0, 120.0, 8), 140.0).empty());

    // Each step's tempo is that of the ramp where it starts (the median of
    // the next eight beats' tempos), and the last lies within one step of
    // the ramp's end.
    const std::vector<double> ramping = beats(100.0, 130.0, 80);
    const std::vector<TempoChange> ramp = tempoChanges(ramping, 115.0);
    ASSERT_GE(ramp.size(), 4U);
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        std::size_t beat = 0;
        while (ramping[beat] < ramp[i].at) ++beat;
        EXPECT_NEAR(ramp[i].bpm, 100.0 + 30.0 * (static_cast<double>(beat) + 4.0) / 79.0, 1.5);
        if (i > 0) {
            EXPECT_GT(ramp[i].bpm, 1.04 * ramp[i - 1].bpm);
        }
    }
    EXPECT_NEAR(ramp.front().bpm, 102.0, 2.0);
    EXPECT_GT(ramp.back().bpm, 130.0 / 1.08);

    std::vector<double> two = beats(100.0, 100.0, 40);
    const double switchAt = two.back() + 60.0 / 100.0;
    for (double at : beats(130.0, 130.0, 40)) two.push_back(switchAt + at - 0.5);
    const std::vector<TempoChange> switched = tempoChanges(two, 100.0);
    ASSERT_EQ(switched.size(), 1U);
    EXPECT_NEAR(switched[0].bpm, 130.0, 1.0);
    EXPECT_NEAR(switched[0].at, two[40], 60.0 / 100.0 * 4.0);
}

// Beats laid on whole frames of 11.6 ms, as the tracker gives them, at a
// whole or half tempo come back as exactly that; a tempo 0.3 or 0.25 BPM
// off a whole number stays as measured; a drifting player's beats (30 ms
// misses) and too few beats keep their fraction however near a whole
// number it lies.
TEST(SnappedTempo, TakesTheWholeNumberWhereTheBeatsFitIt) {
    const auto onFrames = [](double bpm, int count) {
        std::vector<double> times = beats(bpm, bpm, count);
        for (double& t : times) t = (std::floor(t * 86.1328125) + 0.5) / 86.1328125;
        return times;
    };
    const struct {
        const char* name;
        std::vector<double> times;
        double measured, expected;
    } cases[] = {{"170 on frames", onFrames(170.0, 85), 169.96, 170.0},
                 {"128 on frames", onFrames(128.0, 64), 128.03, 128.0},
                 {"96 with a 6 ms jitter", beats(96.0, 96.0, 48, 0.006), 95.98, 96.0},
                 {"127.5 on frames", onFrames(127.5, 64), 127.47, 127.5},
                 {"127.3 on frames", onFrames(127.3, 64), 127.3, 127.3},
                 {"93.75 on frames", onFrames(93.75, 47), 93.75, 93.75},
                 {"120.2 drifting by 30 ms", beats(120.2, 120.2, 60, 0.052), 120.2, 120.2},
                 {"seven beats", onFrames(120.0, 7), 120.04, 120.04}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(snappedTempo(c.times, c.measured), c.expected);
    }
}

}  // namespace
}  // namespace tempo::pulse
