// The accurate analysis after the onset curve: the period comes from the
// periodicity curve, the beats from the tracker that follows it, and the
// tempo reported from the beats, which measure it more finely than any one
// lag of the curve can.

#include "pulse/analysis.hpp"

#include <algorithm>
#include <cmath>

#include "pulse/beat_tracker.hpp"
#include "pulse/calibration.hpp"
#include "pulse/periodicity.hpp"

namespace tempo::pulse {
namespace {

// How much the low bands' onsets count in the beat tracker's strength
// against everything's: the kick drum and the bass mark the beats, while
// the off-beats (a hi-hat's eighths, a shuffle's third triplet, a reggae
// guitar's stabs) are as loud in the full curve.
constexpr double kLowWeight = 1.0;

// The onset strength the beat tracker follows is the sum of the salient
// onsets of all bands and of the low bands, each scaled to unit root mean
// square, so that its tightness means the same for a quiet and a busy
// curve.
std::vector<double> scaledToUnit(const std::vector<double>& salient) {
    double squares = 0.0;
    for (double value : salient) squares += value * value;
    std::vector<double> scaled(salient.size(), 0.0);
    if (!(squares > 0.0)) return scaled;
    const double scale = 1.0 / std::sqrt(squares / static_cast<double>(salient.size()));
    for (std::size_t t = 0; t < salient.size(); ++t) scaled[t] = salient[t] * scale;
    return scaled;
}

}  // namespace

PulseReading analysePulse(const std::vector<float>& onset, const std::vector<float>& lowOnset, double frameRate,
                          std::vector<LevelEvidence>* evidence) {
    PulseReading reading;
    const std::vector<double> curve = periodicityOf(onset, frameRate);
    const PulseEstimate estimate = choosePulse(curve, frameRate);
    // Where no beat stands out, the chance that the strongest period would
    // be right is no more than its height, which is below the least height
    // of a beat.
    reading.confidence = std::min(estimate.confidence, calibratedConfidence(estimate.confidence, 0.5));
    if (!estimate.found) return reading;
    reading.found = true;
    const std::vector<double> salient = salientOnsets(onset, frameRate);
    const std::vector<double> strength = scaledToUnit(salient);
    const std::vector<double> lowStrength = scaledToUnit(salientOnsets(lowOnset, frameRate));
    std::vector<LevelEvidence> levels =
        levelEvidence({&curve, &lowOnset, &strength, &lowStrength, frameRate}, 60.0 * frameRate / estimate.bpm);
    double share = 0.0;
    const LevelEvidence level = chooseLevel(levels, share);
    if (evidence != nullptr) *evidence = levels;
    reading.confidence = calibratedConfidence(level.height, share);

    std::vector<double> both(strength);
    for (std::size_t t = 0; t < both.size() && t < lowStrength.size(); ++t) both[t] += kLowWeight * lowStrength[t];
    const std::vector<std::size_t> frames = trackBeats(both, localPeriods(salient, frameRate, level.period));
    reading.beats.reserve(frames.size());
    for (std::size_t frame : frames) reading.beats.push_back(frameSeconds(static_cast<double>(frame), frameRate));
    reading.bpm = beatsTempo(reading.beats, level.bpm);
    reading.tempoChanges = tempoChanges(reading.beats, reading.bpm);
    return reading;
}

}  // namespace tempo::pulse
