#pragma once

// A 64-bit hash of a stream of bytes that arrive in pieces of any size:
// XXH64 (seed 0), the same value however the bytes are cut. Used to tell
// whether two decodes of a file gave the same audio, bit for bit; not for
// anything an adversary chooses.

#include <cstddef>
#include <cstdint>

namespace tempo {

struct StreamHash {
    std::uint64_t lanes[4] = {};
    unsigned char pending[32] = {};  // bytes not yet a whole 32-byte stripe
    std::size_t pendingBytes = 0;
    std::uint64_t totalBytes = 0;
    bool started = false;
};

// Adds `count` bytes to the hash.
void addToHash(StreamHash& hash, const unsigned char* bytes, std::size_t count);

// The hash of every byte added so far (the stream may go on after).
std::uint64_t hashValue(const StreamHash& hash);

}  // namespace tempo
