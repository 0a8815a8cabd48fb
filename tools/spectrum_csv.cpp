// spectrum_csv FILE.wav: prints the tempo spectrum that tempo computes for
// a file, one "bpm,magnitude,role" line per entry, for plotting. The role
// is "peak" for the strongest peak, "candidate" for the tempos the
// half-tempo check weighs, "chosen" for the result when it moved there,
// and empty otherwise. A header line comes first.

#include <cstdio>

#include "tempo/estimate.hpp"

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs("usage: spectrum_csv FILE.wav\n", stderr);
        return 2;
    }
    const tempo::WaveFileReading file = tempo::analyseWaveFile(argv[1], tempo::Method::Classic);
    if (file.result != tempo::WaveCheckResult::Ok) {
        std::fputs(tempo::waveCheckMessage(file.result), stderr);
        return 1;
    }
    const tempo::TempoEstimate& estimate = file.classic;
    const tempo::TempoSpectrum& spectrum = estimate.spectrum;
    const int peak = estimate.peak;
    const int chosen = estimate.tempoIndex;
    const int half = (peak + tempo::kMinBpm) / 2;

    std::puts("bpm,magnitude,role");
    for (int t = 0; t < tempo::kTempoCount; ++t) {
        const int bpm = t + tempo::kMinBpm;
        const char* role = "";
        if (peak != tempo::kNoPeak && t == peak) {
            role = "peak";
        } else if (chosen != peak && t == chosen) {
            role = "chosen";
        } else if (peak != tempo::kNoPeak && bpm >= half - 1 && bpm <= half + 1) {
            role = "candidate";
        }
        std::printf("%d,%.17g,%s\n", bpm, spectrum[static_cast<std::size_t>(t)], role);
    }
    return 0;
}
