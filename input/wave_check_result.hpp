#pragma once

// Every way an input file can be refused, with the exact line the tool
// prints for it. Callers and scripts match these lines byte for byte.

namespace tempo {

enum class WaveCheckResult {
    Ok,
    OpenFailed,
    MappingFailed,
    ViewFailed,
    RiffCheck,
    WaveCheck,
    FmtCheck,
    DataChunkCheck,
    DataSize,
    Not16Bit,
    NotStereo,
};

// The message printed for a failure, ending in "\n"; the empty string for Ok.
const char* waveCheckMessage(WaveCheckResult result);

}  // namespace tempo
