#pragma once

// The tempo of a loop: a file of one to four bars, too short for the
// periodicity to show a beat, cut to a whole number of beats.

#include <cstddef>
#include <vector>

namespace tempo::pulse {

// The loops read: from one to eight seconds long.
constexpr double kShortestLoop = 1.0;
constexpr double kLongestLoop = 8.0;

struct LoopReading {
    bool found = false;      // false: not a loop with a beat
    double bpm = 0.0;        // beats per minute: beats * 60 / seconds
    std::size_t beats = 0;   // beats in the loop
    double first = 0.0;      // seconds: the first beat, where its onset shows (0 and a few frames after)
    int metre = 0;           // beats to a bar: 3 or 4
    // 0 to 1: the estimated chance that bpm lies within 4 % of the loop's
    // tempo; low (and found false) where the onsets keep to no grid.
    double confidence = 0.0;
};

// The loop reading of `salient` (salientOnsets' curve, `frameRate` frames
// per second) of a sound `seconds` long: the whole number of beats, in
// bars of three or four, one, two or four bars, at a tempo from 60 to 200
// BPM, whose grid from the start best meets the onsets. Not found for a
// length outside kShortestLoop to kLongestLoop, or where the onsets keep
// to no such grid (a single sound, noise).
LoopReading readLoop(const std::vector<double>& salient, double frameRate, double seconds);

}  // namespace tempo::pulse
