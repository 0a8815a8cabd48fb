// level_features FILE.wav NAME LABEL: the evidence for each metrical level
// that the accurate method weighs, one line per level: NAME LABEL bpm
// height lowHeight evenness lowEvenness ternaryEvenness first
// fasterEvenness fasterLowEvenness rival barSupport tresillo, for
// tools/fit_weights. Nothing for a file with no tempo.

#include <cstdio>
#include <utility>

#include "tempo/estimate.hpp"

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fputs("usage: level_features FILE.wav NAME LABEL\n", stderr);
        return 2;
    }
    tempo::WaveFileReading file = tempo::analyseWaveFile(argv[1], tempo::Method::Accurate, tempo::OnsetCurve::Keep);
    if (file.result != tempo::WaveCheckResult::Ok) {
        std::fprintf(stderr, "%s\n", tempo::waveCheckMessage(file.result));
        return 1;
    }
    tempo::pulse::PulseEvidence evidence;
    tempo::pulse::analysePulse(std::move(file.onsets), std::move(file.lowOnsets), file.chroma, file.onsetRate, file.seconds,
                               &evidence);
    for (const tempo::pulse::LevelEvidence& level : evidence.levels) {
        std::printf("%s %s %.4f %.5f %.5f %.5f %.5f %.5f %d %.5f %.5f %.5f %.5f %d\n", argv[2], argv[3], level.bpm,
                    level.height, level.lowHeight, level.evenness, level.lowEvenness, level.ternaryEvenness,
                    level.first ? 1 : 0, level.fasterEvenness, level.fasterLowEvenness, level.rival, level.barSupport,
                    level.tresillo ? 1 : 0);
    }
    return 0;
}
