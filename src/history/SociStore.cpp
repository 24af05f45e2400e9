#include "history/SociStore.h"

#include "history/HistorySchema.h"
#include "history/HistoryText.h"
#include "system/Files.h"

#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>

// Opening a store: the connection, the schema's version (a SQLite file is made or migrated here; a
// PostgreSQL database only by SetUpPostgresHistory), and what a failure is.

namespace {

// How long a writer waits for the one before it.
constexpr int BUSY_TIMEOUT_MS = 10000;

// libpq waits without limit for an unanswered connection, a held lock or a statement that does not
// end, unless told otherwise; a setting the target makes itself stands. The job's entry goes to the
// outbox when a limit is reached. UTF-8 both ways: the chain hashes the texts' bytes.
std::string PostgresConnectString(const std::string& uri) {
    std::string text = uri;
    const auto add = [&](const char* key, const char* value) {
        if (uri.find(std::string(key) + "=") != std::string::npos) return;
        text += (text.find('?') == std::string::npos ? "?" : "&") + std::string(key) + "=" + value;
    };
    add("connect_timeout", "10");
    add("keepalives_idle", "10");
    add("keepalives_interval", "5");
    add("keepalives_count", "3");
    add("client_encoding", "UTF8");
    add("options", "-c%20statement_timeout%3D15000%20-c%20lock_timeout%3D5000"
                   "%20-c%20idle_in_transaction_session_timeout%3D15000");
    return text;
}

// libpq gives no SQLSTATE for a connection it could not make, so the server is asked whether it
// is there at all: one that does not answer is out of reach. One that answers may have refused this
// station (a password, a role, a database) or have been starting or stopping just then, so the
// connection is tried once more; refused twice by a server that answers is a refusal. A certificate
// the station does not accept is refused before anything is asked.
// A server starting or stopping (SQLSTATE 57P03, which libpq does not hand on) says so in its words.
bool ServerAnswers(const std::string& connect, const std::string& message) {
    for (const char* passing : {"starting up", "shutting down", "not yet accepting", "in recovery"})
        if (message.find(passing) != std::string::npos) return false;
    const PGPing ping = PQping(connect.c_str());
    return ping == PQPING_OK || ping == PQPING_NO_ATTEMPT;
}

} // namespace

std::string SociHistoryStore::Named() const {
    return "the history database " + HistoryTargetName(target_);
}

std::string SociHistoryStore::Entries() const {
    return Postgres() ? "qln.history_entries" : "history_entries";
}

std::unique_ptr<SociHistoryStore> SociHistoryStore::Open(const HistoryTarget& target,
                                                         HistoryOpenFailure* failure, std::string* error,
                                                         Role role) {
    std::string why;
    HistoryOpenFailure result = HistoryOpenFailure::Damaged;
    std::unique_ptr<SociHistoryStore> store;
    if (target.kind == HistoryTarget::Kind::Off) {
        why = "the history is off";
    } else if (target.kind == HistoryTarget::Kind::Unusable) {
        why = target.location;
    } else {
        store.reset(new SociHistoryStore(target, role));
        result = store->Connect(&why);
        if (result == HistoryOpenFailure::None) result = store->PrepareSchema(&why);
    }
    if (failure) *failure = result;
    if (result == HistoryOpenFailure::None) return store;
    if (error) *error = why;
    return nullptr;
}

