// beats_csv FILE.wav: prints the onset curve that tempo-scan's accurate
// method tracks its beats on, one "seconds,onset,low" line per frame (the
// onset of all bands and of the low bands alone), then one "# beat,SECONDS"
// line per beat found and a last line "# tempo,BPM,confidence", for
// plotting.

#include <cstdio>

#include "pulse/beat_tracker.hpp"
#include "tempo/estimate.hpp"

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs("usage: beats_csv FILE.wav\n", stderr);
        return 2;
    }
    const tempo::WaveFileReading file =
        tempo::analyseWaveFile(argv[1], tempo::Method::Accurate, tempo::OnsetCurve::Keep);
    if (file.result != tempo::WaveCheckResult::Ok) {
        std::fputs(tempo::waveCheckMessage(file.result), stderr);
        return 1;
    }
    std::puts("seconds,onset,low");
    for (std::size_t t = 0; t < file.onsets.size(); ++t) {
        std::printf("%.4f,%.5f,%.5f\n", tempo::pulse::frameSeconds(static_cast<double>(t), file.onsetRate),
                    static_cast<double>(file.onsets[t]), static_cast<double>(file.lowOnsets[t]));
    }
    for (double beat : file.reading.beats) std::printf("# beat,%.4f\n", beat);
    std::printf("# tempo,%.2f,%.2f\n", file.reading.bpm, file.reading.confidence);
    return 0;
}
