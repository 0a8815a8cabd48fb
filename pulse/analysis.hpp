#pragma once

// The accurate analysis from the onset curves on, in one call: the beat
// period and its metrical level, the beats, the precise tempo, where the
// tempo changes, and the chance that the tempo is right.

#include <vector>

#include "pulse/metre.hpp"
#include "pulse/tempo_changes.hpp"

namespace tempo::pulse {

struct PulseReading {
    bool found = false;       // false: no beat stands out (no tempo)
    double bpm = 0.0;         // beats per minute when found, not rounded
    // 0 to 1: the estimated chance that bpm lies within 4 % of the tempo a
    // listener would write down; also given (low) where nothing was found.
    double confidence = 0.0;
    std::vector<double> beats;                // seconds from the start, ascending; empty when not found
    std::vector<TempoChange> tempoChanges;    // empty for a steady piece and when not found
};

// The reading of an onset curve (`onset`, with `lowOnset` from the low
// bands alone, one value per frame each, `frameRate` frames per second).
// No tempo for a curve shorter than a few seconds, a frame rate of 0, or a
// curve with no regular onsets.
// With `evidence`, also the evidence for each metrical level considered
// (for the tools that fit the weights).
PulseReading analysePulse(const std::vector<float>& onset, const std::vector<float>& lowOnset, double frameRate,
                          std::vector<LevelEvidence>* evidence = nullptr);

}  // namespace tempo::pulse
