#include "pulse/beat_tracker.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tempo::pulse {
namespace {

constexpr double kFrameRate = 11025.0 / 128.0;

// A curve of `seconds` with a pulse of `strength` (spread over three
// frames) at every `times` entry.
std::vector<double> pulsesAt(const std::vector<double>& times, double seconds, double strength = 1.0) {
    std::vector<double> curve(static_cast<std::size_t>(seconds * kFrameRate), 0.0);
    for (double at : times) {
        const auto frame = static_cast<std::size_t>(std::lround(at * kFrameRate));
        if (frame + 1 >= curve.size()) continue;
        curve[frame] += strength;
        curve[frame + 1] += 0.5 * strength;
        if (frame > 0) curve[frame - 1] += 0.25 * strength;
    }
    return curve;
}

std::vector<double> steady(double bpm, double phase, double seconds) {
    std::vector<double> times;
    for (double at = phase; at < seconds; at += 60.0 / bpm) times.push_back(at);
    return times;
}

// Each found beat within two frames of a true one, and as many of them
// but for one at either end.
void expectOnTheBeats(const std::vector<std::size_t>& found, const std::vector<double>& times) {
    ASSERT_NEAR(static_cast<double>(found.size()), static_cast<double>(times.size()), 2.0);
    for (std::size_t frame : found) {
        double nearest = 1e9;
        for (double at : times) nearest = std::min(nearest, std::fabs(at * kFrameRate - static_cast<double>(frame)));
        EXPECT_LE(nearest, 2.0) << "frame " << frame;
    }
}

// Beats at any tempo and phase, with quieter off-beats between them, are
// found on the beats; a swing's louder off-beat two thirds of the way on
// does not pull them off.
TEST(TrackBeats, FindsTheBeatsAtAnyTempoAndPhase) {
    const struct {
        double bpm;
        double phase;
        double offBeat;  // where the off-beat falls, as a share of the beat
        double offStrength;
    } cases[] = {{61.0, 0.3, 0.5, 0.3}, {97.3, 0.05, 0.5, 0.5}, {128.0, 0.21, 0.5, 0.2},
                 {176.5, 0.1, 0.5, 0.0}, {110.0, 0.4, 2.0 / 3.0, 1.3}, {84.0, 0.0, 2.0 / 3.0, 1.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bpm) + " BPM, off-beat at " + std::to_string(c.offBeat));
        const std::vector<double> beats = steady(c.bpm, c.phase, 30.0);
        std::vector<double> curve = pulsesAt(beats, 30.0);
        std::vector<double> offBeats;
        for (double at : beats) offBeats.push_back(at + c.offBeat * 60.0 / c.bpm);
        const std::vector<double> off = pulsesAt(offBeats, 30.0, c.offStrength);
        for (std::size_t t = 0; t < curve.size(); ++t) curve[t] += off[t];
        const double period = kFrameRate * 60.0 / c.bpm;
        expectOnTheBeats(trackBeats(curve, std::vector<double>(curve.size(), period)), beats);
    }
}

