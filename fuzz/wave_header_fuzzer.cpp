// Fuzzes the header check on bytes of exactly the input's size, so that
// AddressSanitizer sees any read past the end of the "file".

#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.hpp"
#include "input/wave_header.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ExactBytes copy = exactBytes(data, size);

    tempo::WaveData wave;
    const tempo::WaveCheckResult result = tempo::checkWaveHeader(copy.span, wave);
    FUZZ_CHECK(result != tempo::WaveCheckResult::OpenFailed && result != tempo::WaveCheckResult::MappingFailed &&
               result != tempo::WaveCheckResult::ViewFailed);
    if (result == tempo::WaveCheckResult::Ok) {
        const std::uint64_t offset = static_cast<std::uint64_t>(wave.samples - copy.bytes.get());
        FUZZ_CHECK(wave.samples >= copy.bytes.get());
        FUZZ_CHECK(offset + wave.dataSize <= size);
        FUZZ_CHECK(offset >= 8);
        FUZZ_CHECK(std::memcmp(wave.samples - 8, "data", 4) == 0);
    }
    return 0;
}
