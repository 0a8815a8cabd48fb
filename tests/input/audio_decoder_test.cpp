#include "input/audio_decoder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "input/wave_header.hpp"

namespace tempo {
namespace {

using Bytes = std::vector<unsigned char>;

// The clips made by make_decoder_clips.sh, in the folder the test is given.
std::string clipPath(const std::string& name) {
    const char* dir = std::getenv("TEMPO_DECODER_CLIPS");
    return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ByteSpan spanOf(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

struct Decoded {
    DecodeResult opened = DecodeResult::NotDecodable;
    DecodeResult result = DecodeResult::NotDecodable;
    std::uint32_t rate = 0;
    std::uint64_t consumed = 0;
    std::vector<float> samples;
};

// Every sample of `bytes`, pulled `piece` frames at a time; the bytes
// consumed never go back and never pass the end.
Decoded decodeAll(const Bytes& bytes, std::size_t piece = 4096) {
    Decoded out;
    AudioDecoder decoder;
    out.opened = openAudioDecoder(decoder, identifyContainer(spanOf(bytes)), spanOf(bytes));
    out.rate = decoder.sampleRate;
    std::vector<float> block(piece);
    for (std::size_t got; (got = readAudio(decoder, block.data(), piece)) > 0;) {
        EXPECT_EQ(decoder.channels, 1U);
        EXPECT_GE(decoder.consumed, out.consumed);
        out.consumed = decoder.consumed;
        out.samples.insert(out.samples.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got));
    }
    EXPECT_LE(decoder.consumed, bytes.size());
    EXPECT_EQ(readAudio(decoder, block.data(), piece), 0U);
    out.consumed = decoder.consumed;
    out.result = decoder.result;
    return out;
}

// The RMS level of each 20 ms.
std::vector<double> levels(const std::vector<float>& samples, std::uint32_t rate) {
    const std::size_t window = rate / 50;
    std::vector<double> out;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        double sum = 0.0;
        for (std::size_t i = at; i < at + window; ++i) sum += static_cast<double>(samples[i]) * static_cast<double>(samples[i]);
        out.push_back(std::sqrt(sum / static_cast<double>(window)));
    }
    return out;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    double ma = 0.0, mb = 0.0;
    for (std::size_t i = 0; i < n; ++i) ma += a[i], mb += b[i];
    ma /= static_cast<double>(n);
    mb /= static_cast<double>(n);
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb), aa += (a[i] - ma) * (a[i] - ma), bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

const struct Clip {
    const char* name;
    std::uint32_t rate;  // what the decoder gives: the lowest that holds 5 kHz
    std::size_t referenceChannels;  // of ffmpeg's decode beside it
    bool sameLevel;      // at ffmpeg's level (its mix of six channels weighs them otherwise)
    double seconds = 6.0;  // all of it: two clips for a chained Ogg file
} kClips[] = {
    {"mp3-44k.mp3", 22050, 2, true},      {"mp3-48k.mp3", 24000, 2, true},      {"mp3-32k.mp3", 16000, 2, true},
    {"mp3-22k.mp3", 11025, 2, true},      {"mp3-mono.mp3", 22050, 1, true},     {"mp2-44k.mp2", 22050, 2, true},
    {"flac-16.flac", 44100, 2, true},     {"flac-24.flac", 44100, 2, true},     {"flac-mono.flac", 44100, 1, true},
    {"flac-6ch.flac", 44100, 2, false},   {"vorbis-44k.ogg", 22050, 2, true},   {"vorbis-16k.ogg", 16000, 2, true},
    {"vorbis-mono.ogg", 22050, 1, true},  {"opus-stereo.opus", 12000, 2, true}, {"opus-mono.opus", 12000, 1, true},
    {"opus-6ch.opus", 12000, 2, false},   {"vorbis-chained.ogg", 22050, 1, true, 12.0},
    {"opus-chained.opus", 12000, 1, true, 12.0},
};

// Each format, rate and layout: the chosen rate, the whole 6 s (every link
// of a chained file), every byte read, and the sound ffmpeg decodes from
// the same file (its level every 20 ms, resampled by ffmpeg to the same
// rate; for a chain, from each link's file).
TEST(AudioDecoder, DecodesEachFormatAtTheLowestRateThatHoldsTheBand) {
    for (const Clip& clip : kClips) {
        SCOPED_TRACE(clip.name);
        const Bytes bytes = readFile(clipPath(clip.name));
        ASSERT_FALSE(bytes.empty());
        const Decoded decoded = decodeAll(bytes);
        ASSERT_EQ(decoded.opened, DecodeResult::Ok);
        EXPECT_EQ(decoded.result, DecodeResult::Ok);
        EXPECT_EQ(decoded.rate, clip.rate);
        EXPECT_EQ(decoded.consumed, bytes.size());
        EXPECT_NEAR(static_cast<double>(decoded.samples.size()) / clip.rate, clip.seconds, 0.06);

        // ffmpeg's decode, mixed to the mean of its channels.
        const Bytes reference = readFile(clipPath(std::string(clip.name) + ".f32"));
        std::vector<float> frames(reference.size() / sizeof(float));
        std::memcpy(frames.data(), reference.data(), frames.size() * sizeof(float));
        std::vector<float> theirs;
        for (std::size_t i = 0; i + clip.referenceChannels <= frames.size(); i += clip.referenceChannels) {
            theirs.push_back(clip.referenceChannels == 1 ? frames[i] : (frames[i] + frames[i + 1]) * 0.5F);
        }
        const std::vector<double> ours = levels(decoded.samples, clip.rate);
        const std::vector<double> ffmpegs = levels(theirs, clip.rate);
        EXPECT_GT(correlation(ours, ffmpegs), 0.98);
        if (clip.sameLevel) {
            double a = 0.0, b = 0.0;
            for (std::size_t i = 0; i < std::min(ours.size(), ffmpegs.size()); ++i) a += ours[i], b += ffmpegs[i];
            EXPECT_NEAR(a / b, 1.0, 0.1);
        }
    }
}

// 16-bit FLAC is lossless and its mix to mono exact: the samples are
// (left + right) / 65536 of the source, to the bit, however they are read.
TEST(AudioDecoder, GivesTheExactSamplesOfLosslessAudioInAnyPieces) {
    const Bytes source = readFile(clipPath("clip.wav"));
    WaveData wave;
    ASSERT_EQ(checkWaveHeader(spanOf(source), wave), WaveCheckResult::Ok);
    std::vector<float> expected;
    for (std::uint32_t at = 0; at + 4 <= wave.dataSize; at += 4) {
        const auto left = static_cast<std::int16_t>(wave.samples[at] | wave.samples[at + 1] << 8U);
        const auto right = static_cast<std::int16_t>(wave.samples[at + 2] | wave.samples[at + 3] << 8U);
        expected.push_back(static_cast<float>((left + right) / 65536.0));
    }
    const Bytes flac = readFile(clipPath("flac-16.flac"));
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{1} << 20}) {
        EXPECT_EQ(decodeAll(flac, piece).samples, expected) << piece;
    }
    // An ID3v2 tag in front, as some taggers write: skipped.
    Bytes tagged = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};
    tagged.resize(30, 0);
    tagged.insert(tagged.end(), flac.begin(), flac.end());
    EXPECT_EQ(decodeAll(tagged).samples, expected);
}