// The local period follows a ramp and a switch of tempo, and stays put on a
// steady tempo and through a silent break. Where the piece moves from
// beats at 120 BPM to even eighth notes at 150, the eighths recur at the
// new beat (two of them) and at a beat and a half (three) alike, and the
// period of three lies nearer the old one; the beat is the one whose half
// recurs too.
TEST(LocalPeriods, FollowRampsAndSwitchesAndHoldOtherwise) {
    std::vector<double> ramp;
    for (double at = 0.1; at < 40.0; at += 60.0 / (100.0 + 30.0 * at / 40.0)) ramp.push_back(at);
    std::vector<double> two = steady(100.0, 0.1, 20.0);
    for (double at : steady(130.0, 20.3, 40.0)) two.push_back(at);
    std::vector<double> withBreak = steady(120.0, 0.0, 15.0);
    for (double at : steady(120.0, 25.0, 40.0)) withBreak.push_back(at);
    std::vector<double> toEighths = steady(120.0, 0.1, 20.0);
    for (double at : steady(300.0, 20.1, 40.0)) toEighths.push_back(at);
    const struct {
        const char* name;
        const std::vector<double>& times;
        double startBpm, endBpm;
    } cases[] = {{"ramp", ramp, 100.0, 130.0},
                 {"switch", two, 100.0, 130.0},
                 {"break", withBreak, 120.0, 120.0},
                 {"beats at 120, then eighths at 150", toEighths, 120.0, 150.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> curve = pulsesAt(c.times, 40.0);
        const std::vector<double> periods = localPeriods(curve, kFrameRate, kFrameRate * 60.0 / 115.0);
        ASSERT_EQ(periods.size(), curve.size());
        EXPECT_NEAR(60.0 * kFrameRate / periods[static_cast<std::size_t>(5 * kFrameRate)], c.startBpm, 0.05 * c.startBpm);
        EXPECT_NEAR(60.0 * kFrameRate / periods[static_cast<std::size_t>(36 * kFrameRate)], c.endBpm, 0.05 * c.endBpm);
    }
}

// Nothing to track: an empty curve, periods under two frames; a curve too
// short for one window keeps the piece's period.
TEST(TrackBeats, GivesNothingForNothing) {
    EXPECT_TRUE(trackBeats({}, {}).empty());
    EXPECT_TRUE(trackBeats(std::vector<double>(100, 1.0), std::vector<double>(100, 1.5)).empty());
    const std::vector<double> brief = localPeriods(std::vector<double>(200, 0.0), kFrameRate, 40.0);
    EXPECT_EQ(brief, std::vector<double>(200, 40.0));
    EXPECT_DOUBLE_EQ(frameSeconds(0.0, 100.0), 0.005);
}

// The beats' deviation from the local period: 0 for beats within half a
// frame of a period apart, otherwise the mean share by which each gap
// strays beyond that half frame, 1 for too few beats.
TEST(BeatDeviation, MeasuresHowFarTheGapsStray) {
    const std::vector<double> steadyPeriods(200, 40.0);
    const std::vector<double> longerPeriods(200, 40.5);
    std::vector<double> ramp(200);
    for (std::size_t t = 0; t < ramp.size(); ++t) ramp[t] = 40.0 + 0.1 * static_cast<double>(t);
    const struct {
        const char* name;
        std::vector<std::size_t> beats;
        const std::vector<double>& periods;
        double deviation;
    } cases[] = {
        {"a period apart", {10, 50, 90, 130}, steadyPeriods, 0.0},
        {"each gap 10 % off", {10, 54, 90, 134}, steadyPeriods, 3.5 / 40.0},
        {"half a frame off", {10, 50, 90}, longerPeriods, 0.0},
        {"a skipped beat", {10, 50, 130}, steadyPeriods, 19.75 / 40.0},
        {"a ramp followed", {0, 40, 84}, ramp, 0.0},
        {"one beat", {10}, steadyPeriods, 1.0},
        {"no beat", {}, steadyPeriods, 1.0},
    };
    for (const auto& c : cases) EXPECT_NEAR(beatDeviation(c.beats, c.periods), c.deviation, 1e-12) << c.name;
}

// The periods read frame by frame: each window's lag at its centre, a
// straight line between centres, the nearest window's lag beyond the ends;
// a steady period everywhere the same.
TEST(PeriodCurve, JoinsTheWindowsLagsByStraightLines) {
    PeriodCurve windows;
    windows.frames = 700;
    windows.lags = {40.0, 50.0, 44.0};
    windows.centres = {100.0, 300.0, 500.0};
    const struct {
        std::size_t frame;
        double period;
    } cases[] = {{0, 40.0},   {99, 40.0},  {100, 40.0}, {101, 40.05}, {200, 45.0}, {299, 49.95},
                 {300, 50.0}, {400, 47.0}, {500, 44.0}, {501, 44.0},  {699, 44.0}};
    ASSERT_EQ(windows.size(), 700U);
    for (const auto& c : cases) EXPECT_NEAR(windows[c.frame], c.period, 1e-12) << "frame " << c.frame;
    const PeriodCurve steadyOne = steadyPeriod(300, 43.5);
    ASSERT_EQ(steadyOne.size(), 300U);
    for (std::size_t t : {0U, 150U, 299U}) EXPECT_EQ(steadyOne[t], 43.5);
}

// A piece far longer than the stretch of scores the tracker keeps (the
// widest gap's worth, a few times over): ten minutes, steady or on a slow
// ramp, are tracked on the beats from start to end, as the arrays of the
// periods and of the strength give them.
TEST(TrackBeats, FollowsAPieceFarLongerThanTheScoresKept) {
    constexpr double kSeconds = 600.0;
    std::vector<double> ramp;
    for (double at = 0.2; at < kSeconds; at += 60.0 / (90.0 + 50.0 * at / kSeconds)) ramp.push_back(at);
    const struct {
        const char* name;
        std::vector<double> times;
        double bpm;
    } cases[] = {{"steady", steady(97.3, 0.2, kSeconds), 97.3}, {"ramp", ramp, 115.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> curve = pulsesAt(c.times, kSeconds);
        const PeriodCurve periods = followPeriod(curve, kFrameRate, kFrameRate * 60.0 / c.bpm);
        const std::vector<std::size_t> found = trackBeatsOver(strengthOf(curve), periods);
        expectOnTheBeats(found, c.times);
        EXPECT_EQ(found, trackBeats(curve, localPeriods(curve, kFrameRate, kFrameRate * 60.0 / c.bpm)));
    }
}

}  // namespace
}  // namespace tempo::pulse
