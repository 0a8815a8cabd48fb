// Vorbis comments, the tag of Ogg Vorbis (and of FLAC and Opus too): a
// little-endian length and the vendor string, a count, then each field as
// a length and "KEY=value" bytes. Keys are ASCII and taggers write "BPM",
// "bpm" or "Bpm" alike, so a key is compared without regard to case, but
// kept as written; fields keep their order, repeated keys included.

#include "input/tag_formats.hpp"

namespace tempo::tagbytes {
namespace {

// The field's key in upper case ("" where it has no '='); keys are ASCII.
std::string keyOf(const std::string& field) {
    const std::size_t equals = field.find('=');
    std::string key = equals == std::string::npos ? std::string() : field.substr(0, equals);
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

bool readNumber(ByteSpan bytes, std::uint64_t& at, std::uint64_t& value) {
    if (bytes.length < 4 || at > bytes.length - 4) return false;
    value = 0;
    for (unsigned i = 0; i < 4; ++i) value |= std::uint64_t{bytes.bytes[at + i]} << (8U * i);
    at += 4;
    return true;
}

// A length, and that many bytes after it.
bool readLength(ByteSpan bytes, std::uint64_t& at, std::uint64_t& length) {
    return readNumber(bytes, at, length) && length <= bytes.length - at;
}

}  // namespace

bool parseComment(ByteSpan bytes, VorbisComment& comment) {
    comment = VorbisComment{};
    std::uint64_t at = 0;
    std::uint64_t length = 0;
    if (!readLength(bytes, at, length)) return false;
    comment.vendor.assign(reinterpret_cast<const char*>(bytes.bytes + at), length);
    at += length;
    std::uint64_t count = 0;
    if (!readNumber(bytes, at, count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!readLength(bytes, at, length)) return false;
        comment.fields.emplace_back(reinterpret_cast<const char*>(bytes.bytes + at), length);
        at += length;
    }
    comment.rest.assign(bytes.bytes + at, bytes.bytes + bytes.length);
    return true;
}

std::vector<unsigned char> renderComment(const VorbisComment& comment) {
    std::vector<unsigned char> out;
    putLittleEndian(out, comment.vendor.size(), 4);
    out.insert(out.end(), comment.vendor.begin(), comment.vendor.end());
    putLittleEndian(out, comment.fields.size(), 4);
    for (const std::string& field : comment.fields) {
        putLittleEndian(out, field.size(), 4);
        out.insert(out.end(), field.begin(), field.end());
    }
    out.insert(out.end(), comment.rest.begin(), comment.rest.end());
    return out;
}

std::string commentTempo(const VorbisComment& comment) {
    for (const std::string& field : comment.fields) {
        if (keyOf(field) == "BPM") return field.substr(field.find('=') + 1);
    }
    return std::string();
}

void setCommentTempo(VorbisComment& comment, int bpm) {
    std::vector<std::string> fields;
    bool placed = false;
    for (std::string& field : comment.fields) {
        if (keyOf(field) != "BPM") {
            fields.push_back(std::move(field));
        } else if (!placed) {
            fields.push_back(field.substr(0, field.find('=') + 1) + std::to_string(bpm));
            placed = true;
        }
    }
    if (!placed) fields.push_back("BPM=" + std::to_string(bpm));
    comment.fields = std::move(fields);
}

std::string commentDifference(const VorbisComment& original, const VorbisComment& copy, int bpm) {
    if (original.vendor != copy.vendor) return "vendor";
    if (original.rest != copy.rest) return "comment framing";
    std::vector<const std::string*> kept[2];
    for (const std::string& field : original.fields) {
        if (keyOf(field) != "BPM") kept[0].push_back(&field);
    }
    for (const std::string& field : copy.fields) {
        if (keyOf(field) != "BPM") kept[1].push_back(&field);
    }
    for (std::size_t i = 0; i < kept[0].size() || i < kept[1].size(); ++i) {
        const std::string* a = i < kept[0].size() ? kept[0][i] : nullptr;
        const std::string* b = i < kept[1].size() ? kept[1][i] : nullptr;
        if (a == nullptr || b == nullptr || *a != *b) return "comment " + keyOf(a != nullptr ? *a : *b);
    }
    return commentTempo(copy) == std::to_string(bpm) ? std::string() : "tempo";
}

}  // namespace tempo::tagbytes
