// grid_reading FILE.wav...: prints the accurate method's whole grid of
// each file, one JSON line per file, for the accuracy benchmark and for
// fitting the bars' evidence:
//
//   {"path": ..., "bpm": 128.00 or null, "confidence": 0.97, "metre": 4 or null,
//    "beats": [...], "downbeats": [...], "contrast": [c2, c3, c4],
//    "alternation": A, "salience": [...], "harmony": [...], "low": [...],
//    "accent": [...]}
//
// `contrast` is what each metre's best bars set their downbeats above the
// other beats by (pulse/bars); `salience` is each beat's bar-start
// salience and the last three the evidence it is weighed from, one value
// per beat. Paths are written as given (the benchmark's
// own names need no escape).

#include <cstdio>
#include <utility>
#include <vector>

#include "pulse/analysis.hpp"
#include "tempo/estimate.hpp"

namespace {

void printTimes(const char* name, const std::vector<double>& times) {
    std::printf(", \"%s\": [", name);
    for (std::size_t i = 0; i < times.size(); ++i) std::printf("%s%.3f", i > 0 ? ", " : "", times[i]);
    std::printf("]");
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs("usage: grid_reading FILE.wav...\n", stderr);
        return 2;
    }
    int status = 0;
    for (int k = 1; k < argc; ++k) {
        tempo::WaveFileReading file = tempo::analyseWaveFile(argv[k], tempo::Method::Accurate, tempo::OnsetCurve::Keep);
        if (file.result != tempo::WaveCheckResult::Ok) {
            std::fprintf(stderr, "%s: %s", argv[k], tempo::waveCheckMessage(file.result));
            status = 1;
            continue;
        }
        tempo::pulse::PulseEvidence evidence;
        const tempo::pulse::PulseReading reading = tempo::pulse::analysePulse(
            std::move(file.onsets), std::move(file.lowOnsets), file.chroma, file.onsetRate, file.seconds, &evidence);
        std::printf("{\"path\": \"%s\", ", argv[k]);
        if (reading.found) {
            std::printf("\"bpm\": %.2f", reading.bpm);
        } else {
            std::printf("\"bpm\": null");
        }
        std::printf(", \"confidence\": %.2f", reading.confidence);
        if (reading.metre != tempo::pulse::kNoMetre) {
            std::printf(", \"metre\": %d", reading.metre);
        } else {
            std::printf(", \"metre\": null");
        }
        printTimes("beats", reading.beats);
        printTimes("downbeats", reading.downbeats);
        const auto& c = evidence.bars.contrast;
        std::printf(", \"contrast\": [%.3f, %.3f, %.3f], \"alternation\": %.3f", c[0], c[1], c[2],
                    evidence.bars.alternation);
        printTimes("salience", evidence.bars.salience);
        printTimes("harmony", evidence.bars.harmony);
        printTimes("low", evidence.bars.low);
        printTimes("accent", evidence.bars.accent);
        std::printf("}\n");
    }
    return status;
}
