// XXH64 as its authors describe it: four lanes take 32-byte stripes, each
// lane multiplying, rotating and multiplying again; the lanes are merged,
// the length and the last bytes mixed in, and the result avalanched. Bytes
// that do not yet fill a stripe wait in `pending`, so the value does not
// depend on how the stream was cut.

#include "input/stream_hash.hpp"

#include <cstring>

namespace tempo {
namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

std::uint64_t rotateLeft(std::uint64_t value, unsigned bits) { return value << bits | value >> (64U - bits); }

std::uint64_t read64(const unsigned char* bytes) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(bytes[i]) << (8U * i);
    return value;
}

std::uint64_t read32(const unsigned char* bytes) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < 4; ++i) value |= static_cast<std::uint64_t>(bytes[i]) << (8U * i);
    return value;
}

std::uint64_t round(std::uint64_t lane, std::uint64_t input) {
    lane += input * kPrime2;
    return rotateLeft(lane, 31) * kPrime1;
}

std::uint64_t mergeRound(std::uint64_t hash, std::uint64_t lane) {
    hash ^= round(0, lane);
    return hash * kPrime1 + kPrime4;
}

void takeStripe(StreamHash& hash, const unsigned char* stripe) {
    for (unsigned i = 0; i < 4; ++i) hash.lanes[i] = round(hash.lanes[i], read64(stripe + 8 * i));
}

}  // namespace

void addToHash(StreamHash& hash, const unsigned char* bytes, std::size_t count) {
    if (!hash.started) {
        hash.lanes[0] = kPrime1 + kPrime2;
        hash.lanes[1] = kPrime2;
        hash.lanes[2] = 0;
        hash.lanes[3] = 0 - kPrime1;
        hash.started = true;
    }
    hash.totalBytes += count;
    if (hash.pendingBytes > 0) {
        const std::size_t take = count < 32 - hash.pendingBytes ? count : 32 - hash.pendingBytes;
        std::memcpy(hash.pending + hash.pendingBytes, bytes, take);
        hash.pendingBytes += take;
        bytes += take;
        count -= take;
        if (hash.pendingBytes < 32) return;
        takeStripe(hash, hash.pending);
        hash.pendingBytes = 0;
    }
    for (; count >= 32; bytes += 32, count -= 32) takeStripe(hash, bytes);
    std::memcpy(hash.pending, bytes, count);
    hash.pendingBytes = count;
}

std::uint64_t hashValue(const StreamHash& hash) {
    std::uint64_t value = kPrime5;
    if (hash.totalBytes >= 32) {
        const std::uint64_t* lanes = hash.lanes;
        value = rotateLeft(lanes[0], 1) + rotateLeft(lanes[1], 7) + rotateLeft(lanes[2], 12) + rotateLeft(lanes[3], 18);
        for (unsigned i = 0; i < 4; ++i) value = mergeRound(value, lanes[i]);
    }
    value += hash.totalBytes;
    const unsigned char* at = hash.pending;
    std::size_t left = hash.pendingBytes;
    for (; left >= 8; at += 8, left -= 8) value = rotateLeft(value ^ round(0, read64(at)), 27) * kPrime1 + kPrime4;
    if (left >= 4) {
        value = rotateLeft(value ^ read32(at) * kPrime1, 23) * kPrime2 + kPrime3;
        at += 4;
        left -= 4;
    }
    for (; left > 0; ++at, --left) value = rotateLeft(value ^ *at * kPrime5, 11) * kPrime1;
    value ^= value >> 33;
    value *= kPrime2;
    value ^= value >> 29;
    value *= kPrime3;
    value ^= value >> 32;
    return value;
}

}  // namespace tempo
