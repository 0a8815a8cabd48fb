#pragma once

// The bars over the beats: how many beats a bar holds (the metre: 2, 3 or
// 4), and which beats begin one (the downbeats), or that no bar stands out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pulse/beat_phase.hpp"

namespace tempo::pulse {

// The metres weighed, and none: a piece in which no beat of a bar stands
// out from the others (a click track, a drone, a pulse alone).
constexpr int kNoMetre = 0;
constexpr std::array<int, 3> kMetres = {2, 3, 4};

// What the beats tell of the bar, for each metre weighed (kMetres' order).
struct BarEvidence {
    // For each metre: the mean bar-start salience of the beats its best
    // path takes as downbeats less the mean of the others, in the
    // salience's units (see bars.cpp); 0 where there are too few beats.
    std::array<double, 3> contrast{};
    // The first beat of a bar of four over its third (see bars.cpp).
    double alternation = 0.0;
    // The salience of each beat, from the harmonic change, the low bands'
    // and all bands' onsets at it (each of them also kept, before they are
    // weighed).
    std::vector<double> salience;
    std::vector<double> harmony;
    std::vector<double> low;
    std::vector<double> accent;
};

struct Bars {
    int metre = kNoMetre;                 // 2, 3 or 4; kNoMetre where no bar stands out
    std::vector<std::size_t> downbeats;   // frames: the beats that begin a bar; empty with kNoMetre
};

// The bars over `beats` (frames, ascending, as the tracker gives them):
// `curves` are the salient onsets of all, low and high bands, and
// `chroma` the onset stream's pitch classes (kPitchClasses bytes every
// kChromaFrames frames; empty: the harmony is not weighed). No metre for
// fewer than kLeastBeats beats. With `evidence`, also what was weighed.
Bars findBars(const std::vector<std::size_t>& beats, const PhaseStrengths& curves,
              const std::vector<std::uint8_t>& chroma, BarEvidence* evidence = nullptr);

// The beats a bar needs to be told: four bars of four.
constexpr std::size_t kLeastBeats = 16;

}  // namespace tempo::pulse
