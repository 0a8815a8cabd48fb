// Ogg Opus through libopus, packet by packet from input/ogg_packets.
//
// Opus carries its own rate-independent description of the sound, and
// libopus decodes it at 8, 12, 16, 24 or 48 kHz. 12 kHz holds the
// analysis band (to 5 kHz) at a quarter of the work of the 48 kHz that
// opusfile always decodes at, which is why the packets are read here and
// not through opusfile. A mono or stereo stream (channel mapping 0) is
// mixed to mono inside libopus; a stream of more channels is decoded by
// the multistream decoder and mixed here. The header's pre-skip (encoder
// delay) is dropped and its output gain applied, as players do. A chained
// file is decoded link after link, each from its own headers, as ffmpeg
// does; every link comes at 12 kHz, whatever rate it was coded from.

#include <opus/opus.h>
#include <opus/opus_multistream.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "input/decoder_state.hpp"
#include "input/ogg_packets.hpp"

namespace tempo {
namespace {

constexpr opus_int32 kRate = 12000;
// The longest packet lasts 120 ms.
constexpr int kMostFramesPerPacket = kRate * 120 / 1000;
// The header's pre-skip counts 48 kHz samples.
constexpr std::uint32_t kPreSkipDivisor = 48000 / kRate;

// What the identification header ("OpusHead") says.
struct OpusHead {
    int channels = 0;
    std::uint32_t preSkip = 0;
    int gain = 0;  // Q7.8 dB
    int family = 0;
    int streams = 0;
    int coupled = 0;
    unsigned char mapping[255] = {};
};

unsigned littleEndian16(const unsigned char* bytes) { return bytes[0] | static_cast<unsigned>(bytes[1]) << 8U; }

// False where the packet is no header this decoder reads.
bool readHead(const ogg_packet& packet, OpusHead& head) {
    const unsigned char* p = packet.packet;
    const auto size = static_cast<std::size_t>(packet.bytes);
    // A major version other than 0 may change the layout.
    if (size < 19 || std::memcmp(p, "OpusHead", 8) != 0 || (p[8] & 0xF0U) != 0) return false;
    head.channels = p[9];
    head.preSkip = littleEndian16(p + 10);
    head.gain = static_cast<std::int16_t>(littleEndian16(p + 16));
    head.family = p[18];
    if (head.channels < 1) return false;
    if (head.family == 0) {
        head.streams = 1;
        head.coupled = head.channels - 1;
        return head.channels <= 2;
    }
    if (size < 21 + static_cast<std::size_t>(head.channels)) return false;
    head.streams = p[19];
    head.coupled = p[20];
    std::memcpy(head.mapping, p + 21, static_cast<std::size_t>(head.channels));
    // libopus checks the counts and the mapping again.
    return head.streams >= 1 && head.coupled <= head.streams;
}

constexpr char kOpusMagic[] = "OpusHead";

struct OpusState final : DecoderState {
    ~OpusState() override {
        clearLink();
        finishOggPackets(ogg);
    }
    std::size_t read(AudioDecoder& decoder, float* out, std::size_t maxFrames) override;
    // The next packet's samples into `pcm`; false at the end.
    bool decodeNext(AudioDecoder& decoder);
    // Reads the headers of the link the Ogg reader is at and makes its
    // decoder; false where they are not Opus headers this reads.
    bool startLink();
    // Of a packet's `frames`, those before the link's end: the last page's
    // granule position counts the link's samples at 48 kHz, the pre-skip
    // included, and what the last packet decodes beyond it is the
    // encoder's padding (a link of a chain would begin late by as much).
    std::size_t keptFrames(const ogg_packet& packet, std::size_t frames) {
        const std::uint64_t before = linkFrames;
        linkFrames += frames;
        if (packet.e_o_s == 0 || packet.granulepos < 0) return frames;
        const auto end = static_cast<std::uint64_t>(packet.granulepos) / kPreSkipDivisor;
        return end <= before ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(end - before, frames));
    }
    void clearLink() {
        if (mono != nullptr) opus_decoder_destroy(mono);
        if (multi != nullptr) opus_multistream_decoder_destroy(multi);
        mono = nullptr;
        multi = nullptr;
    }
    OpusHead head;