// A file cut short, or with noise over 512 bytes of its middle, is decoded as
// far as it goes (for MP3 the noise is skipped without a word, as by
// ffmpeg); cut before its audio, or given as another container, it is not
// decodable, and nothing outside the bytes is read (AddressSanitizer).
TEST(AudioDecoder, DecodesDamagedFilesAsFarAsTheyGo) {
    for (const char* name : {"mp3-44k.mp3", "flac-16.flac", "vorbis-44k.ogg", "opus-stereo.opus"}) {
        SCOPED_TRACE(name);
        const Bytes bytes = readFile(clipPath(name));
        const std::size_t whole = decodeAll(bytes).samples.size();

        const Decoded half = decodeAll(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2)));
        EXPECT_EQ(half.result, DecodeResult::EndedEarly);
        EXPECT_GT(half.samples.size(), whole * 3 / 10);
        EXPECT_LT(half.samples.size(), whole * 6 / 10);

        Bytes noisy = bytes;
        for (std::size_t i = 0; i < 512; ++i) noisy[bytes.size() / 2 + i] = static_cast<unsigned char>(i * 7919U >> 3U);
        const Decoded damaged = decodeAll(noisy);
        // An Ogg page of these short clips holds up to a second of sound,
        // and the noise may fall on two.
        EXPECT_GT(damaged.samples.size(), whole * 6 / 10);
        EXPECT_EQ(damaged.result, std::string(name) == "mp3-44k.mp3" ? DecodeResult::Ok : DecodeResult::EndedEarly);

        const Bytes start(bytes.begin(), bytes.begin() + 40);
        const Decoded early = decodeAll(start);
        EXPECT_TRUE(early.samples.empty());
        EXPECT_EQ(early.opened == DecodeResult::NotDecodable || early.result == DecodeResult::NotDecodable, true);

        AudioDecoder decoder;
        EXPECT_EQ(openAudioDecoder(decoder, AudioContainer::Wave, spanOf(bytes)), DecodeResult::NotDecodable);
        float sample = 0.0F;
        EXPECT_EQ(readAudio(decoder, &sample, 1), 0U);
    }
    // Each decoder given another format's bytes.
    const Bytes mp3 = readFile(clipPath("mp3-44k.mp3"));
    const Bytes ogg = readFile(clipPath("vorbis-44k.ogg"));
    AudioDecoder decoder;
    for (AudioContainer container : {AudioContainer::Flac, AudioContainer::OggVorbis, AudioContainer::OggOpus}) {
        EXPECT_EQ(openAudioDecoder(decoder, container, spanOf(mp3)), DecodeResult::NotDecodable);
    }
    EXPECT_EQ(openAudioDecoder(decoder, AudioContainer::OggOpus, spanOf(ogg)), DecodeResult::NotDecodable);
    EXPECT_EQ(openAudioDecoder(decoder, AudioContainer::Mpeg, spanOf(Bytes(4000, 0x55))), DecodeResult::NotDecodable);
}

