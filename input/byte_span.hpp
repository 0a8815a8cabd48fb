#pragma once

// A run of bytes that is read, never owned: a file image, a pipe's first
// bytes, a buffer in a test.

#include <cstdint>

namespace tempo {

struct ByteSpan {
    const unsigned char* bytes = nullptr;
    std::uint64_t length = 0;  // bytes readable from `bytes`
};

}  // namespace tempo
