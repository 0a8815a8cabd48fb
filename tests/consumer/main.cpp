// Prints the tempo line for a file through the installed library; it must
// match what the tempo tool prints for the same file.

#include <cstdio>

#include <tempo/estimate.hpp>

int main(int argc, char* argv[]) {
    if (argc < 2) return 2;
    const tempo::WaveFileReading file = tempo::analyseWaveFile(argv[1], tempo::Method::Classic);
    if (file.result != tempo::WaveCheckResult::Ok) {
        std::fputs(tempo::waveCheckMessage(file.result), stdout);
        return 1;
    }
    std::printf("bpm:%d", tempo::printedBpm(file.classic));
    return 0;
}
