// The accurate analysis after the onset curve: the period comes from the
// periodicity curve, the beats from the tracker that follows it, and the
// tempo reported from the beats, which measure it more finely than any one
// lag of the curve can.

#include "pulse/analysis.hpp"

#include <cmath>

#include "pulse/beat_tracker.hpp"
#include "pulse/periodicity.hpp"

namespace tempo::pulse {
namespace {

// How much the low bands' onsets count in the beat tracker's strength
// against everything's: the kick drum and the bass mark the beats, while
// the off-beats (a hi-hat's eighths, a shuffle's third triplet, a reggae
// guitar's stabs) are as loud in the full curve.
constexpr double kLowWeight = 1.0;

// The onset strength the beat tracker follows: the salient onsets scaled
// to unit root mean square, so that its tightness means the same for a
// quiet and a busy curve.
void addScaled(std::vector<double>& strength, const std::vector<double>& salient, double weight) {
    double squares = 0.0;
    for (double value : salient) squares += value * value;
    if (!(squares > 0.0)) return;
    const double scale = weight / std::sqrt(squares / static_cast<double>(salient.size()));
    for (std::size_t t = 0; t < salient.size() && t < strength.size(); ++t) strength[t] += salient[t] * scale;
}

std::vector<double> beatStrength(const std::vector<double>& salient, const std::vector<double>& low) {
    std::vector<double> strength(salient.size(), 0.0);
    addScaled(strength, salient, 1.0);
    addScaled(strength, low, kLowWeight);
    return strength;
}

}  // namespace

PulseReading analysePulse(const std::vector<float>& onset, const std::vector<float>& lowOnset, double frameRate) {
    PulseReading reading;
    const PulseEstimate estimate = estimatePulse(onset, frameRate);
    reading.confidence = estimate.confidence;
    if (!estimate.found) return reading;
    reading.found = true;
    const std::vector<double> salient = salientOnsets(onset, frameRate);
    const double period = 60.0 * frameRate / estimate.bpm;
    const std::vector<std::size_t> frames = trackBeats(beatStrength(salient, salientOnsets(lowOnset, frameRate)), localPeriods(salient, frameRate, period));
    reading.beats.reserve(frames.size());
    for (std::size_t frame : frames) reading.beats.push_back(frameSeconds(static_cast<double>(frame), frameRate));
    reading.bpm = beatsTempo(reading.beats, estimate.bpm);
    reading.tempoChanges = tempoChanges(reading.beats, reading.bpm);
    return reading;
}

}  // namespace tempo::pulse
