// Peak pick and half-tempo check.
//
// A peak is an entry reached by a rise and followed by a fall or a level
// step; the strongest wins, the lowest tempo on ties. A beat counted twice
// per real beat often gives the stronger line, so when the three tempos
// around half the peak's tempo together carry more than 0.65 of the peak's
// strength (root of the sum of their squares), the strongest of them is
// taken instead. Comparisons are strict and NaN compares false everywhere,
// which is what keeps NaN spectra from ever producing a peak.

#include "tempo/tempo_pick.hpp"

#include <cmath>

namespace tempo {
namespace {

// Whether the spectrum has an entry for `bpm`. The half-tempo check only
// asks about tempos up to 121 BPM, so the top end needs no test.
bool presentTempo(int bpm) { return bpm >= kMinBpm; }

double entry(const TempoSpectrum& spectrum, int index) { return spectrum[static_cast<std::size_t>(index)]; }

}  // namespace

int findStrongestPeak(const TempoSpectrum& spectrum) {
    int peak = kNoPeak;
    double rise = 0.0;
    for (int i = 1; i < kTempoCount; ++i) {
        const double d = entry(spectrum, i) - entry(spectrum, i - 1);
        if (rise > 0 && d <= 0) {
            if (peak == kNoPeak || entry(spectrum, i - 1) > entry(spectrum, peak)) peak = i - 1;
        }
        rise = d;
    }
    return peak;
}

void applyHalfTempoCheck(const TempoSpectrum& spectrum, int& tempoIndex) {
    // kNoPeak stays; so does any index that names no entry.
    if (tempoIndex < 0 || tempoIndex >= kTempoCount) return;
    const int half = (tempoIndex + kMinBpm) / 2;

    double q[3] = {0.0, 0.0, 0.0};
    for (int j = 0; j < 3; ++j) {
        const int bpm = half - 1 + j;
        if (presentTempo(bpm)) {
            const double m = entry(spectrum, bpm - kMinBpm);
            q[j] = m * m;
        }
    }
    const double s = std::sqrt((q[0] + q[1]) + q[2]);
    if (!(s > entry(spectrum, tempoIndex) * kHalfTempoRatio)) return;

    double best = 0.0;
    for (int bpm = half - 1; bpm <= half + 1; ++bpm) {
        if (presentTempo(bpm) && entry(spectrum, bpm - kMinBpm) > best) {
            best = entry(spectrum, bpm - kMinBpm);
            tempoIndex = bpm - kMinBpm;
        }
    }
}

}  // namespace tempo
