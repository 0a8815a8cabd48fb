// Each column is one line of kColumns: its name, how it is bound from an
// entry, and how it is read back (none for the two columns kept only for
// people's queries: the tempo rounded and the error's words, both made
// from others). Names stored as text (the method, the status, the failure,
// the tag) come from switches the compiler checks and are read back
// through the same switches.

#include "library/index_columns.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <vector>

namespace tempo::scan {
namespace {

const char* methodName(Method method) {
    switch (method) {
        case Method::Accurate: return "accurate";
        case Method::Classic: return "classic";
    }
    return nullptr;
}

const char* statusName(ScanStatus status) {
    switch (status) {
        case ScanStatus::Ok: return "ok";
        case ScanStatus::NoTempo: return "no tempo";
        case ScanStatus::Error: return "error";
        case ScanStatus::Interrupted: break;  // never kept
    }
    return nullptr;
}

const char* tagName(IndexedTag tag) {
    switch (tag) {
        case IndexedTag::Unknown: break;  // NULL
        case IndexedTag::Holds: return "holds";
        case IndexedTag::Kept: return "kept";
        case IndexedTag::NotWritten: return "not written";
    }
    return nullptr;
}

// The value of `values` whose name is `text`.
template <typename Enum>
bool named(const std::string& text, std::initializer_list<Enum> values, const char* (*name)(Enum), Enum& value) {
    for (const Enum candidate : values) {
        const char* known = name(candidate);
        if (known != nullptr && text == known) {
            value = candidate;
            return true;
        }
    }
    return false;
}

void bindText(sqlite3_stmt* statement, int at, const char* text) {
    // Unbound parameters are NULL.
    if (text != nullptr) sqlite3_bind_text(statement, at, text, -1, SQLITE_TRANSIENT);
}

void bindWords(sqlite3_stmt* statement, int at, const std::string& text) {
    if (!text.empty()) sqlite3_bind_text(statement, at, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void bindBytes(sqlite3_stmt* statement, int at, const std::string& bytes) {
    sqlite3_bind_blob(statement, at, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* row, int at) {
    const unsigned char* text = sqlite3_column_text(row, at);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

std::string columnBytes(sqlite3_stmt* row, int at) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, at));
    return bytes == nullptr ? std::string() : std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(row, at)));
}

bool isNull(sqlite3_stmt* row, int at) { return sqlite3_column_type(row, at) == SQLITE_NULL; }

// Numbers as a BLOB of little-endian IEEE doubles: the beats, and the
// tempo changes as pairs of time and tempo. The same bits come back.
std::string packedDoubles(const std::vector<double>& values) {
    std::string bytes;
    bytes.reserve(values.size() * 8);
    for (const double value : values) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        for (unsigned i = 0; i < 8; ++i) bytes += static_cast<char>(bits >> (8U * i) & 0xFFU);
    }
    return bytes;
}

std::vector<double> unpackedDoubles(sqlite3_stmt* row, int at) {
    const std::string bytes = columnBytes(row, at);
    std::vector<double> values;
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t bits = 0;
        for (unsigned b = 0; b < 8; ++b) bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i + b])) << (8U * b);
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(value);
    }
    return values;
}

std::vector<double> changesAsPairs(const std::vector<pulse::TempoChange>& changes) {
    std::vector<double> pairs;
    for (const pulse::TempoChange& change : changes) {
        pairs.push_back(change.at);
        pairs.push_back(change.bpm);
    }
    return pairs;
}

std::vector<pulse::TempoChange> changesOfPairs(const std::vector<double>& pairs) {
    std::vector<pulse::TempoChange> changes;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) changes.push_back({pairs[i], pairs[i + 1]});
    return changes;
}

using Bind = void (*)(sqlite3_stmt* statement, int at, const IndexEntry& entry);
// Clears `known` for a value no tempo-scan writes.
using Read = void (*)(sqlite3_stmt* row, int at, IndexEntry& entry, bool& known);

