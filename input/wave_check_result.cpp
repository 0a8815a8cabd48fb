#include "input/wave_check_result.hpp"

namespace tempo {

const char* waveCheckMessage(WaveCheckResult result) {
    switch (result) {
    case WaveCheckResult::Ok: return "";
    case WaveCheckResult::OpenFailed: return "file open error.\n";
    case WaveCheckResult::MappingFailed: return "CreateFileMapping error.\n";
    case WaveCheckResult::ViewFailed: return "MapViewOfFile error.\n";
    case WaveCheckResult::RiffCheck: return "RIFF check error.\n";
    case WaveCheckResult::WaveCheck: return "WAVE check error.\n";
    case WaveCheckResult::FmtCheck: return "fmt check error.\n";
    case WaveCheckResult::DataChunkCheck: return "data chunk check error.\n";
    case WaveCheckResult::DataSize: return "data size error.\n";
    case WaveCheckResult::Not16Bit: return "16bit only.\n";
    case WaveCheckResult::NotStereo: return "stereo only.\n";
    }
    return "";
}

}  // namespace tempo
