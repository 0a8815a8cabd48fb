// periodicity_csv FILE.wav: prints the periodicity curve that tempo-scan's
// accurate method chooses from, one "bpm,periodicity,role" line per lag
// between 40 and 250 BPM, for plotting; the role is "chosen" at the lag
// nearest the tempo it reports. A header line comes first, and the last
// line is "# tempo,BPM,confidence".

#include <cmath>
#include <cstdio>

#include "pulse/periodicity.hpp"
#include "tempo/estimate.hpp"

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs("usage: periodicity_csv FILE.wav\n", stderr);
        return 2;
    }
    tempo::WaveFileReading file =
        tempo::analyseWaveFile(argv[1], tempo::Method::Accurate, tempo::OnsetCurve::Keep);
    if (file.result != tempo::WaveCheckResult::Ok) {
        std::fputs(tempo::waveCheckMessage(file.result), stderr);
        return 1;
    }
    const std::vector<double> curve = tempo::pulse::periodicityOf(file.onsets, file.onsetRate);
    const tempo::TempoReading& estimate = file.reading;
    const double chosenLag = estimate.found ? 60.0 * file.onsetRate / estimate.bpm : -1.0;

    std::puts("bpm,periodicity,role");
    for (std::size_t lag = 1; lag < curve.size(); ++lag) {
        const double bpm = 60.0 * file.onsetRate / static_cast<double>(lag);
        if (bpm < 40.0 || bpm > 250.0) continue;
        const bool chosen = std::fabs(static_cast<double>(lag) - chosenLag) < 0.5;
        std::printf("%.3f,%.6f,%s\n", bpm, curve[lag], chosen ? "chosen" : "");
    }
    std::printf("# tempo,%.2f,%.2f\n", estimate.bpm, estimate.confidence);
    return 0;
}
