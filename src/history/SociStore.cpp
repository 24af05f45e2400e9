#include "history/SociStore.h"

#include <array>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>

namespace {

// What differs between the two databases.
struct Dialect {
    const char* idColumn;
    // Before the schema is made: a transaction that only one station holds at a time (after what
    // must be said outside one).
    std::vector<const char*> beginCreate;
    const char* tableExists; // counts the tables named :name
};
const Dialect kSqlite{"INTEGER PRIMARY KEY",
                      {"BEGIN IMMEDIATE"},
                      "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = :name"};
// "relation already exists, skipping" and the like are no news to the user. The advisory lock's key
// is any number of our own: it serializes the schema's creation.
const Dialect kPostgres{
    "BIGSERIAL PRIMARY KEY",
    {"SET client_min_messages = warning", "BEGIN", "SELECT pg_advisory_xact_lock(2027270001)"},
    "SELECT count(*) FROM information_schema.tables WHERE table_schema = "
    "current_schema() AND table_name = :name"};

// The entry's text columns, in the table's order; the other columns (id, result, confirmed and the
// data) are written out below.
struct TextColumn {
    const char* name;
    std::string HistoryEntry::*field;
};
constexpr std::array<TextColumn, 12> kTextColumns{{
    {"uid", &HistoryEntry::uid},
    {"time_utc", &HistoryEntry::time},
    {"station", &HistoryEntry::station},
    {"user_name", &HistoryEntry::user},
    {"program_version", &HistoryEntry::programVersion},
    {"port", &HistoryEntry::port},
    {"device", &HistoryEntry::device},
    {"serial", &HistoryEntry::serial},
    {"part", &HistoryEntry::part},
    {"firmware", &HistoryEntry::firmware},
    {"action", &HistoryEntry::action},
    {"error_text", &HistoryEntry::error},
}};
constexpr const char* kResultNames[] = {"ok", "incomplete", "failed"};

const Dialect& DialectOf(HistoryTarget::Kind kind) {
    return kind == HistoryTarget::Kind::Postgres ? kPostgres : kSqlite;
}

// A database's message on one line: libpq puts the reason on the lines after SOCI's own.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        const bool space = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (!space)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '.'))
        line.pop_back();
    return line;
}

