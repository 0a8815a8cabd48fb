#pragma once

// The tempo that beat times give: one precise value for the piece, the
// whole number it stands for where the beats cannot tell them apart, and
// the places where the tempo departs from it.

#include <vector>

namespace tempo::pulse {

// Where the tempo moves to a new value, and that value.
struct TempoChange {
    double at = 0.0;   // seconds from the start: the first beat at the new tempo
    double bpm = 0.0;  // beats per minute from there on
};

// The tempo of `beats` (seconds, ascending) in BPM: the slope of a straight
// line through them, fitted by least squares, each beat numbered by how
// many periods of `bpm` lie since the one before (a beat the tracker
// skipped keeps its place); where the tracker changed phase (a gap a
// quarter of a period or more from a whole number of periods), the line
// continues with the same slope from the new phase; where that line tilts
// against the lines through stretches of 16 beats, their median. `bpm`
// itself where fewer than 8 beats are given, or where the fit lies more
// than 1 % from it (beats that do not follow that tempo cannot refine it).
double beatsTempo(const std::vector<double>& beats, double bpm);

// The tempo to report for `beats` (seconds, ascending) whose tempo was
// measured as `bpm` (beatsTempo's): the nearest whole number where the
// beats fit a line of its slope as well as the line fitted through them,
// within what their misses allow (an F test), else the nearest half where
// they fit that as well, else `bpm`. `bpm` itself for fewer than 8 beats
// and for beats that miss their line by more than a grid's beats do
// (25 ms root mean square: a player's drift, not a sequencer's grid).
double snappedTempo(const std::vector<double>& beats, double bpm);

// The places where the tempo measured from `beats` (seconds, ascending)
// departs from `bpm` by more than 4 % for at least 8 beats: each entry is
// the first of those beats and the median tempo of the 8, and from there on
// the tempo is compared with that entry's. The tempo at a beat is the
// median of the 8 gaps around it, so a beat the tracker misplaced changes
// nothing. Empty for a steady piece and for fewer than 9 beats.
std::vector<TempoChange> tempoChanges(const std::vector<double>& beats, double bpm);

}  // namespace tempo::pulse
