// Fuzzes the in-process FLAC decoder
// (see decoder_fuzz.hpp).

#include "fuzz/decoder_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzDecoder(tempo::AudioContainer::Flac, data, size);
}
