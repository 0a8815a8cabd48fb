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

}  // namespace tempo
