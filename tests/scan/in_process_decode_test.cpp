#include "scan/in_process_decode.hpp"

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
        EXPECT_EQ(decoded.error, c.error);
        EXPECT_EQ(decoded.complained, c.complained);
        // The whole clips; 3 s of one are too short for a tempo.
        if (c.outcome == DecodeOutcome::Decoded && !c.complained) {
            EXPECT_TRUE(decoded.reading.found);
            EXPECT_NEAR(decoded.reading.bpm, 120.0, 1.0);
        }
    }
}

}  // namespace
}  // namespace tempo::scan
