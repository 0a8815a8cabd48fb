// The index through SQLite's C interface: statements prepared once and
// held, every result code mapped to an outcome here, nothing read from
// SQLite's words. A file given as --db is checked (is it SQLite at all,
// ours, whole, of a schema known here) before anything is written to it,
// and with checkpoints on close turned off meanwhile, so a refused file is
// left exactly as it was. Writes are transactions that begin with the
// write lock taken (BEGIN IMMEDIATE), so a run that waits for another waits
// at the start, under the busy timeout, never half way.

#include "library/library_index.hpp"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iterator>
#include <thread>

#include "platform/files.hpp"

namespace tempo::scan {
namespace {

// How long a run waits for another that holds the index. A run holds it
// only for the moment of one batch of rows, so this is generous.
constexpr int kBusyMilliseconds = 60000;

// Each step brings a file of schema version i to version i + 1.
const char* const kSchemaSteps[] = {
    "CREATE TABLE files ("
    " path BLOB PRIMARY KEY NOT NULL,"
    " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL,"
    " method TEXT NOT NULL, version INTEGER NOT NULL, status TEXT NOT NULL,"
    " bpm INTEGER, tempo REAL, confidence REAL, ends_early INTEGER NOT NULL,"
    " error TEXT, failure TEXT, failure_code INTEGER, decoder TEXT, decoder_line TEXT,"
    " duration REAL, sample_rate INTEGER, channels INTEGER, codec TEXT,"
    " tag TEXT, tag_bpm INTEGER, tag_held TEXT,"
    " analysed_at INTEGER NOT NULL, beats BLOB, tempo_changes BLOB) WITHOUT ROWID",
};
static_assert(std::size(kSchemaSteps) == kIndexSchemaVersion, "one step for each schema version");

constexpr const char* kColumns =
    "path, device, inode, size, mtime_ns, method, version, status, bpm, tempo, confidence, ends_early, error, "
    "failure, failure_code, decoder, decoder_line, duration, sample_rate, channels, codec, tag, tag_bpm, tag_held, "
    "analysed_at, beats, tempo_changes";

// The failures' names in the index: fixed, whatever becomes of the enum.
struct FailureName {
    ScanFailure failure;
    const char* name;
};
constexpr FailureName kFailureNames[] = {
    {ScanFailure::System, "system"},
    {ScanFailure::NotRegular, "not regular"},
    {ScanFailure::Shrank, "shrank"},
    {ScanFailure::DecoderMissing, "decoder missing"},
    {ScanFailure::DecoderNotRun, "decoder not run"},
    {ScanFailure::DecoderUnwatched, "decoder unwatched"},
    {ScanFailure::TimedOut, "timed out"},
    {ScanFailure::DecoderKilled, "decoder killed"},
    {ScanFailure::DecoderStatus, "decoder status"},
    {ScanFailure::NotAudio, "not audio"},
    {ScanFailure::EndsEarly, "ends early"},
    {ScanFailure::NotWaveStream, "not a wave stream"},
    {ScanFailure::TooLong, "too long"},
    {ScanFailure::Empty, "empty"},
};

const char* failureName(ScanFailure failure) {
    for (const FailureName& entry : kFailureNames) {
        if (entry.failure == failure) return entry.name;
    }
    return "system";
}

bool failureNamed(const std::string& name, ScanFailure& failure) {
    for (const FailureName& entry : kFailureNames) {
        if (name == entry.name) {
            failure = entry.failure;
            return true;
        }
    }
    return false;
}

const char* statusName(ScanStatus status) {
    switch (status) {
        case ScanStatus::Ok: return "ok";
        case ScanStatus::NoTempo: return "no tempo";
        case ScanStatus::Error:
        case ScanStatus::Interrupted: break;
    }
    return "error";
}

// The outcome of a failed read or write, and the detail it needs.
IndexWriting writingOf(sqlite3* db, int result, int& error) {
    error = result;
    switch (result & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return IndexWriting::Busy;
        case SQLITE_FULL: return IndexWriting::Full;
        case SQLITE_READONLY: return IndexWriting::ReadOnly;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB: return IndexWriting::Damaged;
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
            error = sqlite3_system_errno(db);
            if (error != 0) return IndexWriting::System;
            error = result;
            return IndexWriting::Failed;
        default: return IndexWriting::Failed;
    }
}

// Ends a statement's use, whatever happened: it is kept for the next.
struct StatementUse {
    sqlite3_stmt* statement;
    ~StatementUse() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

std::string columnText(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

void bindText(sqlite3_stmt* statement, int column, const std::string& text, bool nullWhenEmpty = false) {
    if (nullWhenEmpty && text.empty()) return;  // bindings are cleared to NULL
    sqlite3_bind_text(statement, column, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void bindBytes(sqlite3_stmt* statement, int column, const std::string& bytes) {
    sqlite3_bind_blob(statement, column, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

void bindIdentity(sqlite3_stmt* statement, const IndexEntry& entry) {
    sqlite3_bind_int64(statement, 2, static_cast<sqlite3_int64>(entry.identity.device));
    sqlite3_bind_int64(statement, 3, static_cast<sqlite3_int64>(entry.identity.inode));
    sqlite3_bind_int64(statement, 4, entry.identity.size);
    sqlite3_bind_int64(statement, 5, entry.identity.modifiedNs);
}

void bindResult(sqlite3_stmt* statement, const IndexEntry& entry) {
    bindText(statement, 6, entry.method == Method::Accurate ? "accurate" : "classic");
    sqlite3_bind_int(statement, 7, entry.version);
    bindText(statement, 8, statusName(entry.status));
    if (entry.status == ScanStatus::Ok) {
        sqlite3_bind_int64(statement, 9, std::lround(entry.tempo));
        sqlite3_bind_double(statement, 10, entry.tempo);
    }
    if (entry.confidence) sqlite3_bind_double(statement, 11, *entry.confidence);
    sqlite3_bind_int(statement, 12, entry.endsEarly ? 1 : 0);
    if (entry.status == ScanStatus::Error) {
        bindText(statement, 13, scanFailureText(entry.error));
        bindText(statement, 14, failureName(entry.error.failure));
        sqlite3_bind_int(statement, 15, entry.error.code);
        bindText(statement, 16, entry.error.decoder, true);
        bindText(statement, 17, entry.error.decoderLine, true);
    }
}

void bindFactsAndTag(sqlite3_stmt* statement, const IndexEntry& entry) {
    if (entry.facts.seconds) sqlite3_bind_double(statement, 18, *entry.facts.seconds);
    if (entry.facts.sampleRate > 0) sqlite3_bind_int64(statement, 19, entry.facts.sampleRate);
    if (entry.facts.channels > 0) sqlite3_bind_int64(statement, 20, entry.facts.channels);
    bindText(statement, 21, entry.facts.codec, true);
    if (entry.tag != IndexedTag::Unknown) {
        bindText(statement, 22, entry.tag == IndexedTag::Holds ? "holds"
                                : entry.tag == IndexedTag::Kept ? "kept"
                                                                : "not written");
        sqlite3_bind_int(statement, 23, entry.tagBpm);
        bindText(statement, 24, entry.tagHeld, true);
    }
    sqlite3_bind_int64(statement, 25, entry.analysedAt);
}

// The typed columns of a row; false where one holds what no tempo-scan
// writes (the row is then analysed again).
bool readResult(sqlite3_stmt* row, IndexEntry& entry) {
    const std::string method = columnText(row, 5);
    const std::string status = columnText(row, 7);
    entry.method = method == "classic" ? Method::Classic : Method::Accurate;
    entry.version = sqlite3_column_int(row, 6);
    entry.status = status == "ok" ? ScanStatus::Ok : status == "no tempo" ? ScanStatus::NoTempo : ScanStatus::Error;
    entry.tempo = sqlite3_column_double(row, 9);
    if (sqlite3_column_type(row, 10) != SQLITE_NULL) entry.confidence = sqlite3_column_double(row, 10);
    entry.endsEarly = sqlite3_column_int(row, 11) != 0;
    bool known = (method == "classic" || method == "accurate") && (entry.status != ScanStatus::Error || status == "error");
    if (entry.status == ScanStatus::Error) {
        known = failureNamed(columnText(row, 13), entry.error.failure) && known;
        entry.error.code = sqlite3_column_int(row, 14);
        entry.error.decoder = columnText(row, 15);
        entry.error.decoderLine = columnText(row, 16);
    }
    return known;
}

void readFactsAndTag(sqlite3_stmt* row, IndexEntry& entry) {
    if (sqlite3_column_type(row, 17) != SQLITE_NULL) entry.facts.seconds = sqlite3_column_double(row, 17);
    entry.facts.sampleRate = static_cast<unsigned>(sqlite3_column_int64(row, 18));
    entry.facts.channels = static_cast<unsigned>(sqlite3_column_int64(row, 19));
    entry.facts.codec = columnText(row, 20);
    const std::string tag = columnText(row, 21);
    entry.tag = tag == "holds"         ? IndexedTag::Holds
                : tag == "kept"        ? IndexedTag::Kept
                : tag == "not written" ? IndexedTag::NotWritten
                                       : IndexedTag::Unknown;
    entry.tagBpm = sqlite3_column_int(row, 22);
    entry.tagHeld = columnText(row, 23);
    entry.analysedAt = sqlite3_column_int64(row, 24);
}

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

std::vector<double> unpackedDoubles(sqlite3_stmt* row, int column) {
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(row, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(row, column));
    std::vector<double> values;
    for (std::size_t at = 0; bytes != nullptr && at + 8 <= size; at += 8) {
        std::uint64_t bits = 0;
        for (unsigned i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(bytes[at + i]) << (8U * i);
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(value);
    }
    return values;
}

void bindBeats(sqlite3_stmt* statement, const IndexEntry& entry) {
    std::vector<double> changes;
    for (const pulse::TempoChange& change : entry.tempoChanges) {
        changes.push_back(change.at);
        changes.push_back(change.bpm);
    }
    bindBytes(statement, 26, packedDoubles(entry.beats));
    bindBytes(statement, 27, packedDoubles(changes));
}

void readBeats(sqlite3_stmt* row, IndexEntry& entry) {
    entry.beats = unpackedDoubles(row, 25);
    const std::vector<double> changes = unpackedDoubles(row, 26);
    for (std::size_t i = 0; i + 1 < changes.size(); i += 2) entry.tempoChanges.push_back({changes[i], changes[i + 1]});
}

IndexEntry entryOfRow(sqlite3_stmt* row) {
    IndexEntry entry;
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, 0));
    entry.path.assign(bytes == nullptr ? "" : bytes, static_cast<std::size_t>(sqlite3_column_bytes(row, 0)));
    entry.identity.device = static_cast<std::uint64_t>(sqlite3_column_int64(row, 1));
    entry.identity.inode = static_cast<std::uint64_t>(sqlite3_column_int64(row, 2));
    entry.identity.size = sqlite3_column_int64(row, 3);
    entry.identity.modifiedNs = sqlite3_column_int64(row, 4);
    // A row no tempo-scan could have written is never taken: version 0
    // is older than any analysis.
    if (!readResult(row, entry)) entry.version = 0;
    readFactsAndTag(row, entry);
    readBeats(row, entry);
    return entry;
}

// The first byte string after every one that begins with `prefix`.
std::string pastPrefix(std::string prefix) {
    while (!prefix.empty() && static_cast<unsigned char>(prefix.back()) == 0xFF) prefix.pop_back();
    if (!prefix.empty()) prefix.back() = static_cast<char>(static_cast<unsigned char>(prefix.back()) + 1);
    return prefix;
}

}  // namespace

bool indexAvailable() { return true; }

LibraryIndex::~LibraryIndex() { close(); }

void LibraryIndex::close() {
    for (sqlite3_stmt** statement : {&select_, &upsert_, &remove_}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    sqlite3_close(db_);
    db_ = nullptr;
}

namespace {

// The one integer a statement gives, and its result code.
int queryInt(sqlite3* db, const char* sql, int& value) {
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    if (result == SQLITE_OK) {
        result = sqlite3_step(statement);
        if (result == SQLITE_ROW) {
            value = sqlite3_column_int(statement, 0);
            result = SQLITE_OK;
        }
    }
    const int finished = sqlite3_finalize(statement);
    return result == SQLITE_OK ? finished : result;
}

// Whether PRAGMA quick_check finds the file whole.
int quickCheck(sqlite3* db, bool& whole) {
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &statement, nullptr);
    if (result == SQLITE_OK) {
        result = sqlite3_step(statement);
        whole = result == SQLITE_ROW && columnText(statement, 0) == "ok";
        if (result == SQLITE_ROW) result = SQLITE_OK;
    }
    const int finished = sqlite3_finalize(statement);
    return result == SQLITE_OK ? finished : result;
}

IndexOpening openingOf(sqlite3* db, int result, int& error) {
    error = 0;
    switch (result & 0xFF) {
        case SQLITE_NOTADB: return IndexOpening::NotAnIndex;
        case SQLITE_CORRUPT: return IndexOpening::Damaged;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return IndexOpening::Busy;
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_PERM:
        case SQLITE_READONLY:
            error = db == nullptr ? 0 : sqlite3_system_errno(db);
            if (error != 0) return IndexOpening::CannotOpen;
            break;
        default: break;
    }
    error = result;
    return IndexOpening::Failed;
}

// The rows of one root: the root itself, and the paths from ?2 up to ?3.
std::string selectSql() {
    return std::string("SELECT ") + kColumns + " FROM files WHERE path = ?1 OR (path >= ?2 AND path < ?3)";
}

// What the file is, read without writing anything: ours (or empty, to be
// made ours), another program's, damaged, or newer than this program.
IndexOpening readIndexKind(sqlite3* db, int& error) {
    int applicationId = 0;
    int version = 0;
    int objects = 0;
    int result = queryInt(db, "PRAGMA application_id", applicationId);
    if (result == SQLITE_OK) result = queryInt(db, "PRAGMA user_version", version);
    if (result == SQLITE_OK) result = queryInt(db, "SELECT count(*) FROM sqlite_schema", objects);
    if (result != SQLITE_OK) return openingOf(db, result, error);
    if (applicationId == 0 && version == 0 && objects == 0) return IndexOpening::Opened;
    if (applicationId != kIndexApplicationId) return IndexOpening::NotAnIndex;
    if (version > kIndexSchemaVersion) return IndexOpening::Newer;
    bool whole = false;
    result = quickCheck(db, whole);
    if (result != SQLITE_OK) return openingOf(db, result, error);
    if (!whole) return IndexOpening::Damaged;
    if (version == kIndexSchemaVersion) {
        // Our own schema must be all there.
        sqlite3_stmt* statement = nullptr;
        result = sqlite3_prepare_v2(db, selectSql().c_str(), -1, &statement, nullptr);
        sqlite3_finalize(statement);
        if (result != SQLITE_OK) return IndexOpening::Damaged;
    }
    return IndexOpening::Opened;
}

// The same, read in one transaction: another run may be making the file an
// index meanwhile, and its stamp and its table must be seen together.
IndexOpening checkIndex(sqlite3* db, int& error) {
    const int result = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) return openingOf(db, result, error);
    const IndexOpening opening = readIndexKind(db, error);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return opening;
}

// Runs `sql`, again and again while another run holds the file. Switching
// a new file to WAL needs it alone, and SQLite answers busy at once there
// (its busy handler is not asked), when two runs make one index at once.
int execPatiently(sqlite3* db, const char* sql) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyMilliseconds);
    for (;;) {
        const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if ((result & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() > until) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Brings the schema forward to kIndexSchemaVersion, in one transaction.
int migrate(sqlite3* db, bool& newer) {
    int result = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) return result;
    int version = 0;
    result = queryInt(db, "PRAGMA user_version", version);
    newer = result == SQLITE_OK && version > kIndexSchemaVersion;
    for (int step = version; result == SQLITE_OK && step < kIndexSchemaVersion; ++step) {
        result = sqlite3_exec(db, kSchemaSteps[step], nullptr, nullptr, nullptr);
    }
    if (result == SQLITE_OK && version < kIndexSchemaVersion) {
        const std::string stamp = "PRAGMA user_version = " + std::to_string(kIndexSchemaVersion) +
                                  "; PRAGMA application_id = " + std::to_string(kIndexApplicationId);
        result = sqlite3_exec(db, stamp.c_str(), nullptr, nullptr, nullptr);
    }
    if (result == SQLITE_OK && !newer) result = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK || newer) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return result;
}

}  // namespace

IndexOpening LibraryIndex::open(const std::string& path, int& error) {
    close();
    int result = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (result == SQLITE_OK) {
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kBusyMilliseconds);
        // Nothing is written, not even a checkpoint, until the file is known.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    const IndexOpening checked = result == SQLITE_OK ? checkIndex(db_, error) : openingOf(db_, result, error);
    if (checked != IndexOpening::Opened) {
        close();
        return checked;
    }
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    bool newer = false;
    result = execPatiently(db_, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL");
    if (result == SQLITE_OK) result = migrate(db_, newer);
    if (result == SQLITE_OK && !newer) {
        const std::string upsert = "INSERT OR REPLACE INTO files (" + std::string(kColumns) +
                                   ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, "
                                   "?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27)";
        result = sqlite3_prepare_v2(db_, selectSql().c_str(), -1, &select_, nullptr);
        if (result == SQLITE_OK) result = sqlite3_prepare_v2(db_, upsert.c_str(), -1, &upsert_, nullptr);
        if (result == SQLITE_OK) {
            result = sqlite3_prepare_v2(db_, "DELETE FROM files WHERE path = ?1", -1, &remove_, nullptr);
        }
    }
    const IndexOpening opening = newer ? IndexOpening::Newer : result == SQLITE_OK ? IndexOpening::Opened
                                                                                    : openingOf(db_, result, error);
    if (opening != IndexOpening::Opened) close();
    return opening;
}

bool LibraryIndex::load(const std::vector<PathRange>& ranges, std::vector<IndexEntry>& entries, IndexWriting& failure,
                        int& error) {
    for (const PathRange& range : ranges) {
        const StatementUse use{select_};
        bindBytes(select_, 1, range.exact);
        bindBytes(select_, 2, range.prefix);
        bindBytes(select_, 3, range.prefix.empty() ? std::string() : pastPrefix(range.prefix));
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(select_)) == SQLITE_ROW) entries.push_back(entryOfRow(select_));
        if (result != SQLITE_DONE) {
            failure = writingOf(db_, result, error);
            return false;
        }
    }
    return true;
}

IndexWriting LibraryIndex::write(const std::vector<IndexEntry>& entries, const std::vector<std::string>& gone,
                                 int& error) {
    int result = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (std::size_t i = 0; result == SQLITE_OK && i < entries.size(); ++i) {
        const StatementUse use{upsert_};
        bindBytes(upsert_, 1, entries[i].path);
        bindIdentity(upsert_, entries[i]);
        bindResult(upsert_, entries[i]);
        bindFactsAndTag(upsert_, entries[i]);
        bindBeats(upsert_, entries[i]);
        result = sqlite3_step(upsert_) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_);
    }
    for (std::size_t i = 0; result == SQLITE_OK && i < gone.size(); ++i) {
        const StatementUse use{remove_};
        bindBytes(remove_, 1, gone[i]);
        result = sqlite3_step(remove_) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_);
    }
    if (result == SQLITE_OK) result = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (result == SQLITE_OK) return IndexWriting::Written;
    const IndexWriting failure = writingOf(db_, result, error);
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return failure;
}

}  // namespace tempo::scan
