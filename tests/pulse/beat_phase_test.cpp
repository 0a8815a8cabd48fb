#include "pulse/beat_phase.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tempo::pulse {
namespace {

constexpr double kFrameRate = 11025.0 / 128.0;
constexpr double kBpm = 120.0;
constexpr double kSeconds = 30.0;

// One instrument of a groove: what it adds to the low and the high bands'
// onsets, and where it plays, in beats: at `offset` into every `every`
// beats, starting at beat `first`.
struct Stroke {
    double low;
    double high;
    double offset;
    int every;
    int first;
};

struct Groove {
    std::vector<double> all;
    std::vector<double> low;
    std::vector<double> high;
};

double period() { return kFrameRate * 60.0 / kBpm; }

// The curves of a groove: each band's onsets, and all bands' as their mean
// over 15 bands of which 5 are low.
Groove grooveOf(const std::vector<Stroke>& strokes) {
    const auto frames = static_cast<std::size_t>(kSeconds * kFrameRate);
    Groove g{std::vector<double>(frames, 0.0), std::vector<double>(frames, 0.0), std::vector<double>(frames, 0.0)};
    for (const Stroke& s : strokes) {
        for (int k = s.first;; k += s.every) {
            const auto frame = static_cast<std::size_t>(std::lround((k + s.offset) * period()));
            if (frame >= frames) break;
            g.low[frame] += s.low;
            g.high[frame] += s.high;
            g.all[frame] += (5.0 * s.low + 10.0 * s.high) / 15.0;
        }
    }
    return g;
}

// Frames at every beat from beat 1, moved by `shift` beats.
std::vector<std::size_t> beatFrames(double shift) {
    std::vector<std::size_t> frames;
    for (int k = 1; (k + shift + 1) * period() < kSeconds * kFrameRate; ++k) {
        frames.push_back(static_cast<std::size_t>(std::lround((k + shift) * period())));
    }
    return frames;
}

// Beats tracked on the beats stay there, and beats tracked on the off-beats
// move onto the beats, whether the off-beats are louder (a dance track's
// open hi-hat and bass, a reggae skank) or the beats carry a backbeat.
TEST(ChoosePhase, PutsTheBeatsOnTheBeats) {
    const Stroke kick{1.0, 0.3, 0.0, 1, 0};
    const Stroke kickOn1And3{1.0, 0.3, 0.0, 2, 0};
    const Stroke snareOn2And4{0.1, 1.0, 0.0, 2, 1};
    const Stroke hatOnEighths{0.0, 0.4, 0.0, 1, 0};
    const Stroke hatOnAnds{0.0, 0.4, 0.5, 1, 0};
    const Stroke openHatAndBass{1.2, 0.8, 0.5, 1, 0};
    const Stroke skank{0.2, 1.2, 0.5, 1, 0};
    const Stroke dropOn3{1.0, 0.8, 0.0, 4, 2};
    const Stroke click{1.0, 1.0, 0.0, 1, 0};
    const struct {
        const char* name;
        std::vector<Stroke> strokes;
        double trackedAt;  // where the tracker's beats lie, in beats
    } cases[] = {
        {"rock on the beats", {kickOn1And3, snareOn2And4, hatOnEighths, hatOnAnds}, 0.0},
        {"rock on the off-beats", {kickOn1And3, snareOn2And4, hatOnEighths, hatOnAnds}, 0.5},
        {"dance on the off-beats", {kick, snareOn2And4, openHatAndBass, hatOnEighths}, 0.5},
        {"dance on the beats", {kick, snareOn2And4, openHatAndBass, hatOnEighths}, 0.0},
        {"reggae on the skank", {skank, dropOn3, hatOnEighths, hatOnAnds}, 0.5},
        {"clicks on the beats", {click}, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Groove g = grooveOf(c.strokes);
        const std::vector<std::size_t> found =
            choosePhase(beatFrames(c.trackedAt), {&g.all, &g.low, &g.high}, g.all);
        ASSERT_GE(found.size(), 50U);
        for (std::size_t frame : found) {
            const double beats = static_cast<double>(frame) / period();
            EXPECT_LE(std::fabs(beats - std::round(beats)) * period(), 1.5) << "frame " << frame;
        }
    }
}

// The points halfway lie between the beats, one before the first and one
// after the last where the curve reaches, each on the strongest frame
// within one of it.
TEST(HalfwayBeats, LieHalfwayOnTheStrongestFrame) {
    std::vector<double> strength(100, 0.0);
    strength[31] = 1.0;  // one frame after the point halfway between 20 and 40
    const struct {
        std::vector<std::size_t> beats;
        std::vector<std::size_t> halfway;
    } cases[] = {
        {{20, 40, 60}, {10, 31, 50, 70}},
        {{4, 20, 36}, {12, 28, 44}},   // no room for a point before the first
        {{60, 80, 98}, {50, 70, 89}},  // nor after the last
        {{20}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(halfwayBeats(c.beats, strength), c.halfway);
}

// The terms are 0 for too few beats, and say which phase the onsets and
// the backbeat favour: the off-beats' onsets are louder and the beats
// alternate for beats tracked on a dance track's off-beats.
TEST(PhaseTerms, WeighOnsetsAndAlternation) {
    EXPECT_EQ(phaseTerms({10, 50, 90}, {}), PhaseTerms{});
    const Groove g = grooveOf({{1.0, 0.3, 0.0, 1, 0}, {0.1, 1.0, 0.0, 2, 1}, {1.2, 0.8, 0.5, 1, 0}});
    const PhaseTerms onBeats = phaseTerms(beatFrames(0.0), {&g.all, &g.low, &g.high});
    const PhaseTerms offBeats = phaseTerms(beatFrames(0.5), {&g.all, &g.low, &g.high});
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(onBeats[k], -offBeats[k], 0.05) << k;
        EXPECT_NEAR(onBeats[3 + k], -offBeats[3 + k], 0.05) << k;
    }
    EXPECT_GT(offBeats[5], 0.3);  // the backbeat's clap on the beats halfway
    EXPECT_LT(offBeatChance(onBeats), 0.5);
    EXPECT_GT(offBeatChance(offBeats), 0.5);
}

}  // namespace
}  // namespace tempo::pulse
