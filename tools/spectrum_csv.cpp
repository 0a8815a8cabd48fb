// spectrum_csv FILE.wav: prints the tempo spectrum that tempo computes for
// a file, one "bpm,magnitude,role" line per entry, for plotting. The role
// is "peak" for the strongest peak, "candidate" for the tempos the
// half-tempo check weighs, "chosen" for the result when it moved there,
// and empty otherwise. A header line comes first.

#include <cstdio>

#include "input/file_image.hpp"
#include "input/wave_header.hpp"
#include "tempo/estimate.hpp"

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs("usage: spectrum_csv FILE.wav\n", stderr);
        return 2;
    }
    tempo::FileImage image;
    tempo::WaveData wave;
    tempo::WaveCheckResult result = tempo::openFileImage(argv[1], image);
    if (result == tempo::WaveCheckResult::Ok) result = tempo::checkWaveHeader(image, wave);
    if (result != tempo::WaveCheckResult::Ok) {
        std::fputs(tempo::waveCheckMessage(result), stderr);
        return 1;
    }
    const tempo::TempoEstimate estimate = tempo::estimateTempo(wave);
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
