#include "decode/in_process_decode.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::scan {
namespace {

namespace fs = std::filesystem;

// The clips made by make_decoder_clips.sh (6 s at 120 BPM).
fs::path clip(const std::string& name) {
    const char* dir = std::getenv("TEMPO_DECODER_CLIPS");
    return fs::path(dir != nullptr ? dir : ".") / name;
}

testing::Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return testing::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Which files the process decodes, and how each ends: the tempo, a file
// cut short with the complaint, the stop, the time limit; the classic
// method, WAVE and M4A, a stream cut before its audio and a missing file
// are left to ffmpeg.
TEST(DecodeInProcess, DecodesItsFormatsAndLeavesTheRestToFfmpeg) {
    const testing::TempDir dir;
    const testing::Bytes flac = readFile(clip("flac-16.flac"));
    ASSERT_FALSE(flac.empty());
    const fs::path cut = dir.path() / "cut.flac";
    const fs::path head = dir.path() / "head.flac";
    ASSERT_TRUE(testing::writeFile(cut, testing::Bytes(flac.begin(), flac.begin() + static_cast<std::ptrdiff_t>(flac.size() / 2))));
    ASSERT_TRUE(testing::writeFile(head, testing::Bytes(flac.begin(), flac.begin() + 100)));
    ASSERT_TRUE(testing::writeFile(dir.path() / "a.m4a", testing::Bytes{0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'M', '4', 'A', ' '}));
    std::atomic<bool> stopped{true};

    const struct {
        fs::path path;
        Method method;
        unsigned timeout;
        const std::atomic<bool>* stop;
        bool handled;
        DecodeOutcome outcome;
        std::string error;
        bool complained;
    } cases[] = {
        {clip("flac-16.flac"), Method::Accurate, 600, nullptr, true, DecodeOutcome::Decoded, "", false},
        {clip("mp3-44k.mp3"), Method::Accurate, 600, nullptr, true, DecodeOutcome::Decoded, "", false},
        {clip("vorbis-44k.ogg"), Method::Accurate, 600, nullptr, true, DecodeOutcome::Decoded, "", false},
        {clip("opus-stereo.opus"), Method::Accurate, 600, nullptr, true, DecodeOutcome::Decoded, "", false},
        {cut, Method::Accurate, 600, nullptr, true, DecodeOutcome::Decoded, "", true},
        {clip("flac-16.flac"), Method::Accurate, 600, &stopped, true, DecodeOutcome::Interrupted, "", false},
        {clip("mp3-44k.mp3"), Method::Accurate, 0, nullptr, true, DecodeOutcome::Failed,
         "decoding took longer than 0 s", false},
        {clip("flac-16.flac"), Method::Classic, 600, nullptr, false, DecodeOutcome::Failed, "", false},
        {clip("clip.wav"), Method::Accurate, 600, nullptr, false, DecodeOutcome::Failed, "", false},
        {dir.path() / "a.m4a", Method::Accurate, 600, nullptr, false, DecodeOutcome::Failed, "", false},
        {head, Method::Accurate, 600, nullptr, false, DecodeOutcome::Failed, "", false},
        {dir.path() / "missing.mp3", Method::Accurate, 600, nullptr, false, DecodeOutcome::Failed, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string() + (c.method == Method::Classic ? " classic" : "") +
                     " timeout " + std::to_string(c.timeout) + (c.stop != nullptr ? " stopped" : ""));
        DecodeSettings settings;
        settings.method = c.method;
        settings.timeoutSeconds = c.timeout;
        settings.stop = c.stop;
        DecodedTempo decoded;
        ASSERT_EQ(decodeInProcess(c.path.string(), settings, decoded), c.handled);
        if (!c.handled) continue;
        EXPECT_EQ(decoded.outcome, c.outcome);
        EXPECT_EQ(c.outcome == DecodeOutcome::Failed ? scanFailureText(decoded.error) : "", c.error);
        EXPECT_EQ(!decoded.complaint.empty(), c.complained);
        // The whole clips; 3 s of one are too short for a tempo.
        if (c.outcome == DecodeOutcome::Decoded && !c.complained) {
            EXPECT_TRUE(decoded.reading.found);
            EXPECT_NEAR(decoded.reading.bpm, 120.0, 1.0);
        }
    }
}

// What the record says of the stream: its own rate, channels and coding,
// not the rate and mix the decoder chose; and its length.
TEST(DecodeInProcess, GivesTheFactsOfTheStreamAsCoded) {
    const struct {
        const char* name;
        unsigned rate;
        unsigned channels;
        const char* codec;
    } cases[] = {
        {"mp3-44k.mp3", 44100, 2, "mp3"},    {"mp3-mono.mp3", 44100, 1, "mp3"},  {"mp2-44k.mp2", 44100, 2, "mp2"},
        {"mp3-22k.mp3", 22050, 2, "mp3"},    {"flac-24.flac", 44100, 2, "flac"}, {"flac-6ch.flac", 44100, 6, "flac"},
        {"vorbis-16k.ogg", 16000, 2, "vorbis"}, {"opus-mono.opus", 48000, 1, "opus"}, {"opus-6ch.opus", 48000, 6, "opus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedTempo decoded;
        ASSERT_TRUE(decodeInProcess(clip(c.name).string(), DecodeSettings{}, decoded));
        EXPECT_EQ(decoded.facts.sampleRate, c.rate);
        EXPECT_EQ(decoded.facts.channels, c.channels);
        EXPECT_EQ(decoded.facts.codec, c.codec);
        ASSERT_TRUE(decoded.facts.seconds.has_value());
        // 6 s, give or take an encoder's padding of a frame or two.
        EXPECT_NEAR(*decoded.facts.seconds, 6.0, 0.06);
    }
}

// The hash that a tagged copy is checked by: the analysis and the decode
// alone give the same one, every run; another file, or the same audio cut
// short, gives another.
TEST(DecodeInProcess, HashesTheSamplesTheAnalysisRead) {
    const testing::TempDir dir;
    const testing::Bytes mp3 = readFile(clip("mp3-44k.mp3"));
    const fs::path cut = dir.path() / "cut.mp3";
    ASSERT_TRUE(testing::writeFile(cut, testing::Bytes(mp3.begin(), mp3.end() - 4000)));
    DecodeSettings settings;
    settings.hashAudio = true;
    const auto hashOf = [&settings](const fs::path& path, bool analyse) {
        DecodedTempo decoded;
        const bool handled = analyse ? decodeInProcess(path.string(), settings, decoded)
                                     : decodeAudioInProcess(path.string(), settings, decoded);
        EXPECT_TRUE(handled) << path;
        EXPECT_GT(decoded.audio.totalBytes, 0U) << path;
        return hashValue(decoded.audio);
    };
    for (const char* name : {"mp3-44k.mp3", "flac-16.flac", "vorbis-44k.ogg", "opus-stereo.opus"}) {
        SCOPED_TRACE(name);
        const std::uint64_t analysed = hashOf(clip(name), true);
        EXPECT_EQ(hashOf(clip(name), false), analysed);
        EXPECT_EQ(hashOf(clip(name), true), analysed);
    }
    EXPECT_NE(hashOf(clip("mp3-44k.mp3"), false), hashOf(clip("mp3-48k.mp3"), false));
    EXPECT_NE(hashOf(cut, false), hashOf(clip("mp3-44k.mp3"), false));
    // Without the setting, nothing is hashed.
    DecodedTempo plain;
    ASSERT_TRUE(decodeInProcess(clip("flac-16.flac").string(), DecodeSettings{}, plain));
    EXPECT_EQ(plain.audio.totalBytes, 0U);
}

}  // namespace
}  // namespace tempo::scan
