#pragma once

// Shared by the decoder fuzz targets: the bytes, of exactly the input's
// size, go through one in-process decoder, pulled a block at a time as
// tempo-scan pulls them. Checked: the decoder never reads past the bytes
// (AddressSanitizer), the bytes it says it consumed only grow and stay
// within the input, every sample is finite (what the analysis needs: the
// float samples' way into it is simple and tested to the bit), and a
// stream that ended early gave audio. The analysis itself is left out: it
// would take most of each run, and the pipeline fuzzer covers it.

#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.hpp"
#include "input/audio_decoder.hpp"

inline int fuzzDecoder(tempo::AudioContainer container, const std::uint8_t* data, std::size_t size) {
    // About 95 s at 44.1 kHz: few enough frames to keep each run short, as a
    // small input can stand for hours of silence.
    constexpr std::uint64_t kMostFrames = std::uint64_t{1} << 22;
    constexpr std::size_t kBlockFrames = 4096;
    const ExactBytes copy = exactBytes(data, size);
    tempo::AudioDecoder decoder;
    if (tempo::openAudioDecoder(decoder, container, copy.span) != tempo::DecodeResult::Ok) {
        FUZZ_CHECK(decoder.state == nullptr);
        return 0;
    }
    FUZZ_CHECK(decoder.sampleRate > 0 && decoder.channels == 1 && decoder.consumed <= size);
    std::vector<float> block(kBlockFrames);
    std::uint64_t frames = 0;
    std::uint64_t consumed = decoder.consumed;
    for (std::size_t got; frames < kMostFrames && (got = tempo::readAudio(decoder, block.data(), kBlockFrames)) > 0;) {
        FUZZ_CHECK(got <= kBlockFrames);
        for (std::size_t i = 0; i < got; ++i) FUZZ_CHECK(std::isfinite(block[i]));
        FUZZ_CHECK(decoder.consumed >= consumed && decoder.consumed <= size);
        consumed = decoder.consumed;
        frames += got;
    }
    if (frames < kMostFrames) {
        // Over: no more samples, and an outcome that says whether any came.
        FUZZ_CHECK(tempo::readAudio(decoder, block.data(), kBlockFrames) == 0);
        FUZZ_CHECK(frames > 0 || decoder.result != tempo::DecodeResult::EndedEarly);
    }
    return 0;
}
