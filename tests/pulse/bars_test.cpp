#include "pulse/bars.hpp"

#include <gtest/gtest.h>

#include <cmath>
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

// A groove with known bar lines.
struct Groove {
    std::vector<Hit> hits;
    std::vector<double> beats;
    std::vector<double> downbeats;
};

// Bars of `metre` beats at `bpm` (each beat of `split` equal notes) over
// `seconds`, starting `pickup` beats before the first bar line: a kick and
// a new chord (C, F, G, A minor in turn) on each bar's first beat, the
// chord struck again softly and a snare on the other beats, a hi-hat on
// every note.
Groove barGroove(double bpm, int metre, int pickup, int split, double seconds) {
    static const double kChords[4][3] = {
        {261.63, 329.63, 392.00}, {349.23, 440.00, 523.25}, {392.00, 493.88, 587.33}, {440.00, 523.25, 659.26}};
    Groove groove;
    const double beat = 60.0 / bpm;
    for (int b = 0; beat * b < seconds; ++b) {
        const double at = 0.25 + beat * b;
        const int place = (b - pickup + metre) % metre;
        const int bar = (b - pickup + metre) / metre;
        groove.beats.push_back(at);
        if (place == 0) {
            groove.downbeats.push_back(at);
            groove.hits.push_back({at, true, 1.0});
        } else {
            groove.hits.push_back({at, false, 0.7});
        }
        for (double hz : kChords[bar % 4]) groove.hits.push_back({at, false, place == 0 ? 0.8 : 0.3, hz});
        for (int k = 0; k < split; ++k) groove.hits.push_back({at + beat * k / split, false, 0.2});
    }
    return groove;
}

// The share of expected times with a found one within 70 ms, and of found
// times with an expected one: the harmonic mean of the two.
double fMeasure(const std::vector<double>& found, const std::vector<double>& expected) {
    const auto hits = [](const std::vector<double>& from, const std::vector<double>& to) {
        double count = 0.0;
        for (double t : from) {
            for (double u : to) {
                if (std::fabs(t - u) <= 0.07) {
                    count += 1.0;
                    break;
                }
            }
        }
        return count;
    };
    if (found.empty() || expected.empty()) return 0.0;
    const double precision = hits(found, expected) / static_cast<double>(found.size());
    const double recall = hits(expected, found) / static_cast<double>(expected.size());
    return precision + recall > 0.0 ? 2.0 * precision * recall / (precision + recall) : 0.0;
}

// Bars of three, of four from a pickup (the first downbeat is not the
// first beat), of two, and 6/8: each gets its metre and its bar lines.
// 6/8 is counted as the beat chosen says: in dotted quarters, two to a
// bar; in eighths, three to each half bar.
TEST(FindBars, FindsTheMetreAndTheBarLines) {
    const struct {
        const char* name;
        double bpm;
        int metre, pickup, split;
    } cases[] = {{"3/4", 100.0, 3, 0, 2},
                 {"3/4 from a pickup of two beats", 132.0, 3, 2, 2},
                 {"4/4 from a pickup of one beat", 112.0, 4, 1, 2},
                 {"6/8", 64.0, 2, 0, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Groove groove = barGroove(c.bpm, c.metre, c.pickup, c.split, 40.0);
        const PulseReading reading = pulseReadingOf(groove.hits, 40.0);
        ASSERT_TRUE(reading.found);
        if (std::fabs(reading.bpm - 3.0 * c.bpm) < 0.04 * c.bpm) {
            // 6/8 in eighths: a bar on every dotted beat.
            EXPECT_EQ(reading.metre, 3);
            EXPECT_GE(fMeasure(reading.downbeats, groove.beats), 0.9);
            continue;
        }
        EXPECT_NEAR(reading.bpm, c.bpm, 0.04 * c.bpm);
        EXPECT_EQ(reading.metre, c.metre);
        EXPECT_GE(fMeasure(reading.downbeats, groove.downbeats), 0.9);
        if (c.pickup > 0) {
            ASSERT_FALSE(reading.downbeats.empty());
            EXPECT_GT(reading.downbeats.front(), reading.beats.front() + 0.5 * 60.0 / c.bpm);
        }
    }
}

// A click track (every beat alike) and too few beats have no bar: no
// metre and no downbeats, never a guessed 4/4.
TEST(FindBars, GivesNoMetreWhereNoBarStandsOut) {
    std::vector<Hit> clicks;
    for (double at : testing::beatTimes(120.0, 120.0, 30.0, 0.1)) {
        clicks.push_back({at, true, 1.0});
        clicks.push_back({at, false, 0.5});
    }
    const PulseReading reading = pulseReadingOf(clicks, 30.0);
    ASSERT_TRUE(reading.found);
    EXPECT_EQ(reading.metre, kNoMetre);
    EXPECT_TRUE(reading.downbeats.empty());

    const std::vector<std::size_t> fewBeats = {10, 50, 90, 130, 170, 210, 250, 290};
    EXPECT_EQ(findBars(fewBeats, PhaseStrengths{}, {}).metre, kNoMetre);
}

}  // namespace
}  // namespace tempo::pulse
