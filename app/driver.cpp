#include "app/driver.hpp"

#include "input/wave_header.hpp"
#include "tempo/estimate.hpp"

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
    TempoEstimate estimate;
    if (result == WaveCheckResult::Ok) estimate = estimateTempo(image, wave);
    // A file cut short by another process while it was read: its data
    // chunk no longer fits in it, whatever was computed from the zeros.
    if (fileImageLostBytes(image)) result = WaveCheckResult::DataSize;
    closeFileImage(image);
    if (result != WaveCheckResult::Ok) return failWith(out, waveCheckMessage(result));

    return finish(out, std::fprintf(out, "bpm:%d", printedBpm(estimate)), kExitResult);
}

}  // namespace tempo
