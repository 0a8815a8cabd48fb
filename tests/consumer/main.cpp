// Prints the tempo line for a file through the installed library; it must
// match what the tempo tool prints for the same file.

#include <cstdio>

#include <input/file_image.hpp>
#include <input/wave_header.hpp>
#include <tempo/estimate.hpp>

int main(int argc, char* argv[]) {
    if (argc < 2) return 2;
    tempo::FileImage image;
    tempo::WaveData wave;
    tempo::WaveCheckResult result = tempo::openFileImage(argv[1], image);
    if (result == tempo::WaveCheckResult::Ok) result = tempo::checkWaveHeader(image, wave);
    if (result != tempo::WaveCheckResult::Ok) {
        std::fputs(tempo::waveCheckMessage(result), stdout);
        return 1;
    }
    std::printf("bpm:%d", tempo::printedBpm(tempo::estimateTempo(wave)));
    tempo::closeFileImage(image);
    return 0;
}
