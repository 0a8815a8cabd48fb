#include "input/audio_container.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tempo {
namespace {

using Bytes = std::vector<unsigned char>;

// The bytes of a literal, NULs included, without its terminating NUL.
template <std::size_t N>
Bytes bytes(const char (&text)[N]) {
    return Bytes(text, text + N - 1);
}

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes prefix(const Bytes& whole, std::size_t length) { return Bytes(whole.begin(), whole.begin() + static_cast<long>(length)); }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An ID3v2 tag of `size` body bytes (syncsafe), with a footer when asked.
Bytes id3(std::uint32_t size, bool footer = false) {
    Bytes tag = bytes("ID3");
    tag.push_back(4);
    tag.push_back(0);
    tag.push_back(footer ? 0x10 : 0);
    for (int shift : {21, 14, 7, 0}) tag.push_back(static_cast<unsigned char>((size >> shift) & 0x7F));
    tag.resize(tag.size() + size + (footer ? 10 : 0), 0);
    return tag;
}

// An Ogg page header with one segment, then the first packet's start.
Bytes oggPage(const std::string& packet) {
    Bytes page = bytes("OggS");
    page.resize(26, 0);
    page.push_back(1);  // one segment
    page.push_back(static_cast<unsigned char>(packet.size()));
    return page + bytes(packet);
}

const Bytes kMp3Frame = {0xFF, 0xFB, 0x90, 0x64};  // MPEG-1 layer III, 128 kbit/s, 44.1 kHz

struct ContainerCase {
    const char* name;
    Bytes file;
    AudioContainer expected;
};

TEST(AudioContainer, IdentifiesEachSignatureAndNothingElse) {
    const std::vector<ContainerCase> cases = {
        {"empty", {}, AudioContainer::Empty},
        {"text", bytes("not audio"), AudioContainer::Unknown},
        {"wave", bytes("RIFF\x24\0\0\0WAVEfmt ") , AudioContainer::Wave},
        {"riff but avi", bytes("RIFF\x24\0\0\0AVI LIST"), AudioContainer::Unknown},
        {"rf64", bytes("RF64\xff\xff\xff\xffWAVEds64"), AudioContainer::WideWave},
        {"bw64", bytes("BW64\xff\xff\xff\xffWAVEds64"), AudioContainer::WideWave},
        {"wave cut before its form", bytes("RIFF\x24\0\0\0WA"), AudioContainer::Unknown},
        {"aiff", bytes("FORM\0\0\0\x20" "AIFFCOMM"), AudioContainer::Aiff},
        {"aifc", bytes("FORM\0\0\0\x20" "AIFCFVER"), AudioContainer::Aiff},
        {"flac", bytes("fLaC\0\0\0\x22"), AudioContainer::Flac},
        {"flac after id3", id3(100) + bytes("fLaC"), AudioContainer::Flac},
        {"flac after id3 with footer", id3(5, true) + bytes("fLaC"), AudioContainer::Flac},
        {"mp3 cut inside its id3 tag", prefix(id3(100), 40), AudioContainer::Mpeg},
        {"ogg vorbis", oggPage("\x01vorbis"), AudioContainer::OggVorbis},
        {"ogg opus", oggPage("OpusHead"), AudioContainer::OggOpus},
        {"ogg flac", oggPage("\x7f" "FLAC\x01"), AudioContainer::OggFlac},
        {"ogg theora", oggPage("\x80theora"), AudioContainer::Ogg},
        {"ogg cut in its page header", bytes("OggS\0\0"), AudioContainer::Ogg},
        {"mp3 frame", kMp3Frame, AudioContainer::Mpeg},
        {"mp3 after id3", id3(20) + kMp3Frame, AudioContainer::Mpeg},
        {"frame with reserved version", {0xFF, 0xEB, 0x90, 0x64}, AudioContainer::Unknown},
        {"frame with bad bitrate", {0xFF, 0xFB, 0xF0, 0x64}, AudioContainer::Unknown},
        {"frame with reserved rate", {0xFF, 0xFB, 0x9C, 0x64}, AudioContainer::Unknown},
        {"adts", {0xFF, 0xF1, 0x50, 0x80}, AudioContainer::Adts},
        {"id3 then garbage", id3(20) + bytes("garbage"), AudioContainer::Unknown},
        {"m4a", bytes("\0\0\0\x20" "ftypM4A "), AudioContainer::Mp4},
        {"matroska", bytes("\x1a\x45\xdf\xa3\x9f\x42\x86\x81\x01\x42\x82\x88matroska"), AudioContainer::Matroska},
        {"webm", bytes("\x1a\x45\xdf\xa3\x9f\x42\x86\x81\x01\x42\x82\x84webm"), AudioContainer::WebM},
        {"asf", bytes("\x30\x26\xb2\x75\x8e\x66\xcf\x11\xa6\xd9"), AudioContainer::Asf},
        {"ape", bytes("MAC \x96\x0f"), AudioContainer::Ape},
        {"wavpack", bytes("wvpk\x20\0\0\0"), AudioContainer::WavPack},
    };
    for (const ContainerCase& c : cases) {
        EXPECT_EQ(identifyContainer({c.file.data(), c.file.size()}), c.expected) << c.name;
    }
}

TEST(AudioContainer, ReadsNothingPastTheBytesGiven) {
    // Each prefix of a file is judged from that prefix alone: a signature
    // cut short is no signature, a tag cut short is an MP3 cut short (the
    // sanitizer build catches any byte read past the end).
    const Bytes whole = id3(12) + bytes("fLaC");
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const Bytes start = prefix(whole, length);
        const AudioContainer found = identifyContainer({start.data(), start.size()});
        const AudioContainer expected = length == 0    ? AudioContainer::Empty
                                        : length < 10 ? AudioContainer::Unknown
                                        : length < 22 ? AudioContainer::Mpeg  // cut inside the tag
                                                      : AudioContainer::Unknown;
        EXPECT_EQ(found, expected) << length;
    }
}

}  // namespace
}  // namespace tempo
