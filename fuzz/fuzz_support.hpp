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

#include "input/file_image.hpp"

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)

struct ExactImage {
    std::unique_ptr<unsigned char[]> bytes;
    tempo::FileImage image;
};

inline ExactImage exactImage(const std::uint8_t* data, std::size_t size) {
    ExactImage copy{std::unique_ptr<unsigned char[]>(new unsigned char[size]), tempo::FileImage{}};
    if (size != 0) std::memcpy(copy.bytes.get(), data, size);
    copy.image.bytes = copy.bytes.get();
    copy.image.length = size;
    copy.image.size = static_cast<std::uint32_t>(size);
    return copy;
}
