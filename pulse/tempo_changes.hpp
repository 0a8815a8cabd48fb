#pragma once

// The tempo that beat times give: one precise value for the piece, and the
// places where the tempo departs from it.

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

// The places where the tempo measured from `beats` (seconds, ascending)
// departs from `bpm` by more than 4 % for at least 8 beats: each entry is
// the first of those beats and the median tempo of the 8, and from there on
// the tempo is compared with that entry's. The tempo at a beat is the
// median of the 8 gaps around it, so a beat the tracker misplaced changes
// nothing. Empty for a steady piece and for fewer than 9 beats.
std::vector<TempoChange> tempoChanges(const std::vector<double>& beats, double bpm);

}  // namespace tempo::pulse