    OggPackets ogg;
    OpusDecoder* mono = nullptr;       // mapping 0: mixed to mono by libopus
    OpusMSDecoder* multi = nullptr;    // other mappings: every channel
    int channels = 1;                  // in `pcm`
    std::vector<float> pcm;
    std::size_t pcmFrames = 0;
    std::size_t pcmAt = 0;
    std::uint32_t toSkip = 0;
    std::uint64_t linkFrames = 0;  // decoded in this link, at 12 kHz
    bool badPacket = false;
    bool gaveAudio = false;
};

bool OpusState::decodeNext(AudioDecoder& decoder) {
    for (;;) {
        ogg_packet packet;
        bool more = nextOggPacket(ogg, packet);
        if (!more && ogg.lastPage && nextOggLink(ogg, kOpusMagic, sizeof kOpusMagic - 1)) {
            // The next link of a chain.
            clearLink();
            more = startLink() && nextOggPacket(ogg, packet);
            if (!more) badPacket = true;
        }
        decoder.consumed = ogg.fed;
        if (!more) return false;
        // An empty packet would ask for concealment of a lost one.
        if (packet.bytes <= 0) continue;
        const auto bytes = static_cast<opus_int32>(std::min<long>(packet.bytes, 0x7FFFFFFFL));
        const int frames = mono != nullptr
                               ? opus_decode_float(mono, packet.packet, bytes, pcm.data(), kMostFramesPerPacket, 0)
                               : opus_multistream_decode_float(multi, packet.packet, bytes, pcm.data(),
                                                               kMostFramesPerPacket, 0);
        if (frames < 0) {
            badPacket = true;
            continue;
        }
        pcmFrames = keptFrames(packet, static_cast<std::size_t>(frames));
        pcmAt = std::min<std::size_t>(toSkip, pcmFrames);
        toSkip -= static_cast<std::uint32_t>(pcmAt);
        if (pcmAt < pcmFrames) return true;
    }
}

std::size_t OpusState::read(AudioDecoder& decoder, float* out, std::size_t maxFrames) {
    if (pcmAt == pcmFrames && !decodeNext(decoder)) {
        decoder.result = endResult(ogg.damaged || badPacket || !ogg.lastPage, gaveAudio);
        return 0;
    }
    const std::size_t count = std::min(maxFrames, pcmFrames - pcmAt);
    const auto width = static_cast<std::size_t>(channels);
    mixFrames(pcm.data() + pcmAt * width, width, count, out);
    pcmAt += count;
    gaveAudio = true;
    return count;
}

bool OpusState::startLink() {
    ogg_packet packet;
    if (!nextOggPacket(ogg, packet) || !readHead(packet, head)) return false;
    // The comment header comes next; it says nothing the analysis needs.
    if (!nextOggPacket(ogg, packet) || packet.bytes < 8 || std::memcmp(packet.packet, "OpusTags", 8) != 0) return false;
    int error = OPUS_OK;
    channels = 1;
    if (head.family == 0) {
        mono = opus_decoder_create(kRate, 1, &error);
        if (mono == nullptr || error != OPUS_OK || opus_decoder_ctl(mono, OPUS_SET_GAIN(head.gain)) != OPUS_OK) {
            return false;
        }
    } else {
        multi = opus_multistream_decoder_create(kRate, head.channels, head.streams, head.coupled, head.mapping, &error);
        if (multi == nullptr || error != OPUS_OK || opus_multistream_decoder_ctl(multi, OPUS_SET_GAIN(head.gain)) != OPUS_OK) {
            return false;
        }
        channels = head.channels;
    }
    pcm.resize(static_cast<std::size_t>(kMostFramesPerPacket) * static_cast<std::size_t>(channels));
    pcmFrames = 0;
    pcmAt = 0;
    linkFrames = 0;
    toSkip = head.preSkip / kPreSkipDivisor;
    return true;
}

}  // namespace

DecodeResult openOpusDecoder(AudioDecoder& decoder, ByteSpan file) {
    auto state = std::make_unique<OpusState>();
    startOggPackets(state->ogg, file);
    if (!state->startLink()) return DecodeResult::NotDecodable;
    decoder.sampleRate = static_cast<std::uint32_t>(kRate);
    decoder.channels = 1;
    // Opus is always decoded at 48 kHz by players; the rate of the input
    // its header also names is only a hint.
    decoder.streamRate = 48000;
    decoder.streamChannels = static_cast<unsigned>(state->head.channels);
    decoder.codec = "opus";
    decoder.consumed = state->ogg.fed;
    decoder.state.reset(state.release());
    return DecodeResult::Ok;
}

}  // namespace tempo
