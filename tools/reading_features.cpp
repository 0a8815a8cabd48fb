// reading_features FILE.wav NAME LABEL BEATS: what the accurate method
// weighs after the metrical level, for tools/fit_weights, as two lines:
// - "phase NAME", the six terms of the evidence for the off-beats
//   (pulse/beat_phase), then the beat F-measure of the beats tracked and of
//   the beats halfway between them against the labelled beats in BEATS
//   (seconds, one a line; 70 ms, the first 5 s left out, as
//   bench/accuracy.sh scores them);
// - "confidence NAME RIGHT share deviation rival": the terms of the
//   confidence (pulse/calibration), RIGHT 1 where the tempo lies within 4 %
//   of LABEL (BPM), else 0.
// Nothing for a file with no tempo.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>
#include <vector>

#include "tempo/estimate.hpp"

namespace {

constexpr double kTolerance = 0.07;
constexpr double kSkipped = 5.0;
constexpr double kRight = 0.04;

double fMeasure(const std::vector<double>& found, const std::vector<double>& labelled) {
    std::vector<double> f;
    std::vector<double> l;
    for (double at : found) if (at >= kSkipped) f.push_back(at);
    for (double at : labelled) if (at >= kSkipped) l.push_back(at);
    if (f.empty() || l.empty()) return 0.0;
    std::size_t j = 0;
    double hits = 0.0;
    for (double at : l) {
        while (j < f.size() && f[j] < at - kTolerance) ++j;
        if (j < f.size() && f[j] <= at + kTolerance) {
            hits += 1.0;
            ++j;
        }
    }
    const double precision = hits / static_cast<double>(f.size());
    const double recall = hits / static_cast<double>(l.size());
    return hits > 0.0 ? 2.0 * precision * recall / (precision + recall) : 0.0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::fputs("usage: reading_features FILE.wav NAME LABEL BEATS\n", stderr);
        return 2;
    }
    tempo::WaveFileReading file = tempo::analyseWaveFile(argv[1], tempo::Method::Accurate, tempo::OnsetCurve::Keep);
    if (file.result != tempo::WaveCheckResult::Ok) {
        std::fprintf(stderr, "%s\n", tempo::waveCheckMessage(file.result));
        return 1;
    }
    std::vector<double> labelled;
    std::ifstream in(argv[4]);
    for (double at = 0.0; in >> at;) labelled.push_back(at);
    tempo::pulse::PulseEvidence evidence;
    const tempo::pulse::PulseReading reading =
        tempo::pulse::analysePulse(std::move(file.onsets), std::move(file.lowOnsets), file.chroma, file.onsetRate,
                                   file.seconds, &evidence);
    if (!reading.found) return 0;
    std::printf("phase %s", argv[2]);
    for (double term : evidence.phase) std::printf(" %.5f", term);
    std::printf(" %.3f %.3f\n", fMeasure(evidence.trackedBeats, labelled), fMeasure(evidence.halfwayBeats, labelled));
    const double label = std::atof(argv[3]);
    const tempo::pulse::ConfidenceTerms& c = evidence.confidence;
    std::printf("confidence %s %d %.5f %.6f %.5f\n", argv[2], std::fabs(reading.bpm / label - 1.0) <= kRight ? 1 : 0,
                c.share, c.deviation, c.rival);
    return 0;
}
