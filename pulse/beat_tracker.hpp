#pragma once

// Where the beats fall: the beat period followed through the piece, and
// the beat times chosen by dynamic programming over the onset curve.

#include <cstddef>
#include <vector>

#include "pulse/onset_strength.hpp"

namespace tempo::pulse {

// The beat period at every frame, in frames (fractional), worked out where
// it is read rather than kept per frame: `period` throughout, or each
// window's lag with straight lines between the windows' centres (the ends
// keep the nearest window's lag), or the periods `given`, one per frame.
struct PeriodCurve {
    std::size_t frames = 0;
    std::vector<double> lags;     // each window's period, in frames
    std::vector<double> centres;  // each window's centre, in frames, ascending
    const std::vector<double>* given = nullptr;

    std::size_t size() const { return given != nullptr ? given->size() : frames; }
    double operator[](std::size_t t) const;
};

// `period` at each of `frames` frames.
PeriodCurve steadyPeriod(std::size_t frames, double period);

// The periods `given`, one per frame (the caller's: they must outlive the
// result).
PeriodCurve givenPeriods(const std::vector<double>& given);

// What localPeriods gives, read frame by frame: the same value at every
// frame, bit for bit.
PeriodCurve followPeriod(const std::vector<double>& salient, double frameRate, double period);

// The beat period at every frame, in frames (fractional), following the
// tempo where it drifts or changes away from `period` (the piece's beat
// period, in frames): each window of a few seconds chooses among the lags
// near `period`, and a path through the windows that favours small steps
// joins them. `salient` is salientOnsets' curve. A curve too short for one
// window, or a period below 2 frames, gives `period` at every frame.
std::vector<double> localPeriods(const std::vector<double>& salient, double frameRate, double period);

// The frames of the beats: the sequence that best lines up with strong
// onsets in `strength` (>= 0, one value per frame) while keeping the gap
// from one beat to the next near the local period `periods[t]` (as
// localPeriods gives, one per frame). Ascending; empty for an empty curve
// or where the periods are not at least 2 frames.
std::vector<std::size_t> trackBeats(const std::vector<double>& strength, const std::vector<double>& periods);
// The same over curves read frame by frame (the same beats for the same
// values). Besides the beats it keeps 2 bytes per frame (4 for periods
// over 32,000 frames), and the scores of the last few widest gaps.
std::vector<std::size_t> trackBeatsOver(const StrengthCurve& strength, const PeriodCurve& periods);

// How far the gaps between successive `beats` (frames, ascending) stray
// from the local period at the first of each (`periods`, one per frame):
// the mean of each gap's miss, less the half frame that rounding to whole
// frames may give (not below 0), over the period. 0 for beats within half a
// frame of a period apart; 1 for fewer than 2 beats.
double beatDeviation(const std::vector<std::size_t>& beats, const std::vector<double>& periods);
double beatDeviation(const std::vector<std::size_t>& beats, const PeriodCurve& periods);

// The time in seconds at which the onset of frame `frame` is heard, for a
// curve of `frameRate` frames per second (the frame's rise comes from the
// newest hop of samples in its window).
double frameSeconds(double frame, double frameRate);

}  // namespace tempo::pulse
