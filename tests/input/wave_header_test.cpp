#include "input/wave_header.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/wave_bytes.hpp"

namespace tempo {
namespace {

using testing::Bytes;
using testing::Chunk;
using testing::WaveLayout;
using testing::buildWave;
using testing::spanOf;

Bytes someData(std::size_t bytes) {
    Bytes data(bytes);
    for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
    return data;
}

Chunk junk(const std::string& id, std::uint32_t size) { return Chunk{id, size, Bytes(size, 0x55)}; }

struct HeaderCase {
    const char* name;
    Bytes bytes;
    WaveCheckResult expected;
    std::uint64_t samplesOffset;  // checked when expected is Ok
    std::uint32_t dataSize;       // checked when expected is Ok
};

WaveLayout plain(std::size_t dataBytes = 64) {
    WaveLayout layout;
    layout.data = someData(dataBytes);
    return layout;
}

template <typename Edit>
Bytes with(Edit edit, std::size_t dataBytes = 64) {
    WaveLayout layout = plain(dataBytes);
    edit(layout);
    return buildWave(layout);
}

Bytes withChunks(std::size_t count) {
    return with([count](WaveLayout& s) {
        for (std::size_t i = 0; i < count; ++i) s.chunksBeforeData.push_back(junk("JUNK", 4));
    });
}

// A canonical file whose sample rate field spells "data" and whose byte
// rate is 16: only a chunk walk whose offset wrapped at 32 bits back to
// offset 24 could find a data chunk there.
Bytes wrappedChunkWalk() {
    WaveLayout layout = plain();
    layout.sampleRate = 0x61746164;  // "data"
    // The skipped chunk starts at 36; 36 + 8 + size wraps to 24 in 32 bits.
    layout.chunksBeforeData.push_back(Chunk{"JUNK", 0xFFFFFFFFU - 44U + 25U, Bytes(4, 0)});
    Bytes bytes = buildWave(layout);
    for (int i = 0; i < 4; ++i) bytes[28 + static_cast<std::size_t>(i)] = i == 0 ? 16 : 0;
    return bytes;
}

std::vector<HeaderCase> headerCases() {
    std::vector<HeaderCase> cases = {
        {"canonical", buildWave(plain()), WaveCheckResult::Ok, 44, 64},
        {"fmt size 17 is padded", with([](WaveLayout& s) { s.fmtSize = 17; }), WaveCheckResult::Ok, 46, 64},
        {"fmt size 18", with([](WaveLayout& s) { s.fmtSize = 18; }), WaveCheckResult::Ok, 46, 64},
        {"fmt size 40", with([](WaveLayout& s) { s.fmtSize = 40; }), WaveCheckResult::Ok, 68, 64},
        {"one LIST chunk", with([](WaveLayout& s) { s.chunksBeforeData.push_back(junk("LIST", 26)); }),
         WaveCheckResult::Ok, 44 + 34, 64},
        {"odd chunk of 7 is padded", with([](WaveLayout& s) { s.chunksBeforeData.push_back(junk("odd ", 7)); }),
         WaveCheckResult::Ok, 44 + 16, 64},
        {"10 skipped chunks", withChunks(10), WaveCheckResult::Ok, 44 + 10 * 12, 64},
        {"11 skipped chunks", withChunks(11), WaveCheckResult::DataChunkCheck, 0, 0},
        {"fmt id with any fourth byte", with([](WaveLayout& s) { s.fmtId = "fmtX"; }), WaveCheckResult::Ok, 44, 64},
        {"any format tag", with([](WaveLayout& s) { s.formatTag = 0xFFFE; }), WaveCheckResult::Ok, 44, 64},
        {"empty data chunk", with([](WaveLayout&) {}, 0), WaveCheckResult::Ok, 44, 0},
        {"bytes after the data chunk", with([](WaveLayout& s) { s.trailing = someData(9); }), WaveCheckResult::Ok,
         44, 64},
        {"sample rate 0", with([](WaveLayout& s) { s.sampleRate = 0; }), WaveCheckResult::Ok, 44, 64},

        {"not RIFF", with([](WaveLayout& s) { s.riffId = "RIFX"; }), WaveCheckResult::RiffCheck, 0, 0},
        {"not WAVE", with([](WaveLayout& s) { s.waveId = "AVI "; }), WaveCheckResult::WaveCheck, 0, 0},
        {"not fmt", with([](WaveLayout& s) { s.fmtId = "fnt "; }), WaveCheckResult::FmtCheck, 0, 0},
        {"only RIFF", Bytes{'R', 'I', 'F', 'F'}, WaveCheckResult::WaveCheck, 0, 0},
        {"no data chunk", with([](WaveLayout& s) { s.withDataChunk = false; }), WaveCheckResult::DataChunkCheck, 0, 0},
        {"data chunk cut short", with([](WaveLayout& s) { s.overrideDataSize = true; s.declaredDataSize = 65; }),
         WaveCheckResult::DataSize, 0, 0},
        {"data size wraps 32 bits",
         with([](WaveLayout& s) { s.overrideDataSize = true; s.declaredDataSize = 0xFFFFFFF0U; }),
         WaveCheckResult::DataSize, 0, 0},
        {"data size at the 32-bit limit",
         with([](WaveLayout& s) { s.overrideDataSize = true; s.declaredDataSize = 0xFFFFFFFFU - 44U; }),
         WaveCheckResult::DataSize, 0, 0},
        {"chunk walk wraps 32 bits", wrappedChunkWalk(), WaveCheckResult::DataChunkCheck, 0, 0},

        {"8-bit", with([](WaveLayout& s) { s.bitsPerSample = 8; }), WaveCheckResult::Not16Bit, 0, 0},
        {"24-bit", with([](WaveLayout& s) { s.bitsPerSample = 24; }), WaveCheckResult::Not16Bit, 0, 0},
        {"16-bit mono", with([](WaveLayout& s) { s.channels = 1; }), WaveCheckResult::NotStereo, 0, 0},
        {"8-bit mono", with([](WaveLayout& s) { s.channels = 1; s.bitsPerSample = 8; }), WaveCheckResult::Not16Bit, 0, 0},
        {"8-bit without data chunk", with([](WaveLayout& s) { s.bitsPerSample = 8; s.withDataChunk = false; }),
         WaveCheckResult::DataChunkCheck, 0, 0},
        {"mono and cut short", with([](WaveLayout& s) { s.channels = 1; s.overrideDataSize = true; s.declaredDataSize = 99; }),
         WaveCheckResult::DataSize, 0, 0},
    };

    // fmt size 0 puts an empty data chunk at offset 20, so the file ends
    // at 28 and the bits-per-sample field lies past the end: it reads 0.
    Bytes shortFmt = buildWave(plain(0));
    shortFmt.resize(20);
    for (int i = 16; i < 20; ++i) shortFmt[static_cast<std::size_t>(i)] = 0;
    const Bytes dataHeader = {'d', 'a', 't', 'a', 0, 0, 0, 0};
    shortFmt.insert(shortFmt.end(), dataHeader.begin(), dataHeader.end());
    cases.push_back({"format fields past the end", shortFmt, WaveCheckResult::Not16Bit, 0, 0});
    return cases;
}

TEST(CheckWaveHeader, AnswersEachCase) {
    for (const HeaderCase& c : headerCases()) {
        SCOPED_TRACE(c.name);
        // An exact-size copy, so a sanitizer sees any read past the end.
        const Bytes bytes = c.bytes;
        WaveData wave;
        const WaveCheckResult result = checkWaveHeader(spanOf(bytes), wave);
        ASSERT_EQ(result, c.expected);
        if (result == WaveCheckResult::Ok) {
            EXPECT_EQ(wave.samples - bytes.data(), static_cast<std::ptrdiff_t>(c.samplesOffset));
            EXPECT_EQ(wave.dataSize, c.dataSize);
            EXPECT_LE(c.samplesOffset + wave.dataSize, bytes.size());
        }
    }
}

TEST(CheckWaveHeader, KeepsTheSampleRate) {
    for (std::uint32_t rate : {0U, 1U, 8000U, 44100U, 0xFFFFFFFFU}) {
        WaveLayout layout = plain();
        layout.sampleRate = rate;
        const Bytes bytes = buildWave(layout);
        WaveData wave;
        ASSERT_EQ(checkWaveHeader(spanOf(bytes), wave), WaveCheckResult::Ok);
        EXPECT_EQ(wave.sampleRate, rate);
    }
}

// What a file cut to its first `length` bytes gives: the first step whose
// bytes are missing fails, the chunk walk until `walkDone` bytes are
// there, then `after`.
WaveCheckResult prefixResult(std::size_t length, std::size_t walkDone, WaveCheckResult after) {
    if (length < 4) return WaveCheckResult::RiffCheck;
    if (length < 12) return WaveCheckResult::WaveCheck;
    if (length < 15) return WaveCheckResult::FmtCheck;
    if (length < walkDone) return WaveCheckResult::DataChunkCheck;
    return after;
}

// A file cut anywhere before its end fails at the first step whose bytes
// are missing.
TEST(CheckWaveHeader, RejectsEveryProperPrefix) {
    const Bytes whole = buildWave(plain(64));
    ASSERT_EQ(whole.size(), 108U);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        WaveData wave;
        EXPECT_EQ(checkWaveHeader(spanOf(prefix), wave), prefixResult(length, 40, WaveCheckResult::DataSize));
    }
}

// A decoder's stream declares a data size it cannot know: every prefix
// that holds the data chunk's header is accepted, with the samples just
// past it; a shorter one asks for more.
TEST(CheckWaveStreamHeader, AcceptsEveryPrefixThatHoldsTheHeader) {
    WaveLayout layout = plain(64);
    layout.chunksBeforeData.push_back({"LIST", 3, {1, 2, 3}});
    layout.overrideDataSize = true;
    layout.declaredDataSize = 0xFFFFFFFFU;
    const Bytes whole = buildWave(layout);
    const std::size_t samplesAt = 36 + 12 + 8;
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        WaveData wave;
        const WaveCheckResult expected = prefixResult(length, samplesAt, WaveCheckResult::Ok);
        std::uint64_t needed = 0;
        ASSERT_EQ(checkWaveStreamHeader(spanOf(prefix), wave, &needed), expected);
        if (expected == WaveCheckResult::DataChunkCheck) {
            // Asks for more each time; once the fmt chunk's size is in
            // (20 bytes), for exactly the next chunk header: the LIST
            // chunk's (36 + 8), then the data chunk's (36 + 12 + 8).
            EXPECT_GT(needed, length);
            if (length >= 20) {
                EXPECT_EQ(needed, length < 44 ? 44U : samplesAt);
            }
        }
        if (expected != WaveCheckResult::Ok) continue;
        EXPECT_EQ(wave.samples, prefix.data() + samplesAt);
        EXPECT_EQ(wave.dataSize, 0xFFFFFFFFU);
        EXPECT_EQ(wave.sampleRate, 44100U);
    }
    layout.bitsPerSample = 24;
    WaveData wave;
    EXPECT_EQ(checkWaveStreamHeader(spanOf(buildWave(layout)), wave), WaveCheckResult::Not16Bit);
}

