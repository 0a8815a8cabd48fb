// Ogg Vorbis through libvorbis, packet by packet from input/ogg_packets.
//
// libvorbis can run its inverse transform at half its size, on the lower
// half of the spectrum, which gives the sound at half the stream's rate
// (vorbis_synthesis_halfrate): streams of 20 kHz and more are decoded that
// way (44.1 kHz at 22050 Hz), lower ones at their own rate. The channels
// are mixed here, taken straight from the library's float output. libvorbis's own file layer (vorbisfile) is not used: with a seek
// callback it reads the whole file at open to find the chain's links, and
// without one it cannot tell a stream cut short from a whole one; the Ogg
// reader here, shared with the Opus decoder, notes both. A chained file is
// decoded link after link, each from its own headers, as ffmpeg does; a
// link at another rate than the first (which the analysis cannot take
// mid-stream) ends the stream there, as a damaged one.

#include <vorbis/codec.h>

#include <algorithm>

#include "input/decoder_state.hpp"
#include "input/ogg_packets.hpp"

namespace tempo {
namespace {

constexpr char kVorbisMagic[] = "\x01vorbis";

struct VorbisState final : DecoderState {
    VorbisState() {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~VorbisState() override {
        clearLink();
        finishOggPackets(ogg);
    }
    std::size_t read(AudioDecoder& decoder, float* out, std::size_t maxFrames) override;
    // Reads the headers of the link the Ogg reader is at and readies the
    // synthesis; false where they are not Vorbis headers this reads.
    bool startLink();
    void clearLink() {
        if (blockReady) vorbis_block_clear(&block);
        if (dspReady) vorbis_dsp_clear(&dsp);
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
        blockReady = false;
        dspReady = false;
    }
    // The rate the link's samples come at: half its own where that still
    // holds the analysis band.
    std::uint32_t rate = 0;

    OggPackets ogg;
    vorbis_info info{};
    vorbis_comment comment{};
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    bool dspReady = false;
    bool blockReady = false;
    bool badPacket = false;
    bool gaveAudio = false;
};

std::size_t VorbisState::read(AudioDecoder& decoder, float* out, std::size_t maxFrames) {
    for (;;) {
        float** pcm = nullptr;
        const int ready = vorbis_synthesis_pcmout(&dsp, &pcm);
        if (ready > 0) {
            const std::size_t count = std::min(maxFrames, static_cast<std::size_t>(ready));
            mixPlanes(pcm, static_cast<std::size_t>(info.channels), count, out);
            vorbis_synthesis_read(&dsp, static_cast<int>(count));
            gaveAudio = true;
            return count;
        }
        ogg_packet packet;
        bool more = nextOggPacket(ogg, packet);
        if (!more && ogg.lastPage && nextOggLink(ogg, kVorbisMagic, sizeof kVorbisMagic - 1)) {
            // The next link of a chain, at the rate the analysis started at.
            const std::uint32_t before = rate;
            clearLink();
            vorbis_info_init(&info);
            vorbis_comment_init(&comment);
            more = startLink() && rate == before && nextOggPacket(ogg, packet);
            if (!more) badPacket = true;
        }
        decoder.consumed = ogg.fed;
        if (!more) {
            decoder.result = endResult(ogg.damaged || badPacket || !ogg.lastPage, gaveAudio);
            return 0;
        }
        if (vorbis_synthesis(&block, &packet) != 0 || vorbis_synthesis_blockin(&dsp, &block) != 0) badPacket = true;
    }
}

bool VorbisState::startLink() {
    // The identification, comment and setup headers, in that order.
    for (int header = 0; header < 3; ++header) {
        ogg_packet packet;
        if (!nextOggPacket(ogg, packet) || vorbis_synthesis_headerin(&info, &comment, &packet) != 0) return false;
    }
    if (info.channels < 1 || info.rate < 1 || info.rate > 0x7FFFFFFFL) return false;
    // Set before the decoder is made; refused for the smallest block sizes.
    const bool half = info.rate / 2 >= static_cast<long>(kLowestChosenRate) && vorbis_synthesis_halfrate(&info, 1) == 0;
    if (vorbis_synthesis_init(&dsp, &info) != 0) return false;
    dspReady = true;
    if (vorbis_block_init(&dsp, &block) != 0) return false;
    blockReady = true;
    rate = static_cast<std::uint32_t>(half ? info.rate / 2 : info.rate);
    return true;
}

}  // namespace

DecodeResult openVorbisDecoder(AudioDecoder& decoder, ByteSpan file) {
    auto state = std::make_unique<VorbisState>();
    startOggPackets(state->ogg, file);
    if (!state->startLink()) return DecodeResult::NotDecodable;
    decoder.sampleRate = state->rate;
    decoder.channels = 1;
    decoder.streamRate = static_cast<std::uint32_t>(state->info.rate);
    decoder.streamChannels = static_cast<unsigned>(state->info.channels);
    decoder.codec = "vorbis";
    decoder.consumed = state->ogg.fed;
    decoder.state.reset(state.release());
    return DecodeResult::Ok;
}

}  // namespace tempo
