#pragma once

// The beat period of an onset curve: how regularly the onsets recur, the
// period that best explains that regularity, and how clearly it stands out.

#include <vector>

namespace tempo::pulse {

struct PulseEstimate {
    bool found = false;       // false: no beat stands out (no tempo)
    double bpm = 0.0;         // beats per minute when found, not rounded
    double confidence = 0.0;  // 0 to 1: how strongly the period stands out
};

// The onsets of `onset` that stand above their local mean (a quarter of a
// second each way), lightly smoothed: what the periodicity curve and the
// beat tracker look at. Same length as `onset`; empty for a frame rate of 0.
std::vector<double> salientOnsets(const std::vector<float>& onset, double frameRate);

// The periodicity curve that estimatePulse chooses from: entry l is how
// regularly onsets recur l frames apart (1 at lag 0, near 0 where they do
// not recur), for lags 0 to 6 periods of the slowest tempo searched.
// Empty where estimatePulse finds no tempo for want of length or rate.
std::vector<double> periodicityOf(const std::vector<float>& onset, double frameRate);

// The same curve from `salient`, salientOnsets' curve of the onsets (for
// a caller that keeps it anyway): bit for bit what periodicityOf gives.
std::vector<double> periodicityOfSalient(const std::vector<double>& salient, double frameRate);

// The same curve at the lags within two frames of each of `lags` alone (0
// at every other lag), bit for bit as periodicityOf gives them there: all
// that periodicityAt needs at those lags, for a fraction of the work.
std::vector<double> periodicityNear(const std::vector<float>& onset, double frameRate, const std::vector<double>& lags);
// The same from salientOnsets' curve of the onsets.
std::vector<double> periodicityNearSalient(const std::vector<double>& salient, double frameRate,
                                           const std::vector<double>& lags);

// The height of the periodicity curve's peak within a frame of `lag`
// (refined between frames by a parabola); 0 where `lag` is below 1 or too
// near the curve's end.
double periodicityAt(const std::vector<double>& curve, double lag);

// The tempo chosen from a periodicity curve (as periodicityOf gives it,
// for `frameRate` frames per second): what estimatePulse gives.
PulseEstimate choosePulse(const std::vector<double>& curve, double frameRate);

// The tempo of `onset` (one value per frame, `frameRate` frames per
// second). No tempo for a curve shorter than a few seconds, a frame rate
// of 0, or a curve with no regular onsets (silence, noise, a held sound).
PulseEstimate estimatePulse(const std::vector<float>& onset, double frameRate);

}  // namespace tempo::pulse
