#pragma once

// The metrical level: which of the pulses related to the strongest period
// by a factor of two or three (or 3/4 and 3/2, where a 3+3+2 figure
// recurs more strongly than the beat) is the beat a listener taps.

#include <vector>

#include "pulse/onset_strength.hpp"

namespace tempo::pulse {

// What speaks for one candidate level, `period` frames.
struct LevelEvidence {
    double bpm = 0.0;
    double period = 0.0;         // frames
    double height = 0.0;         // the periodicity curve there (-1 to 1)
    double lowHeight = 0.0;      // the low bands' periodicity curve there
    double evenness = 0.0;       // 0 to 1: weaker over stronger mean onset, odd against even beats
    double lowEvenness = 0.0;    // the same in the low bands alone
    double ternaryEvenness = 0.0;  // weakest over strongest of every third beat's mean onset
    // The evenness and low evenness of the level at twice this tempo, 1
    // where that level is not weighed: a subdivision whose low bands
    // alternate (a kick on this level's beats, none between) speaks for
    // this level.
    double fasterEvenness = 1.0;
    double fasterLowEvenness = 1.0;
    // The periodicity curve's highest at 2/3, 3/4, 4/3 and 3/2 of the
    // period, 0 where it is at or below 0 at all four: a pulse that
    // competes with this one but is not its multiple (a dotted figure, a
    // triplet feel), or that divides it (eighths recur at 3/2 of the beat).
    double rival = 0.0;
    // For the fastest level only: the larger of the evenness and the low
    // evenness of the pulse at twice its tempo (1 elsewhere). Near 0 where
    // nothing sounds between its beats.
    double between = 1.0;
    // The periodicity curve's highest at 2, 3 and 4 times the period: the
    // bar this level's beats are grouped in recurs there.
    double barSupport = 0.0;
    bool first = false;          // the periodicity's own choice
    // A level at 3/4 or 3/2 of the periodicity's choice's tempo: its
    // period is 4/3 or 2/3 of that choice's, which a 3+3+2 figure (the
    // tresillo) makes recur more strongly than the beat itself.
    bool tresillo = false;
    double score = 0.0;          // the weighted sum of the above
};

// The curves the levels are judged on: `curve` from periodicityOf over the
// onsets of all bands, `lowOnset` the low bands' onset curve, `strength`
// and `lowStrength` the salient onsets of each scaled to unit root mean
// square.
struct MetreInput {
    const std::vector<double>* curve = nullptr;
    const std::vector<float>* lowOnset = nullptr;
    const std::vector<double>* strength = nullptr;
    const std::vector<double>* lowStrength = nullptr;
    double frameRate = 0.0;
};

// The same for the analysis, which keeps no array of its own of the scaled
// curves: `lowSalient` is salientOnsets' curve of the low bands' onsets
// (what `lowStrength` scales), `strength` and `lowStrength` are read frame
// by frame.
struct MetreCurves {
    const std::vector<double>* curve = nullptr;
    const std::vector<double>* lowSalient = nullptr;
    ScaledCurve strength;
    ScaledCurve lowStrength;
    double frameRate = 0.0;
};

// The evidence for every level at 1/3, 1/2, 3/4, 1, 3/2, 2 and 3 times
// the tempo of `period` frames (the periodicity's choice) that lies
// between 40 and 250 BPM and whose pulse recurs (the periodicity curve
// above 0 at its period, in all bands or in the low ones), that choice
// among them whatever its curve.
std::vector<LevelEvidence> levelEvidence(const MetreInput& input, double period);
std::vector<LevelEvidence> levelEvidence(const MetreCurves& input, double period);

// The level with the highest score; `share` gets its weight among all of
// them (a softmax of the scores: 0 to 1). But where the fastest level
// recurs nearly as strongly as that one, nothing sounds between its beats
// and the beats of both are all alike (a click track, a drum machine's
// kick alone), every pulse is a beat and the fastest is taken. Empty evidence gives a default
// LevelEvidence and a share of 0.
LevelEvidence chooseLevel(std::vector<LevelEvidence>& levels, double& share);

}  // namespace tempo::pulse
