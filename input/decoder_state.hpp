#pragma once

// What each format's decoder gives audio_decoder.cpp: its state behind one
// read call, and the function that opens it. Only the decoder units see
// this header; each keeps its library's calls and callbacks to itself.

#include <cmath>
#include <cstddef>

#include "input/audio_decoder.hpp"

namespace tempo {

struct DecoderState {
    virtual ~DecoderState() = default;
    // As readAudio: up to maxFrames mono frames into `out`, 0 at the end
    // with decoder.result set; keeps decoder.consumed up to date.
    virtual std::size_t read(AudioDecoder& decoder, float* out, std::size_t maxFrames) = 0;
};

// Each sets decoder.state, the rate, one channel and the bytes consumed,
// and returns Ok; or returns NotDecodable and leaves no state.
DecodeResult openMpegDecoder(AudioDecoder& decoder, ByteSpan file);
DecodeResult openFlacDecoder(AudioDecoder& decoder, ByteSpan file);
DecodeResult openVorbisDecoder(AudioDecoder& decoder, ByteSpan file);
DecodeResult openOpusDecoder(AudioDecoder& decoder, ByteSpan file);

// The result of a stream that stopped: `damaged` (cut short, or bytes
// skipped on the way) makes it EndedEarly once it gave audio; before any
// audio it is NotDecodable.
inline DecodeResult endResult(bool damaged, bool gaveAudio) {
    if (!damaged) return DecodeResult::Ok;
    return gaveAudio ? DecodeResult::EndedEarly : DecodeResult::NotDecodable;
}

// A decoded sample as the analysis may take it: a value that is not a
// number or infinite, which a hostile stream can make a float decoder
// give, is silence.
inline float finiteSample(float sample) { return std::isfinite(sample) ? sample : 0.0F; }

// The mean of `channels` channels held one array per channel (`planes`),
// for `count` frames, into `out`; the one and two channels of nearly
// every file without the general loop.
inline void mixPlanes(const float* const* planes, std::size_t channels, std::size_t count, float* out) {
    if (channels == 1) {
        for (std::size_t i = 0; i < count; ++i) out[i] = finiteSample(planes[0][i]);
    } else if (channels == 2) {
        for (std::size_t i = 0; i < count; ++i) out[i] = finiteSample((planes[0][i] + planes[1][i]) * 0.5F);
    } else {
        const float share = 1.0F / static_cast<float>(channels);
        for (std::size_t i = 0; i < count; ++i) {
            float sum = 0.0F;
            for (std::size_t c = 0; c < channels; ++c) sum += planes[c][i];
            out[i] = finiteSample(sum * share);
        }
    }
}

// The same for frames whose channels are interleaved.
inline void mixFrames(const float* frames, std::size_t channels, std::size_t count, float* out) {
    if (channels == 1) {
        for (std::size_t i = 0; i < count; ++i) out[i] = finiteSample(frames[i]);
        return;
    }
    const float share = 1.0F / static_cast<float>(channels);
    for (std::size_t i = 0; i < count; ++i) {
        float sum = 0.0F;
        for (std::size_t c = 0; c < channels; ++c) sum += frames[i * channels + c];
        out[i] = finiteSample(sum * share);
    }
}

}  // namespace tempo
