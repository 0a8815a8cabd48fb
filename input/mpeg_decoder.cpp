// MPEG audio (MP3, MP2, MP1) through libmpg123, fed from memory.
//
// Most of an MP3 decoder's work after the Huffman decoding is the hybrid
// transform and the synthesis filter bank, per channel and at the full
// rate. libmpg123 can mix the two channels before both (MPG123_MONO_MIX)
// and run them for half of the subbands only (MPG123_DOWN_SAMPLE), which
// gives the low half of the band at half the rate: 44.1 and 48 kHz
// streams are decoded at 22050 and 24000 Hz, 22.05 kHz ones at 11025 Hz,
// 16 kHz ones at their own rate (8 kHz would lose the top of the analysis
// band). A quarter would save a little more (about 8 % of a scan), but it
// cuts the band off without any transition at 5.5 kHz, just above the
// analysis band's top at 5 kHz, where the analysis's own decimation of a
// full-band signal rolls off gently: a song whose metrical level is a
// near thing then came out at another octave from an MP3 than from the
// same MP3 decoded by ffmpeg. At half the rate the analysis itself does
// the last step, as for every WAVE file.
// The output rate is known only from the first frame, so the stream is
// opened once to learn it and again with the factor chosen.
//
// Damaged bytes between frames are skipped however many there are
// (MPG123_RESYNC_LIMIT -1), as ffmpeg does, so a song with a damaged
// stretch is read to its end; the library does not say that it skipped
// any. The bytes go in through the library's feed: it copies what it
// needs, so everything fed can be handed back. A file that stops inside a
// frame leaves that frame's start in the library's buffer at the end: the
// stream was cut short. Tags after the last frame (ID3v1 is read by the
// library, APE or Lyrics3 tags are not) are left there too, but do not
// start with a frame's sync bits.

#include <mpg123.h>

#include <algorithm>
#include <mutex>

#include "input/decoder_state.hpp"

namespace tempo {
namespace {

// Bytes handed to the library at a time.
constexpr std::size_t kFeedBytes = 16 * 1024;
// Calls in a row that give no sample and need no input, after which the
// stream is taken as stuck: a frame trimmed away whole (the encoder's
// delay) gives none, but every such call reads a frame.
constexpr int kMostEmptyCalls = 1 << 16;

std::once_flag libraryStarted;

struct MpegState final : DecoderState {
    ~MpegState() override {
        if (handle != nullptr) mpg123_delete(handle);
    }
    std::size_t read(AudioDecoder& decoder, float* out, std::size_t maxFrames) override;
    // True when more was fed; false at the end of the file.
    bool feedMore();
    // Whether the bytes left in the library at the end start a frame.
    bool cutInAFrame() const;
    std::size_t finish(AudioDecoder& decoder, bool damaged);

    mpg123_handle* handle = nullptr;
    ByteSpan file;
    std::uint64_t fed = 0;
    long rate = 0;
    bool gaveAudio = false;
};

// A handle that decodes mono float samples (and nothing else) at 1 /
// 2^factor of the stream's rate, says nothing on standard error, and is
// ready for the feed; nullptr where the library refuses.
mpg123_handle* newHandle(long downSampleFactor) {
    std::call_once(libraryStarted, [] { mpg123_init(); });
    int error = 0;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (handle == nullptr) return nullptr;
    bool ready = mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_MONO_MIX, 0.0) == MPG123_OK &&
                 mpg123_param(handle, MPG123_DOWN_SAMPLE, downSampleFactor, 0.0) == MPG123_OK &&
                 mpg123_param(handle, MPG123_RESYNC_LIMIT, -1, 0.0) == MPG123_OK &&
                 mpg123_format_none(handle) == MPG123_OK;
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; ready && i < rateCount; ++i) {
        ready = mpg123_format(handle, rates[i], MPG123_MONO, MPG123_ENC_FLOAT_32) == MPG123_OK;
    }
    if (!ready || mpg123_open_feed(handle) != MPG123_OK) {
        mpg123_delete(handle);
        return nullptr;
    }
    return handle;
}

bool MpegState::feedMore() {
    if (fed >= file.length) return false;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kFeedBytes, file.length - fed));
    if (mpg123_feed(handle, file.bytes + fed, count) != MPG123_OK) return false;
    fed += count;
    return true;
}

