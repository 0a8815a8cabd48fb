#pragma once

// The confidence of a tempo: the chance that it lies within 4 % of the
// tempo a listener would write down, from how clearly the beat stands out
// and how steadily the beats follow it.

namespace tempo::pulse {

// What the confidence of a tempo whose beats were tracked rests on.
struct ConfidenceTerms {
    double share = 0.5;      // the chosen level's weight among the levels weighed (0 to 1)
    double deviation = 1.0;  // beatDeviation of the beats (0: as steady as the period)
    // The periodicity curve's highest at 2/3, 3/4, 4/3 and 3/2 of the period
    // (LevelEvidence::rival), 0 where it is at or below 0 at all four.
    double rival = 0.0;
};

// The probability (0 to 1) that a tempo whose beats were tracked is right.
// Rises with the share, falls with the deviation and where no rival pulse
// is found.
double calibratedConfidence(const ConfidenceTerms& terms);

// The probability (0 to 1) that a tempo is right from the periodicity
// alone, where no beats were tracked: from the curve's height at the chosen beat (`height`, -1 to 1) and the chosen
// level's weight among the metrical levels weighed (`share`, 0 to 1; 0.5
// where none were weighed). Rises with each.
double calibratedConfidence(double height, double share);

}  // namespace tempo::pulse
