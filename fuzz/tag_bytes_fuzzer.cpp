// Fuzzes the tag edits over bytes of exactly the input's size, as every
// format this tool tags: reading the tempo, rewriting it and comparing the
// copy with the original must stay inside the bytes, and whatever rewrite
// is made must be one the comparison accepts (the edit changes the tempo
// and nothing else) and one that reads back with the new tempo.

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.hpp"
#include "input/tag_bytes.hpp"

namespace {

constexpr tempo::AudioContainer kEdited[] = {
    tempo::AudioContainer::Mpeg,      tempo::AudioContainer::Flac,    tempo::AudioContainer::OggVorbis,
    tempo::AudioContainer::OggOpus,   tempo::AudioContainer::OggFlac, tempo::AudioContainer::Wave,
    tempo::AudioContainer::Aiff,
};

std::vector<unsigned char> assembled(const std::vector<tempo::FilePiece>& pieces, tempo::ByteSpan file) {
    std::vector<unsigned char> out;
    for (const tempo::FilePiece& piece : pieces) {
        if (!piece.bytes.empty()) {
            out.insert(out.end(), piece.bytes.begin(), piece.bytes.end());
            continue;
        }
        FUZZ_CHECK(piece.offset <= file.length && piece.length <= file.length - piece.offset);
        out.insert(out.end(), file.bytes + piece.offset, file.bytes + piece.offset + piece.length);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ExactBytes copy = exactBytes(data, size);
    for (const tempo::AudioContainer container : kEdited) {
        std::string text;
        const tempo::TagLayout read = tempo::readTempoText(container, copy.span, text);
        std::vector<tempo::FilePiece> pieces;
        const tempo::TagLayout rewritten = tempo::rewriteTempo(container, copy.span, 128, pieces);
        if (rewritten != tempo::TagLayout::Edited) continue;
        FUZZ_CHECK(read == tempo::TagLayout::Edited);
        const std::vector<unsigned char> tagged = assembled(pieces, copy.span);
        const ExactBytes written = exactBytes(tagged.data(), tagged.size());
        FUZZ_CHECK(tempo::taggedCopyDifference(container, copy.span, written.span, 128).empty());
        FUZZ_CHECK(tempo::readTempoText(container, written.span, text) == tempo::TagLayout::Edited && text == "128");
    }
    (void)tempo::mp4TagDifference(copy.span, copy.span, 128);
    return 0;
}
