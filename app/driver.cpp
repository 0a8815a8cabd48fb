#include "app/driver.hpp"

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

    const WaveFileReading file = analyseClassicWaveFile(argv[1]);
    if (file.result != WaveCheckResult::Ok) return failWith(out, waveCheckMessage(file.result));

    return finish(out, std::fprintf(out, "bpm:%d", printedBpm(file.classic)), kExitResult);
}

}  // namespace tempo
