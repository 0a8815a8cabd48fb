#include "pulse/analysis.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pulse/onset_curve.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::pulse {
namespace {

using testing::Hit;

constexpr std::uint32_t kRate = 22050;

PulseReading readingOf(const std::vector<Hit>& hits, double seconds) {
    const testing::Bytes bytes = testing::hitSamples(hits, kRate, seconds);
    OnsetStream stream;
    startOnsetStream(stream, kRate);
    feedOnsetStream(stream, bytes.data(), bytes.size());
    finishOnsetStream(stream);
    return analysePulse(stream.onset, stream.lowOnset, stream.frameRate);
}

// A click track: one click on every beat, a low thump with a tick.
std::vector<Hit> clicks(const std::vector<double>& beats) {
    std::vector<Hit> hits;
    for (double at : beats) {
        hits.push_back({at, true, 1.0});
        hits.push_back({at, false, 0.5});
    }
    return hits;
}

// A drum groove: a kick on beats one and three, a snare on two and four, a
// quieter hi-hat on every eighth note.
std::vector<Hit> groove(const std::vector<double>& beats) {
    std::vector<Hit> hits;
    for (std::size_t i = 0; i < beats.size(); ++i) {
        hits.push_back({beats[i], i % 2 == 0, 1.0});
        hits.push_back({beats[i], false, 0.3});
        if (i + 1 < beats.size()) hits.push_back({0.5 * (beats[i] + beats[i + 1]), false, 0.3});
    }
    return hits;
}

// The share of `expected` beats with a found beat within 70 ms, and of
// found beats with an expected one: both must be high for a right grid.
void expectBeatsOn(const std::vector<double>& found, const std::vector<double>& expected, double least) {
    const auto hits = [](const std::vector<double>& from, const std::vector<double>& to) {
        std::size_t count = 0;
        for (double t : from) {
            for (double u : to) {
                if (std::fabs(t - u) <= 0.07) {
                    ++count;
                    break;
                }
            }
        }
        return static_cast<double>(count) / static_cast<double>(from.size());
    };
    ASSERT_FALSE(found.empty());
    EXPECT_GE(hits(expected, found), least);
    EXPECT_GE(hits(found, expected), least);
}

// A dance groove whose off-beats are louder than its beats, in the low
// bands too: a kick on every beat and a clap on two and four, a bass note
// and an open hi-hat on every off-beat. (Below about 125 BPM this one is
// counted at its eighths, like some of the benchmark's dance grooves; the
// phase is tested above that.)
std::vector<Hit> offBeatGroove(const std::vector<double>& beats) {
    std::vector<Hit> hits;
    for (std::size_t i = 0; i < beats.size(); ++i) {
        hits.push_back({beats[i], true, 0.7});
        if (i % 2 == 1) hits.push_back({beats[i], false, 1.0});
        if (i + 1 < beats.size()) {
            const double offBeat = 0.5 * (beats[i] + beats[i + 1]);
            hits.push_back({offBeat, true, 1.0});
            hits.push_back({offBeat, false, 0.6});
        }
    }
    return hits;
}

// Steady grooves at tempos that fall between frames, from 60 to 240 BPM:
// the tempo within 0.05 BPM, every beat on its place, and no tempo change.
TEST(AnalysePulse, MeasuresFractionalTemposWithinAHundredthOfABeat) {
    for (double bpm : {60.0, 71.13, 93.75, 127.3, 150.5, 189.9, 240.0}) {
        SCOPED_TRACE(std::to_string(bpm));
        const std::vector<double> beats = testing::beatTimes(bpm, bpm, 30.0, 0.2);
        const PulseReading reading = readingOf(clicks(beats), 30.0);
        ASSERT_TRUE(reading.found);
        EXPECT_NEAR(reading.bpm, bpm, 0.05);
        EXPECT_GT(reading.confidence, 0.5);
        expectBeatsOn(reading.beats, beats, 0.95);
        EXPECT_TRUE(reading.tempoChanges.empty());
    }
}

// Click tracks at whole and half tempos are reported as exactly that
// number; those between (127.3, 93.75) keep their fraction, within 0.05.
TEST(AnalysePulse, SnapsToAWholeTempoOnlyWhereTheBeatsFitIt) {
    for (double bpm : {170.0, 128.0, 96.0, 127.3, 93.75, 140.5}) {
        SCOPED_TRACE(std::to_string(bpm));
        const PulseReading reading = readingOf(clicks(testing::beatTimes(bpm, bpm, 30.0, 0.31)), 30.0);
        ASSERT_TRUE(reading.found);
        if (bpm * 2.0 == std::round(bpm * 2.0)) {
            EXPECT_EQ(reading.bpm, bpm);
        } else {
            EXPECT_NEAR(reading.bpm, bpm, 0.05);
            EXPECT_NE(reading.bpm, 0.5 * std::round(2.0 * reading.bpm));
        }
    }
}

// Whatever the phase of the first beat, with off-beats louder than the
// beats, and with a swing whose off-beat (two thirds of the way) is louder
// than the beat, the beats fall on the beats, not between them.
TEST(AnalysePulse, FindsTheBeatsAtAnyPhase) {
    for (double phase : {0.0, 0.13, 0.29, 0.41}) {
        SCOPED_TRACE("phase " + std::to_string(phase));
        const std::vector<double> beats = testing::beatTimes(112.0, 112.0, 30.0, phase);
        expectBeatsOn(readingOf(groove(beats), 30.0).beats, beats, 0.95);
    }
    for (double bpm : {126.0, 130.0, 134.0}) {
        SCOPED_TRACE("off-beats louder, " + std::to_string(bpm) + " BPM");
        const std::vector<double> beats = testing::beatTimes(bpm, bpm, 30.0, 0.17);
        expectBeatsOn(readingOf(offBeatGroove(beats), 30.0).beats, beats, 0.95);
    }
    const std::vector<double> beats = testing::beatTimes(96.0, 96.0, 30.0, 0.1);
    std::vector<Hit> swing;
    for (double at : beats) {
        swing.push_back({at, true, 0.6});
        swing.push_back({at, false, 0.4});
        swing.push_back({at + 2.0 / 3.0 * 60.0 / 96.0, false, 1.0});
    }
    const PulseReading reading = readingOf(swing, 30.0);
    EXPECT_NEAR(reading.bpm, 96.0, 0.5);
    expectBeatsOn(reading.beats, beats, 0.9);
}

// A ramp from 100 to 130 BPM: the changes climb from near 100 to near 130,
// each at least 4 % above the last. Two tempos, 100 then 130 from 20 s: a
// change at the switch to 130 (and at the start to 100, where the piece's
// tempo is taken as 130).
TEST(AnalysePulse, FollowsARampAndASwitchOfTempo) {
    const PulseReading ramp = readingOf(groove(testing::beatTimes(100.0, 130.0, 40.0, 0.1)), 40.0);
    ASSERT_GE(ramp.tempoChanges.size(), 3U);
    EXPECT_NEAR(ramp.tempoChanges.front().bpm, 102.0, 4.0);
    EXPECT_LT(ramp.tempoChanges.front().at, 5.0);
    EXPECT_NEAR(ramp.tempoChanges.back().bpm, 128.0, 4.0);
    for (std::size_t i = 1; i < ramp.tempoChanges.size(); ++i) {
        EXPECT_GT(ramp.tempoChanges[i].bpm, 1.04 * ramp.tempoChanges[i - 1].bpm);
        EXPECT_GT(ramp.tempoChanges[i].at, ramp.tempoChanges[i - 1].at);
    }

    std::vector<double> beats = testing::beatTimes(100.0, 100.0, 20.0, 0.1);
    const double switchAt = beats.back() + 0.6;
    for (double at : testing::beatTimes(130.0, 130.0, 20.0, 0.0)) beats.push_back(switchAt + at);
    const PulseReading two = readingOf(groove(beats), 40.5);
    ASSERT_FALSE(two.tempoChanges.empty());
    ASSERT_LE(two.tempoChanges.size(), 2U);
    EXPECT_NEAR(two.tempoChanges.back().bpm, 130.0, 2.0);
    EXPECT_NEAR(two.tempoChanges.back().at, switchAt, 1.5);
    if (two.tempoChanges.size() == 2) {
        EXPECT_NEAR(two.tempoChanges.front().bpm, 100.0, 2.0);
        EXPECT_LT(two.tempoChanges.front().at, 2.0);
    }
}

// A piece that speeds up from 120 to 150 BPM and slows down again: a
// change up to about 150 where it speeds up, then one back down to about
// 120 where it slows down, in that order.
TEST(AnalysePulse, FollowsATempoUpAndBackDown) {
    std::vector<double> beats;
    for (const double bpm : {120.0, 150.0, 120.0}) {
        const double from = beats.empty() ? 0.1 : beats.back() + 60.0 / bpm;
        for (double at : testing::beatTimes(bpm, bpm, 15.0, 0.0)) beats.push_back(from + at);
    }
    const PulseReading reading = readingOf(groove(beats), beats.back() + 1.0);
    ASSERT_TRUE(reading.found);
    ASSERT_EQ(reading.tempoChanges.size(), 2U);
    EXPECT_NEAR(reading.tempoChanges[0].bpm, 150.0, 3.0);
    EXPECT_NEAR(reading.tempoChanges[0].at, 15.1, 1.5);
    EXPECT_NEAR(reading.tempoChanges[1].bpm, 120.0, 3.0);
    EXPECT_NEAR(reading.tempoChanges[1].at, 30.1, 1.5);
}

// Steady songs played a little off the grid (up to 10 ms each way, and
// louder and softer hits) have no tempo change.
TEST(AnalysePulse, GivesNoTempoChangeForASteadySong) {
    for (double bpm : {84.0, 118.0, 143.0, 176.0}) {
        SCOPED_TRACE(std::to_string(bpm));
        std::vector<double> beats = testing::beatTimes(bpm, bpm, 40.0, 0.05);
        std::uint32_t state = 7;
        std::vector<Hit> hits = groove(beats);
        for (Hit& hit : hits) {
            state = state * 1664525U + 1013904223U;
            hit.at += (static_cast<double>(state >> 8U) / 16777216.0 - 0.5) * 0.02;
            hit.gain *= 0.7 + 0.3 * static_cast<double>(state & 0xFFU) / 255.0;
        }
        const PulseReading reading = readingOf(hits, 40.0);
        ASSERT_TRUE(reading.found);
        EXPECT_NEAR(reading.bpm, bpm, 0.5);
        EXPECT_TRUE(reading.tempoChanges.empty());
    }
}

// Silence and a curve too short even for a loop (under a second): no
// tempo, no beats, a confidence near 0. (A groove of a few seconds is read
// as a loop: see loop_test.)
TEST(AnalysePulse, GivesNothingWithoutABeat) {
    for (const PulseReading& reading : {readingOf({}, 20.0), readingOf(groove(testing::beatTimes(120, 120, 0.9)), 0.9),
                                        analysePulse({}, {}, 86.0)}) {
        EXPECT_FALSE(reading.found);
        EXPECT_TRUE(reading.beats.empty());
        EXPECT_TRUE(reading.tempoChanges.empty());
        EXPECT_LT(reading.confidence, 0.15);
    }
}

}  // namespace
}  // namespace tempo::pulse
