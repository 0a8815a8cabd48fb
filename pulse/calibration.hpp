#pragma once

// The confidence of a tempo: the chance that it lies within 4 % of the
// tempo a listener would write down, from how clearly the beat stands out.

namespace tempo::pulse {

// The probability (0 to 1) that a tempo is right, from the periodicity
// curve's height at the chosen beat (`height`, -1 to 1) and the chosen
// level's weight among the metrical levels weighed (`share`, 0 to 1; 0.5
// where none were weighed). Rises with each.
double calibratedConfidence(double height, double share);

}  // namespace tempo::pulse
