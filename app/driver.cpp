#include "app/driver.hpp"

#include "input/wave_header.hpp"
#include "tempo/envelope.hpp"
#include "tempo/tempo_pick.hpp"
#include "tempo/tempo_spectrum.hpp"

namespace tempo {
namespace {

constexpr const char* kUsageMessage = "usage : tempo <input wav file>\n";

int finish(std::FILE* out, int printed, int status) {
    if (printed < 0 || std::fflush(out) != 0 || std::ferror(out) != 0) return kExitMessage;
    return status;
}

int failWith(std::FILE* out, const char* message) {
    return finish(out, std::fputs(message, out), kExitMessage);
}

}  // namespace

int runTempo(int argc, const PathChar* const argv[], std::FILE* out) {
    if (argc < 2) return failWith(out, kUsageMessage);

    FileImage image;
    WaveCheckResult result = openFileImage(argv[1], image);
    WaveData wave;
    if (result == WaveCheckResult::Ok) result = checkWaveHeader(image, wave);
    if (result != WaveCheckResult::Ok) {
        closeFileImage(image);
        return failWith(out, waveCheckMessage(result));
    }

    const OnsetSignal onset = computeOnsetSignal(computeVolumeEnvelope(wave));
    const TempoSpectrum spectrum = computeTempoSpectrum(onset, wave.sampleRate);
    int tempoIndex = findStrongestPeak(spectrum);
    applyHalfTempoCheck(spectrum, tempoIndex);
    closeFileImage(image);

    return finish(out, std::fprintf(out, "bpm:%d", tempoIndex + kMinBpm), kExitResult);
}

}  // namespace tempo
