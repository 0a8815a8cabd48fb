#pragma once

// Shared by the decoder fuzz targets: the bytes, of exactly the input's
// size, go through one in-process decoder and every sample it gives into
// the accurate analysis, as tempo-scan does. Checked: the decoder never
// reads past the bytes (AddressSanitizer), the bytes it says it consumed
// only grow and stay within the input, every sample is finite, and the
// reading is a tempo in range with a confidence from 0 to 1, or none.

#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.hpp"
#include "input/audio_decoder.hpp"
#include "tempo/estimate.hpp"

inline int fuzzDecoder(tempo::AudioContainer container, const std::uint8_t* data, std::size_t size) {
    // Enough audio for the analysis to find a tempo, few enough frames to
    // keep each run short: a small input can stand for minutes of silence.
    constexpr std::uint64_t kMostFrames = std::uint64_t{1} << 21;
    constexpr std::size_t kBlockFrames = 4096;
    const ExactBytes copy = exactBytes(data, size);
    tempo::AudioDecoder decoder;
    if (tempo::openAudioDecoder(decoder, container, copy.span) != tempo::DecodeResult::Ok) {
        FUZZ_CHECK(decoder.state == nullptr);
        return 0;
    }
    FUZZ_CHECK(decoder.sampleRate > 0 && decoder.channels == 1 && decoder.consumed <= size);
    tempo::TempoStream analysis;
    tempo::startTempoStream(analysis, tempo::Method::Accurate, decoder.sampleRate);
    std::vector<float> block(kBlockFrames);
    std::uint64_t frames = 0;
    std::uint64_t consumed = decoder.consumed;
    for (std::size_t got; frames < kMostFrames && (got = tempo::readAudio(decoder, block.data(), kBlockFrames)) > 0;) {
        FUZZ_CHECK(got <= kBlockFrames);
        for (std::size_t i = 0; i < got; ++i) FUZZ_CHECK(std::isfinite(block[i]));
        FUZZ_CHECK(decoder.consumed >= consumed && decoder.consumed <= size);
        consumed = decoder.consumed;
        frames += got;
        tempo::feedTempoStreamSamples(analysis, block.data(), got, decoder.channels);
    }
    if (frames < kMostFrames) {
        // Over: no more samples, and an outcome that says whether any came.
        FUZZ_CHECK(tempo::readAudio(decoder, block.data(), kBlockFrames) == 0);
        FUZZ_CHECK(frames > 0 || decoder.result != tempo::DecodeResult::EndedEarly);
    }
    const tempo::TempoReading reading = tempo::finishTempoStream(analysis);
    FUZZ_CHECK(reading.confidence >= 0.0 && reading.confidence <= 1.0);
    if (reading.found) FUZZ_CHECK(reading.bpm >= 35.0 && reading.bpm <= 260.0);
    return 0;
}
