#include "decode/analyse_file.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/path.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::scan {
namespace {

// --range: doubled or halved until the whole number lies in the range.
TEST(ReportedBpm, FoldsIntoTheRange) {
    const struct {
        double bpm;
        TempoRange range;
        int expected;
    } cases[] = {
        {120.02, {}, 120},       {119.5, {}, 120},         {120.02, {60, 120}, 120}, {121.0, {60, 120}, 61},
        {240.0, {60, 120}, 120}, {45.0, {60, 120}, 90},    {29.9, {60, 120}, 60},   {240.0, {70, 140}, 120},
        {100.0, {90, 180}, 100}, {59.7, {60, 120}, 60},    {59.4, {60, 120}, 119},   {400.0, {50, 100}, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bpm) + " in " + std::to_string(c.range.min) + "-" + std::to_string(c.range.max));
        EXPECT_EQ(reportedBpm(c.bpm, c.range), c.expected);
    }
}

// A path that names nothing, or no file, is an error record in the
// system's plain words, the same on every platform; the decoder is never
// asked.
TEST(AnalyseFile, NamesWhatIsNotThere) {
    const testing::TempDir dir;
    const std::string folder = dir.path().string();
    DecodeSettings settings;
    settings.program = "no-such-decoder-program";
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {folder + platform::kPathSeparator + "missing.flac", "no such file or directory"},
        {folder + platform::kPathSeparator + "missing" + platform::kPathSeparator + "x.flac", "no such file or directory"},
        {folder, "not a regular file"},
        // An empty file is named as such, whatever its name promises.
        {(dir.path() / "empty.mp3").string(), "empty file"},
        {(dir.path() / "empty.wav").string(), "empty file"},
    };
    ASSERT_TRUE(testing::writeFile(dir.path() / "empty.mp3", {}));
    ASSERT_TRUE(testing::writeFile(dir.path() / "empty.wav", {}));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const ScanRecord record = analyseFile(c.path, settings, TempoRange{});
        EXPECT_EQ(record.status, ScanStatus::Error);
        EXPECT_EQ(scanFailureText(record.error), c.reason);
    }
}

// A WAVE file read in place says what it is from its header: the rate,
// two channels of 16-bit samples, and the length its data chunk holds.
TEST(AnalyseFile, TakesTheFactsOfAWaveFromItsHeader) {
    const testing::TempDir dir;
    const struct {
        std::uint32_t blocks;  // of 512 frames
        std::uint32_t rate;
        double seconds;
    } cases[] = {{375, 48000, 4.0}, {100, 44100, 51200.0 / 44100}, {43, 22050, 22016.0 / 22050}};
    DecodeSettings settings;
    settings.program = "no-such-decoder-program";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const std::filesystem::path path = dir.path() / ("clip-" + std::to_string(c.rate) + ".wav");
        ASSERT_TRUE(testing::writeFile(path, testing::validWave(c.blocks, c.rate)));
        const ScanRecord record = analyseFile(path.string(), settings, TempoRange{});
        ASSERT_NE(record.status, ScanStatus::Error) << scanFailureText(record.error);
        EXPECT_EQ(record.facts.sampleRate, c.rate);
        EXPECT_EQ(record.facts.channels, 2U);
        EXPECT_EQ(record.facts.codec, "pcm_s16le");
        ASSERT_TRUE(record.facts.seconds.has_value());
        EXPECT_DOUBLE_EQ(*record.facts.seconds, c.seconds);
        EXPECT_EQ(record.identity.size, static_cast<std::int64_t>(std::filesystem::file_size(path)));
    }
}

}  // namespace
}  // namespace tempo::scan
