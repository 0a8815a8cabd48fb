#include "input/wave_header.hpp"

#include "input/little_endian.hpp"

namespace tempo {
namespace {

constexpr std::uint32_t fourCc(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8U |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16U |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24U;
}

constexpr std::uint32_t kRiffId = fourCc('R', 'I', 'F', 'F');
constexpr std::uint32_t kWaveId = fourCc('W', 'A', 'V', 'E');
// Only three bytes of the fmt chunk's ID are compared; the fourth may be
// anything.
constexpr std::uint32_t kFmtPrefix = fourCc('f', 'm', 't', '\0');
constexpr std::uint32_t kDataId = fourCc('d', 'a', 't', 'a');

constexpr std::uint64_t kFmtSizeOffset = 16;
constexpr std::uint64_t kChannelsOffset = 22;
constexpr std::uint64_t kSampleRateOffset = 24;
constexpr std::uint64_t kBitsPerSampleOffset = 34;
constexpr std::uint64_t kFirstChunkBase = 20;
constexpr std::uint64_t kChunkHeaderSize = 8;

// A chunk's body is padded to an even length.
constexpr std::uint64_t padded(std::uint32_t size) {
    return static_cast<std::uint64_t>(size) + (size & 1U);
}

enum class SizeCheck { AgainstFile, None };

WaveCheckResult walkWaveHeader(ByteSpan image, WaveData& wave, SizeCheck sizeCheck, std::uint64_t* needed) {
    const auto field = [&image](std::uint64_t offset, unsigned width) {
        return readLittleEndian(image.bytes, image.length, offset, width);
    };

    if (field(0, 4) != kRiffId) return WaveCheckResult::RiffCheck;
    if (field(8, 4) != kWaveId) return WaveCheckResult::WaveCheck;
    if (field(12, 3) != kFmtPrefix) return WaveCheckResult::FmtCheck;

    // Offsets stay 64-bit: eleven chunk sizes near 2^32 cannot wrap them.
    std::uint64_t chunk = kFirstChunkBase + padded(field(kFmtSizeOffset, 4));
    unsigned skipped = 0;
    while (field(chunk, 4) != kDataId) {
        if (skipped == kMaxSkippedChunks) return WaveCheckResult::DataChunkCheck;
        // A stream's next chunk header is not here yet: nothing can be
        // decided before it is (zeros read in its place are no "data").
        if (sizeCheck == SizeCheck::None && image.length < chunk + kChunkHeaderSize) {
            if (needed != nullptr) *needed = chunk + kChunkHeaderSize;
            return WaveCheckResult::DataChunkCheck;
        }
        chunk += kChunkHeaderSize + padded(field(chunk + 4, 4));
        ++skipped;
    }

    const std::uint32_t dataSize = field(chunk + 4, 4);
    const std::uint64_t dataEnd = chunk + kChunkHeaderSize + dataSize;
    if (sizeCheck == SizeCheck::AgainstFile) {
        // The file's size modulo 2^32 is what decides; the full length
        // only guards the reads.
        const auto size = static_cast<std::uint32_t>(image.length);
        if (size < dataEnd || image.length < dataEnd) return WaveCheckResult::DataSize;
    } else if (image.length < chunk + kChunkHeaderSize) {
        if (needed != nullptr) *needed = chunk + kChunkHeaderSize;
        return WaveCheckResult::DataChunkCheck;
    }

    if (field(kBitsPerSampleOffset, 2) != 16) return WaveCheckResult::Not16Bit;
    if (field(kChannelsOffset, 2) != 2) return WaveCheckResult::NotStereo;

    wave.samples = image.bytes + (chunk + kChunkHeaderSize);
    wave.dataSize = dataSize;
    wave.sampleRate = field(kSampleRateOffset, 4);
    return WaveCheckResult::Ok;
}

}  // namespace

WaveCheckResult checkWaveHeader(ByteSpan file, WaveData& wave) {
    return walkWaveHeader(file, wave, SizeCheck::AgainstFile, nullptr);
}

WaveCheckResult checkWaveStreamHeader(ByteSpan start, WaveData& wave, std::uint64_t* needed) {
    return walkWaveHeader(start, wave, SizeCheck::None, needed);
}

}  // namespace tempo
