#pragma once

// The one way this tool reads a multi-byte field. Bytes at or past `length`
// read as zero, so a header cut short by the end of the file reads as zeros
// instead of reading beyond it; the offset is 64-bit so it never wraps.

#include <cstdint>

namespace tempo {

// The unsigned little-endian value of `width` (1 to 4) bytes at `offset`.
inline std::uint32_t readLittleEndian(const unsigned char* bytes, std::uint64_t length,
                                      std::uint64_t offset, unsigned width) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        const std::uint64_t at = offset + i;
        if (at < length && at >= offset) {
            value |= static_cast<std::uint32_t>(bytes[at]) << (8U * i);
        }
    }
    return value;
}

// The signed 16-bit little-endian sample at `bytes`, for the sample loop,
// whose bounds are proven once for a whole frame instead of per byte: the
// caller guarantees both bytes lie inside the data chunk.
inline std::int32_t sampleAt(const unsigned char* bytes) {
    const std::uint32_t raw = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8U;
    return static_cast<std::int32_t>(raw) - static_cast<std::int32_t>((raw & 0x8000U) << 1U);
}

}  // namespace tempo
