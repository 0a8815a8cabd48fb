#pragma once

// Shared by the fuzz targets: an exact-size heap copy of the input, so that
// AddressSanitizer sees any read past the end of the "file", and an
// invariant check that aborts, which both libFuzzer and the replay runner
// report as a failure.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "input/byte_span.hpp"

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)

// A copy of the input in a buffer of exactly its size, so that
// AddressSanitizer sees any read past the end of the "file".
struct ExactBytes {
    std::unique_ptr<unsigned char[]> bytes;
    tempo::ByteSpan span;
};

inline ExactBytes exactBytes(const std::uint8_t* data, std::size_t size) {
    ExactBytes copy{std::unique_ptr<unsigned char[]>(new unsigned char[size]), tempo::ByteSpan{}};
    if (size != 0) std::memcpy(copy.bytes.get(), data, size);
    copy.span = {copy.bytes.get(), size};
    return copy;
}
