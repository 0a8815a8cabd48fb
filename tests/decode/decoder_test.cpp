#include "decode/decoder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo::scan {
namespace {

// The stand-in child (tests/platform/stand_in.cpp), built beside this test,
// which runs in the same folder, in ffmpeg's place.
#ifdef _WIN32
const std::string kStandIn = "stand_in.exe";
#else
const std::string kStandIn = "./stand_in";
#endif

// A decoder that complains at length in lines shaped like listings still
// has its listings read whole from their own outputs, and none of its
// complaint taken for one: the streams are the one it listed, the facts
// those of its first frames.
TEST(Decoder, ReadsListingsFromTheirOwnOutputsOnly) {
    const testing::TempDir dir;
    // The stand-in writes a WAVE file's bytes after the first four.
    std::vector<unsigned char> bytes{'s', 't', 'n', 'd'};
    const std::vector<unsigned char> wave = testing::validWave(100, 44100);
    bytes.insert(bytes.end(), wave.begin(), wave.end());
    const std::string path = (dir.path() / "chatty.bin").string();
    ASSERT_TRUE(testing::writeFile(path, bytes));
    DecodeSettings settings;
    settings.program = kStandIn;

    std::vector<std::string> streams;
    const DecodedTempo audio = decodeAudio(path, AudioContainer::Unknown, settings, &streams);
    ASSERT_EQ(audio.outcome, DecodeOutcome::Decoded) << scanFailureText(audio.error);
    EXPECT_EQ(streams, std::vector<std::string>{"0,a,MD5=0123456789abcdef0123456789abcdef"});

    settings.describe = true;
    const DecodedTempo described = decodeTempo(path, AudioContainer::Unknown, settings);
    ASSERT_EQ(described.outcome, DecodeOutcome::Decoded) << scanFailureText(described.error);
    EXPECT_EQ(described.facts.codec, "stand_in");
    EXPECT_EQ(described.facts.channels, 2U);
    EXPECT_EQ(described.facts.sampleRate, 44100U);
    // The complaint is still the decoder's own first line.
    EXPECT_EQ(described.complaint, "7,a,MD5=00000000000000000000000000000000");
}

}  // namespace
}  // namespace tempo::scan
