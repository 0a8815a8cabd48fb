// Fuzzes the in-process MPEG audio (MP3) decoder
// (see decoder_fuzz.hpp).

#include "fuzz/decoder_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzDecoder(tempo::AudioContainer::Mpeg, data, size);
}