// A file of 4 GiB or more is checked against only the low 32 bits of its
// size; the data size check then sees less than is there and can only
// refuse. (The header is all that is read, so a length past the buffer
// stands in for the large file.)
TEST(CheckWaveHeader, SizeBelowTheTrueLengthOnlyRejects) {
    const Bytes bytes = buildWave(plain(64));
    ASSERT_EQ(bytes.size(), 108U);
    WaveData wave;
    const std::uint64_t fourGiB = std::uint64_t{1} << 32U;
    EXPECT_EQ(checkWaveHeader({bytes.data(), fourGiB + 107}, wave), WaveCheckResult::DataSize);
    EXPECT_EQ(checkWaveHeader({bytes.data(), fourGiB + 108}, wave), WaveCheckResult::Ok);
    EXPECT_EQ(checkWaveHeader({bytes.data(), fourGiB}, wave), WaveCheckResult::DataSize);
    // A span one byte short of the data chunk's end is refused.
    EXPECT_EQ(checkWaveHeader({bytes.data(), 107}, wave), WaveCheckResult::DataSize);
}

TEST(WaveCheckMessage, GivesTheExactLines) {
    const std::vector<std::pair<WaveCheckResult, std::string>> table = {
        {WaveCheckResult::Ok, ""},
        {WaveCheckResult::OpenFailed, "file open error.\n"},
        {WaveCheckResult::MappingFailed, "CreateFileMapping error.\n"},
        {WaveCheckResult::ViewFailed, "MapViewOfFile error.\n"},
        {WaveCheckResult::RiffCheck, "RIFF check error.\n"},
        {WaveCheckResult::WaveCheck, "WAVE check error.\n"},
        {WaveCheckResult::FmtCheck, "fmt check error.\n"},
        {WaveCheckResult::DataChunkCheck, "data chunk check error.\n"},
        {WaveCheckResult::DataSize, "data size error.\n"},
        {WaveCheckResult::Not16Bit, "16bit only.\n"},
        {WaveCheckResult::NotStereo, "stereo only.\n"},
    };
    for (const auto& [result, message] : table) EXPECT_EQ(waveCheckMessage(result), message);
}

}  // namespace
}  // namespace tempo
