#pragma once

// The accurate analysis from the onset curves on, in one call: the beat
// period and its metrical level, the beats, the precise tempo, where the
// tempo changes, and the chance that the tempo is right.

#include <cstdint>
#include <vector>

#include "pulse/bars.hpp"
#include "pulse/beat_phase.hpp"
#include "pulse/calibration.hpp"
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
    // Beats to a bar (2, 3 or 4), kNoMetre where no bar stands out or no
    // tempo was found; a piece in 6/8 counted in dotted quarters is 2, in
    // eighths 3 (each half of its bar counted as a bar).
    int metre = kNoMetre;
    std::vector<double> downbeats;            // seconds: the beats that begin a bar; empty without a metre
};

// What the analysis weighed on the way, for the tools that fit its weights.
struct PulseEvidence {
    std::vector<LevelEvidence> levels;   // each metrical level considered
    PhaseTerms phase{};                  // the evidence for the off-beats of the beats tracked
    std::vector<double> trackedBeats;    // seconds: the beats tracked, before their phase was chosen
    std::vector<double> halfwayBeats;    // seconds: the beats halfway between them
    ConfidenceTerms confidence{};        // what the confidence rests on, where beats were tracked
    BarEvidence bars;                    // what the bars were chosen on, where beats were tracked
};

// The reading of an onset curve (`onset`, with `lowOnset` from the low
// bands alone, one value per frame each, `frameRate` frames per second).
// No tempo for a curve shorter than a few seconds, a frame rate of 0, or a
// curve with no regular onsets.
// With `evidence`, also what was weighed (for the tools that fit the
// weights).
PulseReading analysePulse(const std::vector<float>& onset, const std::vector<float>& lowOnset, double frameRate,
                          PulseEvidence* evidence = nullptr);
// The same reading, bit for bit, taking the onset curves over (they are
// left empty): each is released as soon as nothing needs it, so that a
// long piece's analysis holds fewer arrays at once (an hour of music:
// three arrays of a double per frame at the most, about 2.5 MB each, and
// a small fraction of one beside them).
PulseReading analysePulse(std::vector<float>&& onset, std::vector<float>&& lowOnset, double frameRate,
                          PulseEvidence* evidence = nullptr);
// The same with the onset stream's pitch classes (OnsetStream::chroma),
// which show where the harmony changes and so where bars begin (without
// them the bars rest on the onsets alone), and the length of the sound in
// seconds (onsetStreamSeconds), which gives a loop of one to eight seconds
// its tempo where no beat stands out in its onsets alone (0: the length
// of the curve).
PulseReading analysePulse(std::vector<float>&& onset, std::vector<float>&& lowOnset,
                          const std::vector<std::uint8_t>& chroma, double frameRate, double seconds,
                          PulseEvidence* evidence = nullptr);

}  // namespace tempo::pulse
