// Signatures, as each format's own documents give them: RIFF/RF64/BW64 with
// "WAVE" at 8; "FORM" with "AIFF" or "AIFC" at 8; "fLaC"; an Ogg page
// ("OggS") whose first packet starts "\x01vorbis", "OpusHead" or
// "\x7fFLAC"; an MPEG audio frame header (11 sync bits, no reserved
// version, layer, bitrate or rate); ADTS (sync with layer 0); "ftyp" at 4;
// the EBML magic 1A 45 DF A3 with document type "webm" or "matroska"; the
// ASF header GUID; "MAC "; "wvpk". An ID3v2 tag in front (ten bytes, a
// syncsafe size, an optional ten-byte footer) is skipped.

#include "input/audio_container.hpp"

#include <cstdint>
#include <cstring>

namespace tempo {
namespace {

bool hasAt(ByteSpan file, std::uint64_t offset, const char* text, std::size_t length) {
    return offset <= file.length && file.length - offset >= length &&
           std::memcmp(file.bytes + offset, text, length) == 0;
}

bool hasAt(ByteSpan file, std::uint64_t offset, const char* text) {
    return hasAt(file, offset, text, std::strlen(text));
}

// The offset just past an ID3v2 tag at `offset`, or `offset` itself.
std::uint64_t pastId3(ByteSpan file, std::uint64_t offset) {
    if (!hasAt(file, offset, "ID3") || file.length - offset < 10) return offset;
    const unsigned char* h = file.bytes + offset;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80U) return offset;  // not syncsafe: no tag
    const std::uint64_t size = std::uint64_t{h[6]} << 21U | std::uint64_t{h[7]} << 14U | std::uint64_t{h[8]} << 7U | h[9];
    const std::uint64_t footer = (h[5] & 0x10U) != 0 ? 10 : 0;
    return offset + 10 + size + footer;
}

// An MPEG audio frame header at `offset`: Mpeg, Adts or Unknown.
AudioContainer frameAt(ByteSpan file, std::uint64_t offset) {
    if (offset > file.length || file.length - offset < 4) return AudioContainer::Unknown;
    const unsigned char* h = file.bytes + offset;
    if (h[0] != 0xFF || (h[1] & 0xE0U) != 0xE0U) return AudioContainer::Unknown;
    const unsigned version = (h[1] >> 3U) & 3U;
    const unsigned layer = (h[1] >> 1U) & 3U;
    if (layer == 0) {
        // ADTS: a twelve-bit sync, the MPEG-4/2 flag, layer 0, and a
        // sampling index below the reserved ones.
        return (h[1] & 0xF0U) == 0xF0U && ((h[2] >> 2U) & 0xFU) < 13 ? AudioContainer::Adts : AudioContainer::Unknown;
    }
    const unsigned bitrate = h[2] >> 4U;
    const unsigned rate = (h[2] >> 2U) & 3U;
    if (version == 1 || bitrate == 15 || rate == 3) return AudioContainer::Unknown;
    return AudioContainer::Mpeg;
}

// Which codec an Ogg stream carries, from its first page's first packet.
AudioContainer oggCodec(ByteSpan file) {
    if (file.length < 27) return AudioContainer::Ogg;
    const std::uint64_t packet = 27 + std::uint64_t{file.bytes[26]};
    if (hasAt(file, packet, "\x01vorbis", 7)) return AudioContainer::OggVorbis;
    if (hasAt(file, packet, "OpusHead")) return AudioContainer::OggOpus;
    if (hasAt(file, packet, "\x7f" "FLAC", 5)) return AudioContainer::OggFlac;
    return AudioContainer::Ogg;
}

// Matroska or WebM, from the document type in the EBML header.
AudioContainer matroskaKind(ByteSpan file) {
    // The DocType element (42 82, a one-byte size, the text) lies within
    // the header's first few dozen bytes.
    const std::uint64_t end = file.length < 64 ? file.length : 64;
    for (std::uint64_t at = 4; at + 7 <= end; ++at) {
        if (file.bytes[at] == 0x42 && file.bytes[at + 1] == 0x82 && hasAt(file, at + 3, "webm")) {
            return AudioContainer::WebM;
        }
    }
    return AudioContainer::Matroska;
}

}  // namespace

AudioContainer identifyContainer(ByteSpan file) {
    if (file.length == 0) return AudioContainer::Empty;
    if (hasAt(file, 8, "WAVE")) {
        if (hasAt(file, 0, "RIFF")) return AudioContainer::Wave;
        if (hasAt(file, 0, "RF64") || hasAt(file, 0, "BW64")) return AudioContainer::WideWave;
    }
    if (hasAt(file, 0, "FORM") && (hasAt(file, 8, "AIFF") || hasAt(file, 8, "AIFC"))) return AudioContainer::Aiff;
    if (hasAt(file, 0, "OggS")) return oggCodec(file);
    if (hasAt(file, 4, "ftyp")) return AudioContainer::Mp4;
    if (hasAt(file, 0, "\x1a\x45\xdf\xa3", 4)) return matroskaKind(file);
    if (hasAt(file, 0, "\x30\x26\xb2\x75\x8e\x66\xcf\x11", 8)) return AudioContainer::Asf;
    if (hasAt(file, 0, "MAC ")) return AudioContainer::Ape;
    if (hasAt(file, 0, "wvpk")) return AudioContainer::WavPack;
    const std::uint64_t audio = pastId3(file, 0);
    // An ID3v2 tag is MP3's own; a file that ends inside one is an MP3 cut
    // short.
    if (audio > file.length) return AudioContainer::Mpeg;
    if (hasAt(file, audio, "fLaC")) return AudioContainer::Flac;
    return frameAt(file, audio);
}

const char* containerName(AudioContainer container) {
    switch (container) {
        case AudioContainer::Unknown: return "unknown";
        case AudioContainer::Empty: return "empty";
        case AudioContainer::Wave: return "WAVE";
        case AudioContainer::WideWave: return "RF64/BW64";
        case AudioContainer::Aiff: return "AIFF";
        case AudioContainer::Flac: return "FLAC";
        case AudioContainer::OggVorbis: return "Ogg Vorbis";
        case AudioContainer::OggOpus: return "Opus";
        case AudioContainer::OggFlac: return "Ogg FLAC";
        case AudioContainer::Ogg: return "Ogg";
        case AudioContainer::Mpeg: return "MP3";
        case AudioContainer::Adts: return "AAC";
        case AudioContainer::Mp4: return "MP4";
        case AudioContainer::Matroska: return "Matroska";
        case AudioContainer::WebM: return "WebM";
        case AudioContainer::Asf: return "ASF";
        case AudioContainer::Ape: return "Monkey's Audio";
        case AudioContainer::WavPack: return "WavPack";
    }
    return "unknown";
}

}  // namespace tempo
