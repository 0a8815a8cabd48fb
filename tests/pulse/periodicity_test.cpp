#include "pulse/periodicity.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace tempo::pulse {
namespace {

// The onset curve's frame rate at 44.1 kHz: 11025 Hz analysis, hop 128.
constexpr double kFrameRate = 11025.0 / 128.0;

// An onset curve of `seconds` with an event of `strength` at every
// `fraction` of a beat of `bpm` (placed on the nearest frame), added to
// `curve`.
void addPulses(std::vector<float>& curve, double bpm, double fraction, float strength, std::size_t every = 1,
               std::size_t skip = 0) {
    const double step = kFrameRate * 60.0 / bpm * fraction;
    for (std::size_t k = 0;; ++k) {
        const auto frame = static_cast<std::size_t>(std::lround(static_cast<double>(k) * step));
        if (frame >= curve.size()) break;
        if (k % every == skip) curve[frame] += strength;
    }
}

std::vector<float> silence(double seconds) {
    return std::vector<float>(static_cast<std::size_t>(seconds * kFrameRate), 0.0F);
}

struct PulseCase {
    const char* name;
    double bpm;  // the beat
    double expected;
    void (*make)(std::vector<float>&, double);
};

// Beats under a louder figure of dotted quarter notes (an accent every one
// and a half beats, three against two): the figure's own period shows more
// strongly than the beat's, but only the beat has bars at three and six
// beats as well as at two and four.
void addDottedFigure(std::vector<float>& curve, double bpm, float beatStrength) {
    addPulses(curve, bpm, 1, beatStrength);
    addPulses(curve, bpm, 1.5, 1.0F);
}

// Plain beats; beats with weak off-beats (a hi-hat on the eighths); beats
// in threes with weak triplets (a waltz or a shuffle); beats with every
// second one accented (a backbeat); beats under a dotted figure; and beats
// at two tempos' worth of speed, where the prior must not halve a clear
// fast pulse.
const PulseCase kCases[] = {
    {"plain 60", 60, 60, [](std::vector<float>& c, double b) { addPulses(c, b, 1, 1.0F); }},
    {"plain 97", 97, 97, [](std::vector<float>& c, double b) { addPulses(c, b, 1, 1.0F); }},
    {"plain 128", 128, 128, [](std::vector<float>& c, double b) { addPulses(c, b, 1, 1.0F); }},
    {"plain 174", 174, 174, [](std::vector<float>& c, double b) { addPulses(c, b, 1, 1.0F); }},
    {"plain 236", 236, 236, [](std::vector<float>& c, double b) { addPulses(c, b, 1, 1.0F); }},
    {"weak eighths 90", 90, 90,
     [](std::vector<float>& c, double b) {
         addPulses(c, b, 1, 1.0F);
         addPulses(c, b, 0.5, 0.2F, 2, 1);
     }},
    {"weak eighths 120", 120, 120,
     [](std::vector<float>& c, double b) {
         addPulses(c, b, 1, 1.0F);
         addPulses(c, b, 0.5, 0.2F, 2, 1);
     }},
    {"weak triplets 100", 100, 100,
     [](std::vector<float>& c, double b) {
         addPulses(c, b, 1, 1.0F);
         addPulses(c, b, 1.0 / 3.0, 0.2F, 3, 1);
         addPulses(c, b, 1.0 / 3.0, 0.2F, 3, 2);
     }},
    {"backbeat 110", 110, 110,
     [](std::vector<float>& c, double b) {
         addPulses(c, b, 1, 1.0F);
         addPulses(c, b, 1, 0.3F, 2, 1);
     }},
    {"dotted figure 120", 120, 120, [](std::vector<float>& c, double b) { addDottedFigure(c, b, 0.65F); }},
    {"dotted figure 126", 126, 126, [](std::vector<float>& c, double b) { addDottedFigure(c, b, 0.7F); }},
    {"dotted figure 132", 132, 132, [](std::vector<float>& c, double b) { addDottedFigure(c, b, 0.7F); }},
};

TEST(EstimatePulse, FindsTheBeatOfPulseTrains) {
    for (const PulseCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<float> curve = silence(40);
        c.make(curve, c.bpm);
        const PulseEstimate estimate = estimatePulse(curve, kFrameRate);
        EXPECT_TRUE(estimate.found);
        EXPECT_NEAR(estimate.bpm, c.expected, 1.0);
        EXPECT_GT(estimate.confidence, 0.5);
        EXPECT_LE(estimate.confidence, 1.0);
    }
}

// The period is measured between frames: a tempo whose beat falls between
// frame boundaries comes out within a few hundredths of a BPM.
TEST(EstimatePulse, RefinesThePeriodBetweenFrames) {
    for (double bpm : {83.3, 121.7, 143.9}) {
        SCOPED_TRACE(std::to_string(bpm));
        std::vector<float> curve = silence(60);
        addPulses(curve, bpm, 1, 1.0F);
        EXPECT_NEAR(estimatePulse(curve, kFrameRate).bpm, bpm, 0.3);
    }
}

// Pseudo-random onsets with no period, onsets too faint to count, and
// curves too short or with no frame rate: no tempo.
TEST(EstimatePulse, FindsNoBeatWhereThereIsNone) {
    std::vector<float> noise = silence(40);
    std::uint32_t state = 12345;
    for (float& value : noise) {
        state = state * 1664525U + 1013904223U;
        value = static_cast<float>(state >> 8U) / 16777216.0F;
    }
    std::vector<float> faint = silence(40);
    addPulses(faint, 120, 1, 1e-4F);
    std::vector<float> brief = silence(3);
    addPulses(brief, 120, 1, 1.0F);
    std::vector<float> beats = silence(40);
    addPulses(beats, 120, 1, 1.0F);
    const struct {
        const char* name;
        const std::vector<float>& curve;
        double frameRate;
    } cases[] = {{"noise", noise, kFrameRate},   {"faint", faint, kFrameRate},  {"silence", silence(40), kFrameRate},
                 {"3 seconds", brief, kFrameRate}, {"empty", {}, kFrameRate}, {"no frame rate", beats, 0.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PulseEstimate estimate = estimatePulse(c.curve, c.frameRate);
        EXPECT_FALSE(estimate.found);
        EXPECT_GE(estimate.confidence, 0.0);
        EXPECT_LT(estimate.confidence, 0.15);
    }
}

}  // namespace
}  // namespace tempo::pulse