// A chained Ogg file whose second link comes at another rate than its
// first: the analysis cannot change its rate mid-stream, so the stream ends
// after the first link, as a damaged one does, and the bytes of the rest
// are read. The second link's own rate is no reason to refuse the file.
TEST(AudioDecoder, EndsAChainWhereItsRateChanges) {
    const Bytes bytes = readFile(clipPath("vorbis-chained-rates.ogg"));
    const Decoded decoded = decodeAll(bytes);
    ASSERT_EQ(decoded.opened, DecodeResult::Ok);
    EXPECT_EQ(decoded.result, DecodeResult::EndedEarly);
    EXPECT_EQ(decoded.rate, 22050U);
    EXPECT_NEAR(static_cast<double>(decoded.samples.size()) / decoded.rate, 6.0, 0.06);
    // The same bytes, each link its own file, decode whole.
    const Bytes second = readFile(clipPath("vorbis-16k.ogg"));
    const Bytes first(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(second.size()));
    EXPECT_EQ(decodeAll(first).result, DecodeResult::Ok);
    EXPECT_EQ(decodeAll(second).result, DecodeResult::Ok);
}

// What may follow an MP3's last frame (an ID3v1 tag, an APEv2 tag) is no
// sign of a cut, while a last frame missing its end is.
TEST(AudioDecoder, TellsTagsAfterTheLastFrameFromAFrameCutShort) {
    const Bytes mp3 = readFile(clipPath("mp3-44k.mp3"));
    Bytes id3v1 = {'T', 'A', 'G'};
    id3v1.resize(128, ' ');
    Bytes ape = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ape.resize(32, 0);
    Bytes both = ape;
    both.insert(both.end(), id3v1.begin(), id3v1.end());
    const struct {
        const char* name;
        Bytes tail;
        std::size_t cut;
        DecodeResult result;
    } cases[] = {
        {"ID3v1", id3v1, 0, DecodeResult::Ok},
        {"APEv2", ape, 0, DecodeResult::Ok},
        {"APEv2 and ID3v1", both, 0, DecodeResult::Ok},
        {"last frame cut", {}, 100, DecodeResult::EndedEarly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes(mp3.begin(), mp3.end() - static_cast<std::ptrdiff_t>(c.cut));
        bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(decodeAll(bytes).result, c.result);
    }
}

}  // namespace
}  // namespace tempo
