#pragma once

// The phase of the beats: whether the beats a tracker found are the beats
// a listener taps, or the off-beats halfway between them.

#include <array>
#include <cstddef>
#include <vector>

#include "pulse/onset_strength.hpp"

namespace tempo::pulse {

// The salient onset curves the phase is judged on, each scaled to unit
// root mean square: all bands, the low bands (kick, bass), and the bands
// above them (snare, clap, hi-hat, chords).
struct PhaseCurves {
    const std::vector<double>* all = nullptr;
    const std::vector<double>* low = nullptr;
    const std::vector<double>* high = nullptr;
};

// The same curves read frame by frame where they are needed.
struct PhaseStrengths {
    StrengthCurve all;
    StrengthCurve low;
    StrengthCurve high;
};

// The evidence for the off-beats, in the order of kPhaseWeights: for all,
// low and high bands, the log of the mean onset halfway between the beats
// over the mean onset at them, and how much more evenly the beats than the
// points halfway share their onsets between odd and even ones (the
// evenness of the beats less that of the points halfway, each 0 to 1).
using PhaseTerms = std::array<double, 6>;

// The terms for `beats` (frames, ascending) over `curves`; all 0 for fewer
// than 4 beats.
PhaseTerms phaseTerms(const std::vector<std::size_t>& beats, const PhaseCurves& curves);
PhaseTerms phaseTermsOf(const std::vector<std::size_t>& beats, const PhaseStrengths& curves);

// The chance (0 to 1) that the points halfway between the beats are the
// beats a listener taps, from the terms.
double offBeatChance(const PhaseTerms& terms);

// The beats moved by half a period: the frame halfway between each two
// beats, on the strongest frame of `strength` within a frame of it, and a
// beat half a gap before the first and after the last where they fall
// within the curve. Empty for fewer than 2 beats or an empty curve.
std::vector<std::size_t> halfwayBeats(const std::vector<std::size_t>& beats, const std::vector<double>& strength);
std::vector<std::size_t> halfwayBeats(const std::vector<std::size_t>& beats, const StrengthCurve& strength);

// `beats`, or the beats halfway between them where the off-beats' chance
// is above one half.
std::vector<std::size_t> choosePhase(const std::vector<std::size_t>& beats, const PhaseCurves& curves,
                                     const std::vector<double>& strength);
std::vector<std::size_t> choosePhase(const std::vector<std::size_t>& beats, const PhaseStrengths& curves,
                                     const StrengthCurve& strength);

}  // namespace tempo::pulse
