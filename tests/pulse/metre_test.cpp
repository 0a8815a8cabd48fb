#include "pulse/metre.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pulse/periodicity.hpp"

namespace tempo::pulse {
namespace {

constexpr double kFrameRate = 11025.0 / 128.0;

struct Curves {
    std::vector<double> strength;
    std::vector<double> low;
};

// `every` beats of `bpm` from `first`, of `strength`, into `curve`.
void add(std::vector<double>& curve, double bpm, double strength, int every = 1, int first = 0, double offset = 0.0) {
    const double step = kFrameRate * 60.0 / bpm;
    for (int k = first;; k += every) {
        const auto frame = static_cast<std::size_t>(std::lround((k + offset) * step));
        if (frame >= curve.size()) break;
        curve[frame] += strength;
    }
}

LevelEvidence choose(const Curves& c, double firstBpm, std::vector<LevelEvidence>& levels, double& share) {
    std::vector<float> strength(c.strength.begin(), c.strength.end());
    std::vector<float> low(c.low.begin(), c.low.end());
    const std::vector<double> curve = periodicityOf(strength, kFrameRate);
    levels = levelEvidence({&curve, &low, &c.strength, &c.low, kFrameRate}, kFrameRate * 60.0 / firstBpm);
    return chooseLevel(levels, share);
}

// A groove is counted at the beat where the kick and the snare take turns,
// whether the periodicity first chose its eighths (a half-time feel), its
// bars, or the beat itself; a click track at its clicks.
TEST(ChooseLevel, CountsTheBeatOfBackbeatsAndClicks) {
    const struct {
        const char* name;
        double beat;
        double first;  // the periodicity's choice
        bool hats;     // eighth notes between the beats
        bool backbeat; // kick on one and three, snare on two and four
    } cases[] = {{"half-time feel", 72.0, 144.0, true, true}, {"rock", 118.0, 118.0, true, true},
                 {"slow backbeat from its bar", 90.0, 45.0, true, true}, {"clicks", 200.0, 100.0, false, false},
                 {"clicks", 75.0, 75.0, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Curves curves{std::vector<double>(static_cast<std::size_t>(30 * kFrameRate), 0.0), {}};
        curves.low = curves.strength;
        if (c.backbeat) {
            add(curves.strength, c.beat, 1.0, 2, 0);
            add(curves.low, c.beat, 1.0, 2, 0);
            add(curves.strength, c.beat, 1.0, 2, 1);
        } else {
            add(curves.strength, c.beat, 1.0);
            add(curves.low, c.beat, 1.0);
        }
        if (c.hats) add(curves.strength, c.beat, 0.3, 1, 0, 0.5);
        std::vector<LevelEvidence> levels;
        double share = 0.0;
        const LevelEvidence level = choose(curves, c.first, levels, share);
        EXPECT_NEAR(level.bpm, c.beat, 0.02 * c.beat);
        EXPECT_GT(share, 0.0);
        EXPECT_LE(share, 1.0);
        int firsts = 0;
        for (const LevelEvidence& each : levels) {
            EXPECT_GE(each.bpm, 40.0);
            EXPECT_LE(each.bpm, 250.0);
            firsts += each.first ? 1 : 0;
        }
        EXPECT_EQ(firsts, 1);
    }
}

// Eighths between the beats make the beat's periodicity recur at 3/2 of
// its period (three eighths), while at the eighths' own level, the fastest
// pulse, nothing recurs at 2/3, 3/4, 4/3 or 3/2 of the period (between one
// eighth and the next, or at three sixteenths): its rival is 0, and the
// groove is counted at its beat although the periodicity first chose its
// eighths.
TEST(LevelEvidence, FindsARivalPulseAtTheBeatButNotAtItsSubdivision) {
    for (double beat : {64.0, 72.0, 80.0}) {
        SCOPED_TRACE(std::to_string(beat) + " BPM");
        Curves curves{std::vector<double>(static_cast<std::size_t>(30 * kFrameRate), 0.0), {}};
        curves.low = curves.strength;
        add(curves.strength, beat, 1.0, 2, 0);
        add(curves.low, beat, 1.0, 2, 0);
        add(curves.strength, beat, 1.0, 2, 1);
        add(curves.strength, beat, 0.3, 1, 0, 0.5);
        std::vector<LevelEvidence> levels;
        double share = 0.0;
        const LevelEvidence level = choose(curves, 2.0 * beat, levels, share);
        EXPECT_NEAR(level.bpm, beat, 0.02 * beat);
        for (const LevelEvidence& each : levels) {
            if (std::fabs(each.bpm / beat - 1.0) < 0.02) {
                EXPECT_GT(each.rival, 0.0);
            }
            if (std::fabs(each.bpm / beat - 2.0) < 0.04) {
                EXPECT_EQ(each.rival, 0.0);
            }
        }
    }
}

// A 3+3+2 figure in sixteenths (kick and bass on steps 0, 3, 6 of every
// eight, a snare on two and four, a hi-hat on every sixteenth) makes the
// figure's three steps recur more strongly than the beat: the levels at
// 3/4 and 3/2 of that period's tempo are weighed, and the beat is counted
// at its quarter notes. Clicks alone recur at no such ratio: nothing there
// is weighed.
TEST(LevelEvidence, WeighsTheBeatUnderAThreeThreeTwoFigure) {
    const struct {
        const char* name;
        double beat;
        bool figure;
        double first;  // the periodicity's choice
    } cases[] = {{"figure at 96", 96.0, true, 128.0}, {"figure at 108", 108.0, true, 144.0},
                 {"clicks at 150", 150.0, false, 150.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Curves curves{std::vector<double>(static_cast<std::size_t>(30 * kFrameRate), 0.0), {}};
        curves.low = curves.strength;
        if (c.figure) {
            for (int step : {0, 3, 6}) {
                add(curves.strength, c.beat / 2.0, 1.0, 1, 0, step / 8.0);
                add(curves.low, c.beat / 2.0, 1.0, 1, 0, step / 8.0);
            }
            add(curves.strength, c.beat, 0.8, 2, 1);
            add(curves.strength, 4.0 * c.beat, 0.3);
        } else {
            add(curves.strength, c.beat, 1.0);
            add(curves.low, c.beat, 1.0);
        }
        std::vector<LevelEvidence> levels;
        double share = 0.0;
        const LevelEvidence level = choose(curves, c.first, levels, share);
        EXPECT_NEAR(level.bpm, c.beat, 0.02 * c.beat);
        int figureLevels = 0;
        for (const LevelEvidence& each : levels) {
            const double ratio = each.bpm / c.first;
            EXPECT_EQ(each.tresillo, std::fabs(ratio - 0.75) < 0.01 || std::fabs(ratio - 1.5) < 0.01);
            figureLevels += each.tresillo ? 1 : 0;
        }
        if (c.figure) {
            EXPECT_GE(figureLevels, 1);
        } else {
            EXPECT_EQ(figureLevels, 0);
        }
    }
}

// No frame rate or no period: nothing weighed, nothing chosen.
TEST(ChooseLevel, WeighsNothingWithoutAPeriod) {
    const std::vector<double> empty;
    const std::vector<float> none;
    EXPECT_TRUE(levelEvidence({&empty, &none, &empty, &empty, 0.0}, 40.0).empty());
    EXPECT_TRUE(levelEvidence({&empty, &none, &empty, &empty, kFrameRate}, 1.0).empty());
    std::vector<LevelEvidence> nothing;
    double share = 1.0;
    EXPECT_EQ(chooseLevel(nothing, share).bpm, 0.0);
    EXPECT_EQ(share, 0.0);
}

}  // namespace
}  // namespace tempo::pulse
