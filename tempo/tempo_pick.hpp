#pragma once

// Choosing the tempo from the spectrum: the strongest local maximum, then a
// second look near half of it, since a strong beat at half the tempo is the
// more likely count.

#include "tempo/tempo_spectrum.hpp"

namespace tempo {

// A tempo index of -1: no peak was found; the tool then prints 59.
constexpr int kNoPeak = -1;
constexpr double kHalfTempoRatio = 0.65;

// The index (1 to 179) of the strongest local maximum, the lowest on ties
// and the first entry of a plateau that follows a rise; kNoPeak when the
// spectrum has none (entries 0 and 180 never count, and NaN differences
// neither rise nor fall).
int findStrongestPeak(const TempoSpectrum& spectrum);

// Moves `tempoIndex` to the strongest of the tempos around half its tempo
// when their combined strength exceeds 0.65 times the peak's; leaves it
// unchanged otherwise, and always when it is kNoPeak (or names no entry). The result lies in
// -1 to 179.
void applyHalfTempoCheck(const TempoSpectrum& spectrum, int& tempoIndex);

}  // namespace tempo
