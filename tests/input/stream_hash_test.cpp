#include "input/stream_hash.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tempo {
namespace {

std::uint64_t hashOf(const std::string& text) {
    StreamHash hash;
    addToHash(hash, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return hashValue(hash);
}

// XXH64 with seed 0, as the reference tool (xxhsum) gives it: below,
// at and above one 32-byte stripe.
TEST(StreamHash, GivesTheReferenceValues) {
    const struct {
        std::string text;
        std::uint64_t value;
    } cases[] = {
        {"", 0xef46db3751d8e999ULL},
        {"a", 0xd24ec4f1a98c6e5bULL},
        {"abc", 0x44bc2cf5ad770999ULL},
        {"0123456789abcdef0123456789abcdef0123456789", 0xa76190c3acf08a1cULL},
        {"The quick brown fox jumps over the lazy dog", 0x0b242d361fda71bcULL},
    };
    for (const auto& c : cases) EXPECT_EQ(hashOf(c.text), c.value) << "[" << c.text << "]";
}

// The same bytes cut anywhere, in pieces of any size, hash the same; one
// byte changed anywhere changes the hash.
TEST(StreamHash, DependsOnTheBytesNotOnHowTheyArrive) {
    std::vector<unsigned char> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 131 + 7);
    StreamHash whole;
    addToHash(whole, bytes.data(), bytes.size());
    for (std::size_t piece : {1U, 3U, 31U, 32U, 33U, 64U, 999U}) {
        StreamHash cut;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            addToHash(cut, bytes.data() + at, std::min(piece, bytes.size() - at));
        }
        EXPECT_EQ(hashValue(cut), hashValue(whole)) << piece;
    }
    for (std::size_t at : {0U, 31U, 500U, 999U}) {
        std::vector<unsigned char> changed = bytes;
        changed[at] ^= 1;
        StreamHash other;
        addToHash(other, changed.data(), changed.size());
        EXPECT_NE(hashValue(other), hashValue(whole)) << at;
    }
}

}  // namespace
}  // namespace tempo