bool MpegState::cutInAFrame() const {
    long left = 0;
    double leftAsDouble = 0.0;
    if (mpg123_getstate(handle, MPG123_BUFFERFILL, &left, &leftAsDouble) != MPG123_OK) return false;
    if (left < 2 || static_cast<std::uint64_t>(left) > file.length) return false;
    const unsigned char* start = file.bytes + (file.length - static_cast<std::uint64_t>(left));
    return start[0] == 0xFF && (start[1] & 0xE0U) == 0xE0U;
}

// What the stream's first frame says of the whole stream.
struct FirstFrame {
    long rate = 0;  // Hz, 0 when no frame is found
    int channels = 0;
    int layer = 3;  // MPEG audio layer: 1, 2 or 3
};

// The stream's first frame, decoded at its own rate.
FirstFrame firstFrame(ByteSpan file) {
    MpegState probe;
    probe.handle = newHandle(0);
    FirstFrame first;
    if (probe.handle == nullptr) return first;
    probe.file = file;
    unsigned char scratch[1];
    for (;;) {
        std::size_t done = 0;
        const int status = mpg123_read(probe.handle, scratch, 0, &done);
        if (status == MPG123_NEW_FORMAT) {
            int encoding = 0;
            int mixed = 0;
            if (mpg123_getformat(probe.handle, &first.rate, &mixed, &encoding) != MPG123_OK) first.rate = 0;
            // The output is mixed to one channel; the frame header says
            // how many were coded.
            mpg123_frameinfo info{};
            if (mpg123_info(probe.handle, &info) == MPG123_OK) {
                first.layer = info.layer;
                first.channels = info.mode == MPG123_M_MONO ? 1 : 2;
            }
            return first;
        }
        if (status != MPG123_NEED_MORE || !probe.feedMore()) return first;
    }
}

std::size_t MpegState::finish(AudioDecoder& decoder, bool damaged) {
    decoder.result = endResult(damaged, gaveAudio);
    return 0;
}

std::size_t MpegState::read(AudioDecoder& decoder, float* out, std::size_t maxFrames) {
    for (int empty = 0;;) {
        std::size_t done = 0;
        const int status = mpg123_read(handle, reinterpret_cast<unsigned char*>(out), maxFrames * sizeof(float), &done);
        decoder.consumed = fed;
        if (done > 0) {
            gaveAudio = true;
            const std::size_t frames = done / sizeof(float);
            for (std::size_t i = 0; i < frames; ++i) out[i] = finiteSample(out[i]);
            return frames;
        }
        if (status == MPG123_OK) {
            if (++empty > kMostEmptyCalls) return finish(decoder, true);
            continue;
        }
        if (status == MPG123_NEED_MORE) {
            empty = 0;
            if (feedMore()) continue;
            // All fed: a frame's start left over is a frame cut short.
            return finish(decoder, cutInAFrame());
        }
        if (status == MPG123_NEW_FORMAT) {
            // A stream that changes its rate part way: the analysis runs
            // at one rate, so it ends here.
            long newRate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(handle, &newRate, &channels, &encoding);
            if (newRate == rate) continue;
            return finish(decoder, true);
        }
        return finish(decoder, status != MPG123_DONE);
    }
}

}  // namespace

DecodeResult openMpegDecoder(AudioDecoder& decoder, ByteSpan file) {
    const FirstFrame first = firstFrame(file);
    const long nativeRate = first.rate;
    if (nativeRate <= 0) return DecodeResult::NotDecodable;
    // A half, where that keeps the rate at or above the lowest chosen.
    long factor = 1;
    while (factor > 0 && (nativeRate >> factor) < static_cast<long>(kLowestChosenRate)) --factor;
    auto state = std::make_unique<MpegState>();
    state->handle = newHandle(factor);
    if (state->handle == nullptr) return DecodeResult::NotDecodable;
    state->file = file;
    state->rate = nativeRate >> factor;
    decoder.sampleRate = static_cast<std::uint32_t>(state->rate);
    decoder.channels = 1;
    decoder.streamRate = static_cast<std::uint32_t>(nativeRate);
    // Mono-mixed by the library, which still says how many were coded.
    decoder.streamChannels = static_cast<unsigned>(first.channels);
    decoder.codec = first.layer == 1 ? "mp1" : (first.layer == 2 ? "mp2" : "mp3");
    decoder.state.reset(state.release());
    return DecodeResult::Ok;
}

}  // namespace tempo
