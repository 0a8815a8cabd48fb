// The index through SQLite's C interface: statements prepared once and
// held, every result code mapped to an outcome here, nothing read from
// SQLite's words; the columns of a row are index_columns.cpp's. A file
// given as --db is checked (may it be written, and its folder; is it
// SQLite at all, ours, whole, of a schema known here) before anything is
// written to it or made beside it, and with checkpoints on close turned
// off meanwhile, so a refused file is left exactly as it was. Writes are transactions that begin with the
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

#include "library/index_columns.hpp"
#include "library/index_keys.hpp"
#include "platform/files.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

// How long a run waits for another that holds the index. A run holds it
// only for the moment of one batch of rows, so this is generous.
constexpr int kBusyMilliseconds = 60000;

// Writes the rows of a schema of version 1, keyed by paths as the command
// line gave them, under their files' keys: of the rows that name one file,
// the one analysed last stays. A row of an accurate Vorbis or Opus file
// (2.3.0 read a chained file to its first link only, and an Opus file past
// its end) or of a file found to hold no audio at all (then "no tempo") is
// marked to be analysed again (version 0); the rest are kept as they are.
constexpr const char* kRekeyStep =
    "CREATE TEMP TABLE rekeyed (old BLOB PRIMARY KEY, key BLOB NOT NULL, analysed_at INTEGER NOT NULL);"
    "INSERT INTO rekeyed SELECT path, tempo_key(path), analysed_at FROM files;"
    "CREATE INDEX temp.rekeyed_by_key ON rekeyed (key);"
    "DELETE FROM files WHERE path IN (SELECT a.old FROM rekeyed AS a JOIN rekeyed AS b ON a.key = b.key"
    " AND (b.analysed_at > a.analysed_at OR (b.analysed_at = a.analysed_at AND b.old > a.old)));"
    "UPDATE OR REPLACE files SET path = (SELECT key FROM rekeyed WHERE old = files.path);"
    "UPDATE files SET version = 0 WHERE (method = 'accurate' AND codec IN ('vorbis', 'opus'))"
    " OR (status = 'no tempo' AND duration = 0);"
    "DROP TABLE temp.rekeyed;";

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
    kRekeyStep,
    // Rows of an older analysis have none; they are analysed again anyway.
    "ALTER TABLE files ADD COLUMN downbeats BLOB; ALTER TABLE files ADD COLUMN metre INTEGER",
};
static_assert(std::size(kSchemaSteps) == kIndexSchemaVersion, "one step for each schema version");

// The system's error behind SQLite's last failure, as an errno value: on
// Windows SQLite keeps the system's own error code.
int systemErrno(sqlite3* db) {
    const int error = sqlite3_system_errno(db);
    return error == 0 ? 0 : platform::errnoOfSystemError(error);
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
            error = systemErrno(db);
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

void bindBytes(sqlite3_stmt* statement, int column, const std::string& bytes) {
    sqlite3_bind_blob(statement, column, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

// tempo_key(path) in SQL: the key of a path kept by an older schema.
void keyFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    const auto* bytes = static_cast<const char*>(sqlite3_value_blob(arguments[0]));
    const std::string path(bytes == nullptr ? "" : bytes, static_cast<std::size_t>(sqlite3_value_bytes(arguments[0])));
    IndexKeys keys;
    const std::string key = keys.keyOf(path);
    sqlite3_result_blob(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
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
        const unsigned char* text = sqlite3_column_text(statement, 0);
        whole = result == SQLITE_ROW && text != nullptr && std::strcmp(reinterpret_cast<const char*>(text), "ok") == 0;
        if (result == SQLITE_ROW) result = SQLITE_OK;
    }
    const int finished = sqlite3_finalize(statement);
    return result == SQLITE_OK ? finished : result;
}

IndexOpening openingOf(sqlite3* db, int result, int& error) {
    error = 0;
    if (result == SQLITE_READONLY_DIRECTORY) return IndexOpening::FolderReadOnly;
    switch (result & 0xFF) {
        case SQLITE_NOTADB: return IndexOpening::NotAnIndex;
        case SQLITE_CORRUPT: return IndexOpening::Damaged;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return IndexOpening::Busy;
        case SQLITE_READONLY: return IndexOpening::ReadOnly;
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_PERM:
            error = db == nullptr ? 0 : systemErrno(db);
            if (error != 0) return IndexOpening::CannotOpen;
            break;
        default: break;
    }
    error = result;
    return IndexOpening::Failed;
}

// The rows of one root: the root itself, and the paths from ?2 up to ?3.
std::string selectSql() {
    return "SELECT " + indexColumnNames() + " FROM files WHERE path = ?1 OR (path >= ?2 AND path < ?3)";
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

// Whether the index at `path` may be written, and files made in its folder
// (SQLite keeps its log and shared memory beside it), looked at before
// SQLite opens it: SQLite opens a file it may not write for reading, and a
// file in a folder it may not write fails only at its first write, after
// it may have made its log read-only. A folder that is not there is left
// to the opening to name.
IndexOpening checkWritable(const std::string& path, int& error) {
    if (!platform::mayWrite(platform::folderOf(path), error) && error != ENOENT && error != ENOTDIR) {
        return IndexOpening::FolderReadOnly;
    }
    platform::FileStatus status;
    int missing = 0;
    if (platform::readFileStatus(path, status, missing) && !platform::mayWrite(path, error)) {
        return IndexOpening::ReadOnly;
    }
    // Left read-only beside it by a run of 2.3.0 on a read-only index.
    for (const char* suffix : {"-wal", "-shm"}) {
        if (platform::readFileStatus(path + suffix, status, missing) && !platform::mayWrite(path + suffix, error)) {
            return IndexOpening::LogReadOnly;
        }
    }
    error = 0;
    return IndexOpening::Opened;
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
    const IndexOpening writable = checkWritable(path, error);
    if (writable != IndexOpening::Opened) return writable;
    int result = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (result == SQLITE_OK) {
        // A file the system lets nobody write (a read-only mount, an
        // immutable file) SQLite opens for reading, and would then make
        // its log and shared memory beside it read-only too.
        if (sqlite3_db_readonly(db_, "main") == 1) {
            close();
            error = 0;
            return IndexOpening::ReadOnly;
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kBusyMilliseconds);
        // Nothing is written, not even a checkpoint, until the file is known.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        result = sqlite3_create_function(db_, "tempo_key", 1, SQLITE_UTF8, nullptr, keyFunction, nullptr, nullptr);
    }
    const IndexOpening checked = result == SQLITE_OK ? checkIndex(db_, error) : openingOf(db_, result, error);
    if (checked != IndexOpening::Opened) {
        close();
        return checked;
    }
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    bool newer = false;
    // A commit returns once its rows are on the disk (synchronous FULL in
    // WAL mode): a power cut loses the rows not yet committed, never one
    // that was.
    result = execPatiently(db_, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL");
    if (result == SQLITE_OK) result = migrate(db_, newer);
    if (result == SQLITE_OK && !newer) {
        const std::string upsert =
            "INSERT OR REPLACE INTO files (" + indexColumnNames() + ") VALUES (" + indexColumnParameters() + ")";
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
        while ((result = sqlite3_step(select_)) == SQLITE_ROW) {
            IndexEntry entry;
            // A row no tempo-scan could have written is never taken:
            // version 0 is older than any analysis.
            if (!readIndexEntry(select_, entry)) entry.version = 0;
            entries.push_back(std::move(entry));
        }
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
        bindIndexEntry(upsert_, entries[i]);
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
