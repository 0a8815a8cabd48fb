// The accurate analysis after the onset curve: the period comes from the
// periodicity curve, the beats from the tracker that follows it (on the
// beats or halfway between, whichever the beat phase chooses), the tempo
// reported from the beats, which measure it more finely than any one lag
// of the curve can, and the confidence from the level's share and how
// steadily the beats keep the period.

#include "pulse/analysis.hpp"

#include <algorithm>
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
// The low bands' share of the onset curve's bands (5 of the 15 half-octave
// bands from 30 Hz to 5 kHz lie below 170 Hz): the curve less this share
// of the low bands' curve is the mean rise of the bands above them, up to
// a factor that the scaling to unit root mean square takes out.
constexpr float kLowBandShare = 1.0F / 3.0F;

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

// The onset curve of the bands above the low ones (see kLowBandShare).
std::vector<float> highOnsets(const std::vector<float>& onset, const std::vector<float>& lowOnset) {
    std::vector<float> high(onset.size(), 0.0F);
    for (std::size_t t = 0; t < onset.size() && t < lowOnset.size(); ++t) {
        high[t] = std::max(0.0F, onset[t] - kLowBandShare * lowOnset[t]);
    }
    return high;
}

std::vector<double> secondsOf(const std::vector<std::size_t>& frames, double frameRate) {
    std::vector<double> seconds;
    seconds.reserve(frames.size());
    for (std::size_t frame : frames) seconds.push_back(frameSeconds(static_cast<double>(frame), frameRate));
    return seconds;
}

}  // namespace

PulseReading analysePulse(const std::vector<float>& onset, const std::vector<float>& lowOnset, double frameRate,
                          PulseEvidence* evidence) {
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
    if (evidence != nullptr) evidence->levels = levels;

    std::vector<double> both(strength);
    for (std::size_t t = 0; t < both.size() && t < lowStrength.size(); ++t) both[t] += kLowWeight * lowStrength[t];
    const std::vector<double> periods = localPeriods(salient, frameRate, level.period);
    const std::vector<std::size_t> tracked = trackBeats(both, periods);
    const std::vector<double> highStrength = scaledToUnit(salientOnsets(highOnsets(onset, lowOnset), frameRate));
    const PhaseCurves phaseCurves{&strength, &lowStrength, &highStrength};
    if (evidence != nullptr) {
        evidence->phase = phaseTerms(tracked, phaseCurves);
        evidence->trackedBeats = secondsOf(tracked, frameRate);
        evidence->halfwayBeats = secondsOf(halfwayBeats(tracked, both), frameRate);
    }
    const std::vector<std::size_t> beats = choosePhase(tracked, phaseCurves, both);
    const ConfidenceTerms terms{share, beatDeviation(beats, periods), level.rival};
    if (evidence != nullptr) evidence->confidence = terms;
    reading.confidence = calibratedConfidence(terms);
    reading.beats = secondsOf(beats, frameRate);
    reading.bpm = beatsTempo(reading.beats, level.bpm);
    reading.tempoChanges = tempoChanges(reading.beats, reading.bpm);
    return reading;
}

}  // namespace tempo::pulse