// A job's connection copies what it wrote into the file as it closes, so that the file alone is the
// history (a copy of it holds every entry, and a log deleted loses none); another station that has
// the log in use just then leaves the copy to whoever closes last.
SociHistoryStore::~SociHistoryStore() {
    if (Postgres() || !sql_.is_connected()) return;
    auto* db = static_cast<soci::sqlite3_session_backend&>(*sql_.get_backend()).conn_;
    sqlite_api::sqlite3_busy_timeout(db, 0);
    sqlite_api::sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

HistoryOpenFailure SociHistoryStore::Connect(std::string* error) {
    if (!Postgres() && IsOnNetworkFileSystem(target_.location)) {
        *error = Named() + " is on a network file system, where SQLite's locking does not hold; keep it on a "
                           "local disk, or use a PostgreSQL server for several stations";
        return HistoryOpenFailure::Damaged;
    }
    const std::string connect = Postgres() ? PostgresConnectString(target_.location) : target_.location;
    try {
        if (Postgres()) {
            try {
                sql_.open(*soci::factory_postgresql(), connect);
            } catch (const soci::soci_error& e) {
                if (std::string(e.what()).find("certificate") != std::string::npos ||
                    !ServerAnswers(connect, e.what()))
                    throw;
                sql_.open(*soci::factory_postgresql(), connect);
            }
            return HistoryOpenFailure::None;
        }
        // SOCI reads "key=value" pairs once the text holds a '=', so a path is given quoted. A quoted
        // value ends only at a '"' and one that begins with a blank is read past its end, so a path
        // with either (the program folder's too, which no setting parses) is not opened.
        if (const std::string why = SqlitePathProblem(target_.location); !why.empty()) {
            *error = Named() + " cannot be opened: " + why;
            return HistoryOpenFailure::Damaged;
        }
        sql_.open(*soci::factory_sqlite3(), "db=\"" + target_.location + "\"");
        // Several qln-cli processes write at once: a writer waits for the one before it. FULL makes
        // every entry reach the disk with its transaction; WAL keeps the file whole whenever a
        // process is killed.
        sql_ << "PRAGMA busy_timeout = " << BUSY_TIMEOUT_MS;
        sql_ << "PRAGMA synchronous = FULL";
        // WAL lets stations write while others read, and is a lasting property of the file, so this
        // is a no-op once it is set. Setting it needs the file alone for a moment; when another
        // station starting on the same new file holds it just then, SQLite refuses at once instead
        // of waiting, and the file works in its rollback journal, as safely, until a later opening.
        try {
            sql_ << "PRAGMA journal_mode = WAL";
        } catch (const soci::soci_error&) {
        }
        return HistoryOpenFailure::None;
    } catch (const soci::soci_error& e) {
        const std::string reason = HistoryOneLine(e.what());
        const bool refused =
            reason.find("certificate") != std::string::npos || ServerAnswers(connect, reason);
        const HistoryOpenFailure kind = !Postgres() ? HistoryOpenFailure::Damaged
                                        : refused   ? HistoryOpenFailure::Refused
                                                    : HistoryOpenFailure::Unreachable;
        *error = Named() +
                 (kind == HistoryOpenFailure::Unreachable ? " cannot be reached: "
                  : Postgres()                            ? " refused this station: "
                                                          : " cannot be opened: ") +
                 reason;
        return kind;
    }
}

// What a database's error means for the entry: only a connection that cannot be made or breaks, or
// a time limit (a held lock, a server that does not answer), is out of reach; any other refusal
// is the server's answer.
HistoryOpenFailure SociHistoryStore::KindOf(const soci::soci_error& e) {
    if (!Postgres()) return HistoryOpenFailure::Damaged;
    const auto* pg = dynamic_cast<const soci::postgresql_soci_error*>(&e);
    const std::string state = pg ? pg->sqlstate() : "";
    const bool lost = state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0 || state == "57014" ||
                      state == "55P03" || state == "53300" || !sql_.is_connected();
    return lost ? HistoryOpenFailure::Unreachable : HistoryOpenFailure::Refused;
}

HistoryOpenFailure SociHistoryStore::CheckVersion(int known, std::string* error) {
    const int ours = role_ == Role::Outbox ? 1 : kHistorySchemaVersion;
    if (known == ours) return HistoryOpenFailure::None;
    if (known > ours) {
        *error = Named() + " has schema version " + std::to_string(known) +
                 ", newer than this program knows (" + std::to_string(ours) +
                 "); update qln, or choose another database";
        return HistoryOpenFailure::NewerSchema;
    }
    *error =
        Named() + " has the unknown schema version " + std::to_string(known) + "; choose another database";
    return HistoryOpenFailure::Damaged;
}

// The schema's version in `table`; 0 for a table without a row. Throws when there is no table.
int SociHistoryStore::ReadVersion(const std::string& table) {
    int version = 0;
    soci::indicator found = soci::i_null;
    sql_ << "SELECT max(version) FROM " + table, soci::into(version, found);
    return found == soci::i_ok ? version : 0;
}

// A station only reads the version on PostgreSQL: the schema is its administrator's.
HistoryOpenFailure SociHistoryStore::PrepareSchema(std::string* error) {
    if (!Postgres()) return PrepareSqlite(error);
    try {
        return CheckVersion(ReadVersion("qln.schema_version"), error);
    } catch (const soci::soci_error& e) {
        const HistoryOpenFailure kind = KindOf(e);
        const auto* pg = dynamic_cast<const soci::postgresql_soci_error*>(&e);
        const std::string state = pg ? pg->sqlstate() : "";
        if (kind == HistoryOpenFailure::Refused && (state == "3F000" || state == "42P01")) {
            *error = "the valve history is not set up in " + HistoryTargetName(target_) +
                     ": ask its administrator to run qln-cli history setup";
            return HistoryOpenFailure::NotSetUp;
        }
        *error = Named() + (kind == HistoryOpenFailure::Unreachable ? " cannot be reached: " : " refused: ") +
                 HistoryOneLine(e.what());
        return kind;
    }
}

// A SQLite file is the station's own: made at first use, migrated at the next opening after an
// update, each under a transaction that one process holds at a time (the others wait and find it
// done). A database in use costs one statement (the version).
HistoryOpenFailure SociHistoryStore::PrepareSqlite(std::string* error) {
    try {
        int known = 0;
        try {
            known = ReadVersion("schema_version");
        } catch (const soci::soci_error&) {
            // No table yet, or a file that is no database: the locked path below tells which.
        }
        const int ours = role_ == Role::Outbox ? 1 : kHistorySchemaVersion;
        if (known < ours) known = MakeSqliteSchema();
        if (known < 0) {
            *error = HistoryTargetName(target_) + " is not a valve history; name another file";
            return HistoryOpenFailure::Damaged;
        }
        if (role_ == Role::Outbox) {
            sql_ << "CREATE TABLE IF NOT EXISTS quarantine (uid TEXT PRIMARY KEY, reason TEXT NOT NULL, "
                    "since TEXT NOT "
                    "NULL)";
            sql_ << "CREATE TABLE IF NOT EXISTS started (uid TEXT PRIMARY KEY, pid INTEGER NOT NULL)";
        }
        return CheckVersion(known, error);
    } catch (const soci::soci_error& e) {
        *error = Named() + " cannot be used: " + HistoryOneLine(e.what());
        return HistoryOpenFailure::Damaged;
    }
}

// Makes or migrates the schema under the lock; returns the version then, or -1 for a file that
// holds other tables and no version (another program's database, never written to).
int SociHistoryStore::MakeSqliteSchema() {
    sql_ << "BEGIN IMMEDIATE";
    try {
        long long tables = 0, versions = 0;
        sql_ << "SELECT count(*) FROM sqlite_master WHERE type = 'table'", soci::into(tables);
        sql_ << "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'",
            soci::into(versions);
        // An outbox (its quarantine and started entries beside the entries) is no history either.
        long long outboxTables = 0;
        sql_ << "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('quarantine', "
                "'started')",
            soci::into(outboxTables);
        int known = versions > 0 ? ReadVersion("schema_version") : 0;
        if ((known == 0 && tables > versions) || (role_ == Role::History && outboxTables > 0)) known = -1;
        if (known == 0) {
            sql_ << "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";
            sql_ << CreateEntriesTableV1("history_entries", "INTEGER PRIMARY KEY");
            sql_ << "CREATE INDEX IF NOT EXISTS history_entries_serial ON history_entries (serial)";
            sql_ << "INSERT INTO schema_version (version) VALUES (1)";
            known = 1;
        }
        if (known == 1 && role_ == Role::History) {
            MigrateSqlite();
            known = kHistorySchemaVersion;
        }
        sql_ << "COMMIT";
        return known;
    } catch (...) {
        sql_ << "ROLLBACK";
        throw;
    }
}

bool SetUpHistory(const HistoryTarget& target, std::string* error) {
    if (target.kind != HistoryTarget::Kind::Postgres) {
        *error = "history setup lays a history into a PostgreSQL database (postgresql://...); a SQLite file "
                 "sets itself up";
        return false;
    }
    soci::session sql;
    try {
        sql.open(*soci::factory_postgresql(), PostgresConnectString(target.location));
        for (const std::string& statement : PostgresSetupStatements())
            sql << statement;
        return true;
    } catch (const soci::soci_error& e) {
        *error =
            "the history cannot be set up in " + HistoryTargetName(target) + ": " + HistoryOneLine(e.what());
        return false;
    }
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
