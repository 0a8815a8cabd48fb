#include <cstdio>
#include "input/file_image.hpp"
#include "input/wave_header.hpp"
#include "pulse/onset_curve.hpp"
#include "pulse/periodicity.hpp"
int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        tempo::FileImage image; tempo::WaveData wave;
        auto r = tempo::openFileImage(argv[i], image);
        if (r == tempo::WaveCheckResult::Ok) r = tempo::checkWaveHeader(image, wave);
        if (r != tempo::WaveCheckResult::Ok) { std::printf("%s error\n", argv[i]); continue; }
        tempo::pulse::OnsetStream s; tempo::pulse::startOnsetStream(s, wave.sampleRate);
        tempo::pulse::feedOnsetStream(s, wave.samples, wave.dataSize);
        tempo::pulse::finishOnsetStream(s);
        auto e = tempo::pulse::estimatePulse(s.onset, s.frameRate);
        std::printf("%s %.2f %.3f %d\n", argv[i], e.bpm, e.confidence, e.found ? 1 : 0);
        tempo::closeFileImage(image);
    }
}
