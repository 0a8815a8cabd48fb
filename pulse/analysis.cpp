// The accurate analysis after the onset curve: the period comes from the
// periodicity curve, the beats from the tracker that follows it (on the
// beats or halfway between, whichever the beat phase chooses), the tempo
// reported from the beats, which measure it more finely than any one lag
// of the curve can, and the confidence from the level's share and how
// steadily the beats keep the period.

#include "pulse/analysis.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pulse/beat_tracker.hpp"
#include "pulse/loop.hpp"
#include "pulse/onset_strength.hpp"
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

// The onset curve of the bands above the low ones (see kLowBandShare), in
// the place of `onset`, which nothing needs after it.
void keepHighOnsets(std::vector<float>& onset, const std::vector<float>& lowOnset) {
    for (std::size_t t = 0; t < onset.size(); ++t) {
        onset[t] = t < lowOnset.size() ? std::max(0.0F, onset[t] - kLowBandShare * lowOnset[t]) : 0.0F;
    }
}

template <typename T>
void release(std::vector<T>& values) {
    std::vector<T>().swap(values);
}

std::vector<double> secondsOf(const std::vector<std::size_t>& frames, double frameRate) {
    std::vector<double> seconds;
    seconds.reserve(frames.size());
    for (std::size_t frame : frames) seconds.push_back(frameSeconds(static_cast<double>(frame), frameRate));
    return seconds;
}

// What the beats are tracked and judged on, kept for an hour of music in
// three arrays of a double per frame: the salient onsets of all bands, of
// the low bands and of the bands above them. The onset curves they come
// from are released as soon as nothing needs them. The onset strength the
// beat tracker follows is the sum of the salient onsets of all bands and
// of the low bands, each scaled to unit root mean square, so that its
// tightness means the same for a quiet and a busy curve.
struct Salient {
    std::vector<double> all;
    std::vector<double> low;
    std::vector<double> high;
};

// The beats tracked at `level`, their phase chosen, and the reading from
// them (the evidence on the way, with `evidence`).
void readBeats(const Salient& salient, const LevelEvidence& level, double share, double frameRate,
               const std::vector<std::uint8_t>& chroma, PulseReading& reading, PulseEvidence* evidence) {
    const PhaseStrengths strengths{{unitScaled(salient.all), {}, 1.0},
                                   {unitScaled(salient.low), {}, 1.0},
                                   {unitScaled(salient.high), {}, 1.0}};
    const StrengthCurve both = sumOf(strengths.all.first, strengths.low.first, kLowWeight);
    const PeriodCurve periods = followPeriod(salient.all, frameRate, level.period);
    const std::vector<std::size_t> tracked = trackBeatsOver(both, periods);
    if (evidence != nullptr) {
        evidence->phase = phaseTermsOf(tracked, strengths);
        evidence->trackedBeats = secondsOf(tracked, frameRate);
        evidence->halfwayBeats = secondsOf(halfwayBeats(tracked, both), frameRate);
    }
    const std::vector<std::size_t> beats = choosePhase(tracked, strengths, both);
    const Bars bars = findBars(beats, strengths, chroma, evidence != nullptr ? &evidence->bars : nullptr);
    reading.metre = bars.metre;
    reading.downbeats = secondsOf(bars.downbeats, frameRate);
    const ConfidenceTerms terms{share, beatDeviation(beats, periods), level.rival};
    if (evidence != nullptr) evidence->confidence = terms;
    reading.confidence = calibratedConfidence(terms);
    reading.beats = secondsOf(beats, frameRate);
    reading.bpm = snappedTempo(reading.beats, beatsTempo(reading.beats, level.bpm));
    reading.tempoChanges = tempoChanges(reading.beats, reading.bpm);
}

// A loop's reading in the place of no tempo, where `salient` of a sound
// `seconds` long is one: its grid's beats from the start, a bar on every
// `metre` of them.
void readLoopInto(const std::vector<double>& salient, double frameRate, double seconds, PulseReading& reading) {
    const LoopReading loop = readLoop(salient, frameRate, seconds);
    if (!loop.found) return;
    reading.found = true;
    reading.bpm = loop.bpm;
    reading.confidence = loop.confidence;
    reading.metre = loop.metre;
    for (std::size_t k = 0; k < loop.beats; ++k) {
        const double at = loop.first + seconds * static_cast<double>(k) / static_cast<double>(loop.beats);
        reading.beats.push_back(at);
        if (k % static_cast<std::size_t>(loop.metre) == 0) reading.downbeats.push_back(at);
    }
}

}  // namespace

PulseReading analysePulse(std::vector<float>&& onset, std::vector<float>&& lowOnset, double frameRate,
                          PulseEvidence* evidence) {
    return analysePulse(std::move(onset), std::move(lowOnset), {}, frameRate, 0.0, evidence);
}

PulseReading analysePulse(std::vector<float>&& onset, std::vector<float>&& lowOnset,
                          const std::vector<std::uint8_t>& chroma, double frameRate, double seconds,
                          PulseEvidence* evidence) {
    PulseReading reading;
    Salient salient;
    salient.all = salientOnsets(onset, frameRate);
    const std::vector<double> curve = periodicityOfSalient(salient.all, frameRate);
    const PulseEstimate estimate = choosePulse(curve, frameRate);
    // Where no beat stands out, the chance that the strongest period would
    // be right is no more than its height, which is below the least height
    // of a beat.
    reading.confidence = std::min(estimate.confidence, calibratedConfidence(estimate.confidence, 0.5));
    reading.found = estimate.found;
    if (!estimate.found) {
        release(onset);
        release(lowOnset);
        readLoopInto(salient.all, frameRate, seconds > 0.0 ? seconds : static_cast<double>(salient.all.size()) / frameRate,
                     reading);
        return reading;
    }
    keepHighOnsets(onset, lowOnset);
    salient.high = salientOnsets(onset, frameRate);
    release(onset);
    salient.low = salientOnsets(lowOnset, frameRate);
    release(lowOnset);
    const MetreCurves metre{&curve, &salient.low, unitScaled(salient.all), unitScaled(salient.low), frameRate};
    std::vector<LevelEvidence> levels = levelEvidence(metre, 60.0 * frameRate / estimate.bpm);
    double share = 0.0;
    const LevelEvidence level = chooseLevel(levels, share);
    if (evidence != nullptr) evidence->levels = levels;
    readBeats(salient, level, share, frameRate, chroma, reading, evidence);
    return reading;
}

PulseReading analysePulse(const std::vector<float>& onset, const std::vector<float>& lowOnset, double frameRate,
                          PulseEvidence* evidence) {
    return analysePulse(std::vector<float>(onset), std::vector<float>(lowOnset), frameRate, evidence);
}

}  // namespace tempo::pulse
