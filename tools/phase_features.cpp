// phase_features FILE.wav NAME BEATS: the evidence for the off-beats that
// the accurate method weighs (pulse/beat_phase), for tools/fit_weights, as
// one line: "phase NAME" then the six terms, then the beat F-measure of
// the beats tracked and of the beats halfway between them against the
// labelled beats in BEATS (seconds, one a line; 70 ms, the first 5 s left
// out, as bench/accuracy.sh scores them). Nothing for a file with no tempo.

#include <cstdio>
#include <fstream>
#include <vector>

#include "tempo/estimate.hpp"

namespace {

constexpr double kTolerance = 0.07;
constexpr double kSkipped = 5.0;

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
    if (argc != 4) {
        std::fputs("usage: phase_features FILE.wav NAME BEATS\n", stderr);
        return 2;
    }
    tempo::WaveFileReading file = tempo::analyseWaveFile(argv[1], tempo::Method::Accurate, tempo::OnsetCurve::Keep);
    if (file.result != tempo::WaveCheckResult::Ok) {
        std::fprintf(stderr, "%s\n", tempo::waveCheckMessage(file.result));
        return 1;
    }
    std::vector<double> labelled;
    std::ifstream in(argv[3]);
    for (double at = 0.0; in >> at;) labelled.push_back(at);
    tempo::pulse::PulseEvidence evidence;
    const tempo::pulse::PulseReading reading =
        tempo::pulse::analysePulse(file.onsets, file.lowOnsets, file.onsetRate, &evidence);
    if (!reading.found) return 0;
    std::printf("phase %s", argv[2]);
    for (double term : evidence.phase) std::printf(" %.5f", term);
    std::printf(" %.3f %.3f\n", fMeasure(evidence.trackedBeats, labelled), fMeasure(evidence.halfwayBeats, labelled));
    return 0;
}