struct Column {
    const char* name;
    Bind bind;
    Read read;  // nullptr: made from other columns, for queries only
};

bool isError(const IndexEntry& e) { return e.record.status == ScanStatus::Error; }
bool isOk(const IndexEntry& e) { return e.record.status == ScanStatus::Ok; }

// In the order of the table's columns; the status is read before the
// columns that depend on it.
const Column kColumns[] = {
    {"path", [](sqlite3_stmt* s, int at, const IndexEntry& e) { bindBytes(s, at, e.key); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.key = columnBytes(r, at); }},
    {"device", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         sqlite3_bind_int64(s, at, static_cast<sqlite3_int64>(e.record.identity.device)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         e.record.identity.device = static_cast<std::uint64_t>(sqlite3_column_int64(r, at)); }},
    {"inode", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         sqlite3_bind_int64(s, at, static_cast<sqlite3_int64>(e.record.identity.inode)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         e.record.identity.inode = static_cast<std::uint64_t>(sqlite3_column_int64(r, at)); }},
    {"size", [](sqlite3_stmt* s, int at, const IndexEntry& e) { sqlite3_bind_int64(s, at, e.record.identity.size); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.record.identity.size = sqlite3_column_int64(r, at); }},
    {"mtime_ns", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         sqlite3_bind_int64(s, at, e.record.identity.modifiedNs); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         e.record.identity.modifiedNs = sqlite3_column_int64(r, at); }},
    {"method", [](sqlite3_stmt* s, int at, const IndexEntry& e) { bindText(s, at, methodName(e.record.method)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool& known) {
         known = named(columnText(r, at), {Method::Accurate, Method::Classic}, methodName, e.record.method) && known; }},
    {"version", [](sqlite3_stmt* s, int at, const IndexEntry& e) { sqlite3_bind_int(s, at, e.version); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.version = sqlite3_column_int(r, at); }},
    {"status", [](sqlite3_stmt* s, int at, const IndexEntry& e) { bindText(s, at, statusName(e.record.status)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool& known) {
         known = named(columnText(r, at), {ScanStatus::Ok, ScanStatus::NoTempo, ScanStatus::Error}, statusName,
                       e.record.status) && known; }},
    {"bpm", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (isOk(e)) sqlite3_bind_int64(s, at, std::lround(e.record.foundTempo)); },
     nullptr},
    // The tempo as found; a record read back reports it before any range.
    {"tempo", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (isOk(e)) sqlite3_bind_double(s, at, e.record.foundTempo); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         if (!isOk(e)) return;
         e.record.foundTempo = e.record.tempo = sqlite3_column_double(r, at);
         e.record.bpm = static_cast<int>(std::lround(e.record.foundTempo)); }},
    {"confidence", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (e.record.confidence) sqlite3_bind_double(s, at, *e.record.confidence); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         if (!isNull(r, at)) e.record.confidence = sqlite3_column_double(r, at); }},
    {"ends_early", [](sqlite3_stmt* s, int at, const IndexEntry& e) { sqlite3_bind_int(s, at, e.record.endsEarly); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.record.endsEarly = sqlite3_column_int(r, at) != 0; }},
    {"error", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (isError(e)) bindWords(s, at, scanFailureText(e.record.error)); },
     nullptr},
    {"failure", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (isError(e)) bindText(s, at, scanFailureName(e.record.error.failure)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool& known) {
         known = (!isError(e) || scanFailureNamed(columnText(r, at), e.record.error.failure)) && known; }},
    {"failure_code", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (isError(e)) sqlite3_bind_int(s, at, e.record.error.code); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.record.error.code = sqlite3_column_int(r, at); }},
    {"decoder", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (isError(e)) bindWords(s, at, e.record.error.decoder); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.record.error.decoder = columnText(r, at); }},
    {"decoder_line", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (isError(e)) bindWords(s, at, e.record.error.decoderLine); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.record.error.decoderLine = columnText(r, at); }},
    {"duration", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (e.record.facts.seconds) sqlite3_bind_double(s, at, *e.record.facts.seconds); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         if (!isNull(r, at)) e.record.facts.seconds = sqlite3_column_double(r, at); }},
    {"sample_rate", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (e.record.facts.sampleRate > 0) sqlite3_bind_int64(s, at, e.record.facts.sampleRate); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         e.record.facts.sampleRate = static_cast<unsigned>(sqlite3_column_int64(r, at)); }},
    {"channels", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (e.record.facts.channels > 0) sqlite3_bind_int64(s, at, e.record.facts.channels); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         e.record.facts.channels = static_cast<unsigned>(sqlite3_column_int64(r, at)); }},
    {"codec", [](sqlite3_stmt* s, int at, const IndexEntry& e) { bindWords(s, at, e.record.facts.codec); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.record.facts.codec = columnText(r, at); }},
    {"tag", [](sqlite3_stmt* s, int at, const IndexEntry& e) { bindText(s, at, tagName(e.tag)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool& known) {
         known = (isNull(r, at) || named(columnText(r, at), {IndexedTag::Holds, IndexedTag::Kept, IndexedTag::NotWritten},
                                         tagName, e.tag)) && known; }},
    {"tag_bpm", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (e.tag != IndexedTag::Unknown) sqlite3_bind_int(s, at, e.tagBpm); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.tagBpm = sqlite3_column_int(r, at); }},
    {"tag_held", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (e.tag != IndexedTag::Unknown) bindWords(s, at, e.tagHeld); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.tagHeld = columnText(r, at); }},
    {"analysed_at", [](sqlite3_stmt* s, int at, const IndexEntry& e) { sqlite3_bind_int64(s, at, e.analysedAt); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.analysedAt = sqlite3_column_int64(r, at); }},
    {"beats", [](sqlite3_stmt* s, int at, const IndexEntry& e) { bindBytes(s, at, packedDoubles(e.record.beats)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.record.beats = unpackedDoubles(r, at); }},
    {"tempo_changes", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         bindBytes(s, at, packedDoubles(changesAsPairs(e.record.tempoChanges))); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) {
         e.record.tempoChanges = changesOfPairs(unpackedDoubles(r, at)); }},
    {"downbeats", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         bindBytes(s, at, packedDoubles(e.record.downbeats)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool&) { e.record.downbeats = unpackedDoubles(r, at); }},
    // NULL where no bar stands out.
    {"metre", [](sqlite3_stmt* s, int at, const IndexEntry& e) {
         if (e.record.metre != 0) sqlite3_bind_int(s, at, static_cast<int>(e.record.metre)); },
     [](sqlite3_stmt* r, int at, IndexEntry& e, bool& known) {
         const int metre = isNull(r, at) ? 0 : sqlite3_column_int(r, at);
         known = metre >= 0 && metre <= 4 && known;
         e.record.metre = static_cast<unsigned>(std::max(metre, 0)); }},
};

}  // namespace

std::string indexColumnNames() {
    std::string names;
    for (const Column& column : kColumns) names += (names.empty() ? "" : ", ") + std::string(column.name);
    return names;
}

std::string indexColumnParameters() {
    std::string parameters;
    for (std::size_t i = 1; i <= std::size(kColumns); ++i) {
        parameters += (i == 1 ? "?" : ", ?") + std::to_string(i);
    }
    return parameters;
}

void bindIndexEntry(sqlite3_stmt* statement, const IndexEntry& entry) {
    int at = 1;
    for (const Column& column : kColumns) column.bind(statement, at++, entry);
}

bool readIndexEntry(sqlite3_stmt* row, IndexEntry& entry) {
    entry = IndexEntry{};
    bool known = true;
    int at = 0;
    for (const Column& column : kColumns) {
        if (column.read != nullptr) column.read(row, at, entry, known);
        ++at;
    }
    return known;
}

}  // namespace tempo::scan