// Blobs differ between the back-ends (PostgreSQL's go through large objects), so the data are
// kept as hexadecimal text.
std::string ToHex(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bad hexadecimal (written by someone else) gives no data rather than wrong data.
std::vector<uint8_t> FromHex(const std::string& text) {
    std::vector<uint8_t> bytes;
    if (text.size() % 2 != 0) return bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return {};
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::string CreateEntriesTable(const Dialect& dialect) {
    std::string sql = "CREATE TABLE IF NOT EXISTS history_entries (id " + std::string(dialect.idColumn);
    for (const TextColumn& c : kTextColumns)
        sql += ", " + std::string(c.name) + " TEXT NOT NULL";
    sql +=
        ", result TEXT NOT NULL, confirmed INTEGER NOT NULL, parameters TEXT NOT NULL, matrix TEXT NOT NULL"
        ", UNIQUE (uid))";
    return sql;
}

std::string InsertEntry() {
    std::string columns, values;
    for (const TextColumn& c : kTextColumns) {
        columns += std::string(c.name) + ", ";
        values += ":" + std::string(c.name) + ", ";
    }
    return "INSERT INTO history_entries (" + columns + "result, confirmed, parameters, matrix) VALUES (" +
           values + ":result, :confirmed, :parameters, :matrix) ON CONFLICT (uid) DO NOTHING RETURNING id";
}

std::string SelectColumns(bool withData) {
    std::string sql = "SELECT id";
    for (const TextColumn& c : kTextColumns)
        sql += ", " + std::string(c.name);
    sql += ", result, confirmed";
    if (withData) sql += ", parameters, matrix";
    return sql + " FROM history_entries ";
}

// One row as SOCI fills it.
struct Row {
    long long id = 0;
    HistoryEntry entry;
    std::string result, parameters, matrix;
    int confirmed = -1;

    HistoryEntry Take() {
        entry.id = id;
        entry.result = HistoryResult::Failed; // an unknown result is no success
        for (size_t i = 0; i < std::size(kResultNames); ++i)
            if (result == kResultNames[i]) entry.result = static_cast<HistoryResult>(i);
        entry.confirmed = confirmed;
        entry.parameters = FromHex(parameters);
        entry.matrix = FromHex(matrix);
        return entry;
    }
};

// The last connection to close would copy the write-ahead log into the file and sync both, which
// costs a job of one entry more than the entry itself. The log is on disk whole at every commit
// (synchronous = FULL), so it is left for a later commit to copy instead. SQLite's own automatic
// checkpoint does not serve a program that commits once per process: each opening rebuilds the
// log's index, which forgets what was copied, so the log would never start again and every later
// commit would copy all of it. So a commit that finds the log longer than LOG_PAGES copies it and
// cuts it to nothing (TRUNCATE); the next opening then has nothing to read back. That costs one
// commit in about every fortieth job. The entry has been committed by then, so the job does not wait
// for another station: one in the way leaves the log to the next commit.
constexpr int LOG_PAGES = 160;
// How long a writer waits for the one before it.
constexpr int BUSY_TIMEOUT_MS = 10000;

int CheckpointLongLog(void*, sqlite_api::sqlite3* db, const char* name, int pages) {
    if (pages < LOG_PAGES) return SQLITE_OK;
    sqlite_api::sqlite3_busy_timeout(db, 0);
    sqlite_api::sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite_api::sqlite3_busy_timeout(db, BUSY_TIMEOUT_MS);
    return SQLITE_OK;
}

void KeepLogOnClose(sqlite_api::sqlite3* db) {
    sqlite_api::sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite_api::sqlite3_wal_hook(db, CheckpointLongLog, nullptr);
}

std::string SqliteConnectString(const std::string& path) {
    // SOCI reads "key=value" pairs only when the text holds a '='; a plain path is taken whole.
    if (path.find('=') == std::string::npos) return path;
    return "db=\"" + path + "\"";
}

// libpq waits for an unanswered TCP connection without limit unless told otherwise.
std::string PostgresConnectString(const std::string& uri) {
    if (uri.find("connect_timeout") != std::string::npos) return uri;
    return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "connect_timeout=10";
}

} // namespace

std::unique_ptr<SociHistoryStore> SociHistoryStore::Open(const HistoryTarget& target,
                                                         HistoryOpenFailure* failure, std::string* error) {
    std::string why;
    HistoryOpenFailure result = HistoryOpenFailure::Damaged;
    std::unique_ptr<SociHistoryStore> store;
    if (target.kind == HistoryTarget::Kind::Off) {
        why = "the history is off";
    } else if (target.kind == HistoryTarget::Kind::Unusable) {
        why = target.location;
    } else {
        store.reset(new SociHistoryStore(target));
        result = store->Connect(&why);
        if (result == HistoryOpenFailure::None) result = store->PrepareSchema(&why);
    }
    if (failure) *failure = result;
    if (result == HistoryOpenFailure::None) return store;
    if (error) *error = why;
    return nullptr;
}

HistoryOpenFailure SociHistoryStore::Connect(std::string* error) {
    const bool postgres = target_.kind == HistoryTarget::Kind::Postgres;
    try {
        if (postgres) {
            sql_.open(*soci::factory_postgresql(), PostgresConnectString(target_.location));
        } else {
            sql_.open(*soci::factory_sqlite3(), SqliteConnectString(target_.location));
            // Several qln-cli processes write at once: a writer waits for the one before it. FULL
            // makes every entry reach the disk with its transaction; WAL keeps the file whole
            // whenever a process is killed.
            sql_ << "PRAGMA busy_timeout = " << BUSY_TIMEOUT_MS;
            sql_ << "PRAGMA synchronous = FULL";
            KeepLogOnClose(static_cast<soci::sqlite3_session_backend&>(*sql_.get_backend()).conn_);
            // WAL lets stations write while others read, and is a lasting property of the file, so
            // this is a no-op once it is set. Setting it needs the file alone for a moment; when
            // another station starting on the same new file holds it just then, SQLite refuses at
            // once instead of waiting (the two could wait for each other), and the file works in
            // its rollback journal, as safely, until a later opening sets WAL.
            try {
                sql_ << "PRAGMA journal_mode = WAL";
            } catch (const soci::soci_error&) {
            }
        }
        return HistoryOpenFailure::None;
    } catch (const soci::soci_error& e) {
        *error = "the history database " + HistoryTargetName(target_) + " cannot be " +
                 (postgres ? "reached: " : "opened: ") + OneLine(e.what());
        return postgres ? HistoryOpenFailure::Unreachable : HistoryOpenFailure::Damaged;
    }
}

bool SociHistoryStore::TableExists(const char* name) {
    long long count = 0;
    const std::string table = name;
    sql_ << DialectOf(target_.kind).tableExists, soci::use(table, "name"), soci::into(count);
    return count > 0;
}

// A database in use answers the version at once; only one that has none yet (no table, or no row)
// takes the lock, under which one station makes the schema while the others wait and then find it
// made. A version newer than ours is refused before anything is written.
HistoryOpenFailure SociHistoryStore::PrepareSchema(std::string* error) {
    int known = 0;
    try {
        known = ReadVersion();
    } catch (const soci::soci_error&) {
        // No table yet, or a file that is no database: the locked path below tells which.
    }
    try {
        if (known == 0) known = MakeSchema();
        if (known > kHistorySchemaVersion) {
            *error = "the history database " + HistoryTargetName(target_) + " has schema version " +
                     std::to_string(known) + ", newer than this program knows (" +
                     std::to_string(kHistorySchemaVersion) + "); update qln, or choose another database";
            return HistoryOpenFailure::NewerSchema;
        }
        if (known != kHistorySchemaVersion) {
            *error = "the history database " + HistoryTargetName(target_) +
                     " has the unknown schema version " + std::to_string(known) + "; choose another database";
            return HistoryOpenFailure::Damaged;
        }
        return HistoryOpenFailure::None;
    } catch (const soci::soci_error& e) {
        const bool lost = target_.kind == HistoryTarget::Kind::Postgres && !sql_.is_connected();
        *error = "the history database " + HistoryTargetName(target_) +
                 (lost ? " cannot be reached: " : " cannot be used: ") + OneLine(e.what());
        return lost ? HistoryOpenFailure::Unreachable : HistoryOpenFailure::Damaged;
    }
}

// The schema's version; 0 for a table without a row. Throws when there is no table.
int SociHistoryStore::ReadVersion() {
    int version = 0;
    soci::indicator found = soci::i_null;
    sql_ << "SELECT max(version) FROM schema_version", soci::into(version, found);
    return found == soci::i_ok ? version : 0;
}

// Makes the schema under the lock unless another station has made it meanwhile; returns the version.
int SociHistoryStore::MakeSchema() {
    const Dialect& dialect = DialectOf(target_.kind);
    for (const char* statement : dialect.beginCreate)
        sql_ << statement;
    try {
        int known = TableExists("schema_version") ? ReadVersion() : 0;
        if (known == 0) {
            sql_ << "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";
            sql_ << CreateEntriesTable(dialect);
            sql_ << "CREATE INDEX IF NOT EXISTS history_entries_serial ON history_entries (serial)";
            sql_ << "INSERT INTO schema_version (version) VALUES (" << kHistorySchemaVersion << ")";
            known = kHistorySchemaVersion;
        }
        sql_ << (known == kHistorySchemaVersion ? "COMMIT" : "ROLLBACK");
        return known;
    } catch (...) {
        sql_ << "ROLLBACK";
        throw;
    }
}

bool SociHistoryStore::Add(HistoryEntry& entry, std::string* error) {
    if (entry.uid.empty()) entry.uid = NewHistoryUid();
    try {
        const std::string result = HistoryResultName(entry.result);
        const std::string parameters = ToHex(entry.parameters), matrix = ToHex(entry.matrix);
        const int confirmed = entry.confirmed;
        long long id = 0;
        soci::indicator got = soci::i_null;
        soci::statement st(sql_);
        for (const TextColumn& c : kTextColumns)
            st.exchange(soci::use(entry.*c.field));
        st.exchange(soci::use(result));
        st.exchange(soci::use(confirmed));
        st.exchange(soci::use(parameters));
        st.exchange(soci::use(matrix));
        st.exchange(soci::into(id, got));
        st.alloc();
        // Run once: PostgreSQL is sent the statement with its values in one message, not
        // prepared, executed and deallocated in three.
        st.prepare(InsertEntry(), soci::details::st_one_time_query);
        st.define_and_bind();
        // One statement, one transaction: the entry is there whole or not at all. It is stepped to
        // its end, so that it commits there and not when it is freed: SQLite runs its log hook
        // (CheckpointLongLog) only after a statement that has ended.
        const bool inserted = st.execute(true) && got == soci::i_ok;
        const long long newId = id;
        while (st.fetch()) {
        }
        id = newId;
        if (!inserted) {
            // Delivered before (the outbox's delete did not happen): the stored one stands.
            sql_ << "SELECT id FROM history_entries WHERE uid = :uid", soci::use(entry.uid), soci::into(id);
        }
        entry.id = id;
        return true;
    } catch (const soci::soci_error& e) {
        if (error)
            *error = "the history database " + HistoryTargetName(target_) +
                     " did not take the entry: " + OneLine(e.what());
        return false;
    }
}

std::vector<HistoryEntry> SociHistoryStore::Select(const std::string& tail, bool withData,
                                                   const std::function<void(soci::statement&)>& bindKey,
                                                   std::string* error) {
    std::vector<HistoryEntry> entries;
    try {
        Row row;
        soci::statement st(sql_);
        st.exchange(soci::into(row.id));
        for (const TextColumn& c : kTextColumns)
            st.exchange(soci::into(row.entry.*c.field));
        st.exchange(soci::into(row.result));
        st.exchange(soci::into(row.confirmed));
        if (withData) {
            st.exchange(soci::into(row.parameters));
            st.exchange(soci::into(row.matrix));
        }
        if (bindKey) bindKey(st);
        st.alloc();
        st.prepare(SelectColumns(withData) + tail);
        st.define_and_bind();
        st.execute(false);
        while (st.fetch())
            entries.push_back(row.Take());
    } catch (const soci::soci_error& e) {
        if (error)
            *error = "the history database " + HistoryTargetName(target_) +
                     " cannot be read: " + OneLine(e.what());
        entries.clear();
    }
    return entries;
}

std::vector<HistoryEntry> SociHistoryStore::List(const std::optional<std::string>& serial,
                                                 std::string* error) {
    const std::string order = "ORDER BY time_utc DESC, id DESC";
    if (!serial) return Select(order, false, nullptr, error);
    const std::string key = *serial;
    return Select(
        "WHERE serial = :serial " + order, false, [&](soci::statement& st) { st.exchange(soci::use(key)); },
        error);
}

std::optional<HistoryEntry> SociHistoryStore::Get(int64_t id, std::string* error) {
    const long long key = id;
    std::vector<HistoryEntry> found = Select(
        "WHERE id = :id", true, [&](soci::statement& st) { st.exchange(soci::use(key)); }, error);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::vector<HistoryEntry> SociHistoryStore::Oldest(std::string* error) {
    return Select("ORDER BY id", true, nullptr, error);
}

bool SociHistoryStore::Remove(const std::string& uid, std::string* error) {
    try {
        sql_ << "DELETE FROM history_entries WHERE uid = :uid", soci::use(uid);
        return true;
    } catch (const soci::soci_error& e) {
        if (error)
            *error = "the history database " + HistoryTargetName(target_) +
                     " cannot be changed: " + OneLine(e.what());
        return false;
    }
}

std::vector<HistoryValve> SociHistoryStore::Valves(std::string* error) {
    std::vector<HistoryValve> valves;
    try {
        HistoryValve valve;
        // Each valve with the part number and time of its newest entry.
        soci::statement st =
            (sql_.prepare << "SELECT e.serial, e.part, e.time_utc FROM history_entries e "
                             "WHERE e.serial <> '' AND e.id = (SELECT x.id FROM history_entries x "
                             "WHERE x.serial = e.serial ORDER BY x.time_utc DESC, x.id DESC LIMIT 1) "
                             "ORDER BY e.serial",
             soci::into(valve.serial), soci::into(valve.part), soci::into(valve.lastSeen));
        st.execute(false);
        while (st.fetch())
            valves.push_back(valve);
    } catch (const soci::soci_error& e) {
        if (error)
            *error = "the history database " + HistoryTargetName(target_) +
                     " cannot be read: " + OneLine(e.what());
        valves.clear();
    }
    return valves;
}

// SOCI 4.0's PostgreSQL back-end leaks the libpq connection when the server goes away between the
// connect and the back-end's first statement ("Cannot set extra_float_digits parameter"): it throws
// before it keeps the connection, so no one can free it. A server stopped or restarted during a job
// hits that window; the job itself is sound (the entry goes to the outbox), so the leak checker of
// the sanitizer builds is told to pass over what libpq allocates for a connection and its
// statements (only SOCI calls libpq here). A session this program leaks itself is still reported:
// its own allocation is the direct leak.
#if defined(__SANITIZE_ADDRESS__)
#define QLN_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define QLN_LEAK_CHECKED 1
#endif
#endif
#ifdef QLN_LEAK_CHECKED
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:PQconnectdb\nleak:PQexec\n";
}
#endif

bool HistoryAvailable() {
    return true;
}

std::unique_ptr<HistoryStore> HistoryStore::Open(const HistoryTarget& target, HistoryOpenFailure* failure,
                                                 std::string* error) {
    return SociHistoryStore::Open(target, failure, error);
}
