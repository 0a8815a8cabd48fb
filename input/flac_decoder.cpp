// FLAC through libFLAC's stream decoder, reading from memory.
//
// FLAC is lossless, so it is decoded at its own rate; the channels are
// mixed here, as the frames come (their mean, in double: for 16-bit stereo
// (l + r) / 65536 is exact, so the analysis sees the very samples it would
// read from ffmpeg's 16-bit stereo decode). The library copies what it
// reads through the read callback, so every byte read can be handed back.
// A stream ended early when it holds fewer samples than its STREAMINFO
// says, or when the library met a damaged frame on the way (it then
// reports the error and goes on with the next frame).

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "input/decoder_state.hpp"

namespace tempo {
namespace {

// process_single calls in a row that neither read a byte nor gave a
// sample, after which the stream is taken as stuck: the library reads
// something on every call while it has input, so this never ends a stream
// that is still moving.
constexpr int kMostIdleSteps = 64;

struct FlacState final : DecoderState {
    ~FlacState() override {
        if (flac != nullptr) FLAC__stream_decoder_delete(flac);
    }
    std::size_t read(AudioDecoder& decoder, float* out, std::size_t maxFrames) override;
    // True while it gave samples or can go on.
    bool step();

    FLAC__StreamDecoder* flac = nullptr;
    ByteSpan file;
    std::uint64_t position = 0;
    // From STREAMINFO: 0 where it says nothing.
    std::uint32_t rate = 0;
    unsigned channels = 0;
    std::uint64_t declaredFrames = 0;
    std::uint64_t decodedFrames = 0;
    bool haveInfo = false;
    bool damaged = false;
    std::vector<float> pending;  // mono frames decoded, not yet read
    std::size_t pendingAt = 0;
};

FlacState& stateOf(void* client) { return *static_cast<FlacState*>(client); }

FLAC__StreamDecoderReadStatus readBytes(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* client) {
    FlacState& s = stateOf(client);
    const std::uint64_t left = s.file.length - s.position;
    if (left == 0) {
        *bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(*bytes, left));
    std::memcpy(buffer, s.file.bytes + s.position, count);
    s.position += count;
    *bytes = count;
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__bool atEnd(const FLAC__StreamDecoder*, void* client) {
    const FlacState& s = stateOf(client);
    return s.position >= s.file.length;
}

// One frame, its channels mixed to their mean.
FLAC__StreamDecoderWriteStatus takeFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const buffer[], void* client) {
    FlacState& s = stateOf(client);
    const FLAC__FrameHeader& header = frame->header;
    // A frame at another rate than the stream's: the analysis runs at one
    // rate, so the stream ends here.
    if (header.channels == 0 || header.bits_per_sample == 0 || header.bits_per_sample > 32 ||
        header.sample_rate != s.rate) {
        s.damaged = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const unsigned channels = header.channels;
    // Full scale is 2^(bits - 1); the mean divides by the channels.
    const double scale = 1.0 / (static_cast<double>(std::uint64_t{1} << (header.bits_per_sample - 1)) * channels);
    const std::size_t first = s.pending.size();
    s.pending.resize(first + header.blocksize);
    for (unsigned i = 0; i < header.blocksize; ++i) {
        std::int64_t sum = 0;
        for (unsigned c = 0; c < channels; ++c) sum += buffer[c][i];
        s.pending[first + i] = static_cast<float>(static_cast<double>(sum) * scale);
    }
    s.decodedFrames += header.blocksize;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void takeMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* client) {
    FlacState& s = stateOf(client);
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO || s.haveInfo) return;
    s.haveInfo = true;
    s.rate = metadata->data.stream_info.sample_rate;
    s.channels = metadata->data.stream_info.channels;
    s.declaredFrames = metadata->data.stream_info.total_samples;
}

void noteError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) { stateOf(client).damaged = true; }

bool FlacState::step() {
    const FLAC__StreamDecoderState before = FLAC__stream_decoder_get_state(flac);
    if (before == FLAC__STREAM_DECODER_END_OF_STREAM || before > FLAC__STREAM_DECODER_END_OF_STREAM) return false;
    return FLAC__stream_decoder_process_single(flac) != 0;
}

std::size_t FlacState::read(AudioDecoder& decoder, float* out, std::size_t maxFrames) {
    int idle = 0;
    while (pendingAt == pending.size()) {
        pending.clear();
        pendingAt = 0;
        const std::uint64_t before = position;
        if (!step() || (position == before && pending.empty() && ++idle > kMostIdleSteps)) {
            decoder.consumed = position;
            const bool cut = declaredFrames > 0 && decodedFrames < declaredFrames;
            const bool failed = FLAC__stream_decoder_get_state(flac) != FLAC__STREAM_DECODER_END_OF_STREAM;
            decoder.result = endResult(damaged || cut || failed, decodedFrames > 0);
            return 0;
        }
        if (position != before) idle = 0;
    }
    const std::size_t count = std::min(maxFrames, pending.size() - pendingAt);
    std::copy(pending.begin() + static_cast<std::ptrdiff_t>(pendingAt),
              pending.begin() + static_cast<std::ptrdiff_t>(pendingAt + count), out);
    pendingAt += count;
    decoder.consumed = position;
    return count;
}

}  // namespace

DecodeResult openFlacDecoder(AudioDecoder& decoder, ByteSpan file) {
    auto state = std::make_unique<FlacState>();
    state->file = file;
    state->flac = FLAC__stream_decoder_new();
    if (state->flac == nullptr) return DecodeResult::NotDecodable;
    FLAC__stream_decoder_set_md5_checking(state->flac, false);
    if (FLAC__stream_decoder_init_stream(state->flac, readBytes, nullptr, nullptr, nullptr, atEnd, takeFrame,
                                         takeMetadata, noteError, state.get()) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
        !FLAC__stream_decoder_process_until_end_of_metadata(state->flac) || !state->haveInfo || state->rate == 0) {
        return DecodeResult::NotDecodable;
    }
    decoder.sampleRate = state->rate;
    decoder.channels = 1;
    decoder.streamRate = state->rate;
    decoder.streamChannels = state->channels;
    decoder.codec = "flac";
    decoder.consumed = state->position;
    decoder.state.reset(state.release());
    return DecodeResult::Ok;
}

}  // namespace tempo
