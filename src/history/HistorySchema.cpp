#include "history/HistorySchema.h"

namespace {

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const std::string& p : parts)
        text += (text.empty() ? "" : separator) + p;
    return text;
}

std::vector<std::string> StationColumns() {
    std::vector<std::string> names;
    for (const TextColumn& c : kTextColumns)
        names.push_back(c.name);
    for (const char* name : {"result", "confirmed", "parameters", "matrix"})
        names.push_back(name);
    return names;
}

// The canonical text of an entry in SQL, field for field as CanonicalEntryText builds it.
std::string PostgresHashFunctions() {
    std::vector<std::string> fields{"e.id::text"};
    for (const std::string& name : StationColumns())
        fields.push_back(name == "confirmed" ? "e.confirmed::text" : "e." + name);
    for (const TextColumn& c : kStoreColumns)
        if (std::string(c.name) != "hash") fields.push_back("e." + std::string(c.name));
    std::vector<std::string> parts;
    for (const std::string& f : fields)
        parts.push_back("qln.hash_field(" + f + ")");
    return "CREATE OR REPLACE FUNCTION qln.entry_hash(e qln.history_entries) RETURNS text LANGUAGE sql "
           "IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$ SELECT encode(sha256(convert_to(" +
           Join(parts, " || ") + ", 'UTF8')), 'hex') $$";
}

} // namespace

std::string CreateEntriesTableV1(const std::string& table, const std::string& idColumn) {
    std::string sql = "CREATE TABLE IF NOT EXISTS " + table + " (id " + idColumn;
    for (const TextColumn& c : kTextColumns)
        sql += ", " + std::string(c.name) + " TEXT NOT NULL";
    return sql +
           ", result TEXT NOT NULL, confirmed INTEGER NOT NULL, parameters TEXT NOT NULL, matrix TEXT NOT "
           "NULL, UNIQUE (uid))";
}

std::vector<std::string> SqliteAddStoreColumns() {
    std::vector<std::string> sql;
    for (const TextColumn& c : kStoreColumns)
        sql.push_back("ALTER TABLE history_entries ADD COLUMN " + std::string(c.name) +
                      " TEXT NOT NULL DEFAULT ''");
    return sql;
}

std::vector<std::string> SqliteKeepEntries() {
    return {"CREATE TRIGGER IF NOT EXISTS history_entries_no_update BEFORE UPDATE ON history_entries "
            "BEGIN SELECT RAISE(ABORT, 'the valve history is append-only'); END",
            "CREATE TRIGGER IF NOT EXISTS history_entries_no_delete BEFORE DELETE ON history_entries "
            "BEGIN SELECT RAISE(ABORT, 'the valve history is append-only'); END",
            "DELETE FROM schema_version",
            "INSERT INTO schema_version (version) VALUES (" + std::to_string(kHistorySchemaVersion) + ")"};
}

namespace {

std::vector<std::string> Roles() {
    std::string sql = "DO $$ BEGIN";
    for (const char* role : {"qln_owner", "qln_station", "qln_auditor"})
        sql += std::string(" IF NOT EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = '") + role +
               "') THEN CREATE ROLE " + role + " NOLOGIN; END IF;";
    return {sql + " END $$"};
}

// A version-1 history in the connection's search path (where stations made it; `qln` itself left
// out, which "$user" names for a role called qln) moves into `qln` with its rows as they are.
std::vector<std::string> MoveVersion1() {
    return {"DO $$ DECLARE s text; BEGIN IF to_regclass('qln.schema_version') IS NULL THEN "
            "FOREACH s IN ARRAY current_schemas(false) LOOP "
            "IF s <> 'qln' AND to_regclass(format('%I.schema_version', s)) IS NOT NULL AND "
            "to_regclass(format('%I.history_entries', s)) IS NOT NULL THEN "
            "EXECUTE format('ALTER TABLE %I.history_entries SET SCHEMA qln', s); "
            "EXECUTE format('ALTER TABLE %I.schema_version SET SCHEMA qln', s); EXIT; END IF; END LOOP; "
            "END IF; END $$"};
}

std::vector<std::string> Tables() {
    std::vector<std::string> sql{
        "CREATE TABLE IF NOT EXISTS qln.schema_version (version INTEGER NOT NULL)",
        CreateEntriesTableV1("qln.history_entries", "BIGINT PRIMARY KEY"),
        "CREATE INDEX IF NOT EXISTS history_entries_serial ON qln.history_entries (serial)",
    };
    for (const TextColumn& c : kStoreColumns)
        sql.push_back("ALTER TABLE qln.history_entries ADD COLUMN IF NOT EXISTS " + std::string(c.name) +
                      " TEXT NOT NULL DEFAULT ''");
    // Ids are given under the chain's lock, so that their order is the chain's.
    sql.push_back("ALTER TABLE qln.history_entries ALTER COLUMN id DROP DEFAULT");
    sql.push_back("CREATE INDEX IF NOT EXISTS history_entries_recorded ON qln.history_entries (recorded_at)");
    sql.push_back(
        "CREATE TABLE IF NOT EXISTS qln.chain_head (one BOOLEAN PRIMARY KEY DEFAULT true CHECK (one), "
        "last_id BIGINT NOT NULL, last_hash TEXT NOT NULL)");
    return sql;
}

std::vector<std::string> Functions() {
    return {
        "CREATE OR REPLACE FUNCTION qln.hash_field(v text) RETURNS text LANGUAGE sql IMMUTABLE "
        "SET search_path = pg_catalog, pg_temp AS $$ SELECT octet_length(v)::text || ':' || v || E'\\n' $$",
        PostgresHashFunctions(),
        // Stamps and links an entry under the chain's lock; an entry whose uid is there already is
        // not stored again (the station compares what is there).
        "CREATE OR REPLACE FUNCTION qln.append_entry() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER "
        "SET search_path = pg_catalog, pg_temp AS $$ DECLARE head qln.chain_head; BEGIN "
        "SELECT * INTO head FROM qln.chain_head FOR UPDATE; "
        "IF EXISTS (SELECT 1 FROM qln.history_entries WHERE uid = NEW.uid) THEN RETURN NULL; END IF; "
        "NEW.id := head.last_id + 1; "
        "NEW.recorded_at := to_char(clock_timestamp() AT TIME ZONE 'UTC', "
        "'YYYY-MM-DD\"T\"HH24:MI:SS.US\"Z\"'); "
        "NEW.recorded_by := session_user; "
        "NEW.client_addr := coalesce(host(inet_client_addr()), 'local'); "
        "NEW.prev_hash := head.last_hash; "
        "NEW.hash := qln.entry_hash(NEW); "
        "UPDATE qln.chain_head SET last_id = NEW.id, last_hash = NEW.hash; "
        "RETURN NEW; END $$",
        "CREATE OR REPLACE FUNCTION qln.refuse_change() RETURNS trigger LANGUAGE plpgsql "
        "SET search_path = pg_catalog, pg_temp AS $$ BEGIN "
        "RAISE EXCEPTION 'the valve history is append-only' USING ERRCODE = '42501'; END $$",
    };
}

// Entries of version 1 get the store's columns (their own time stands for the time of recording)
// and their links, in id order; then the chain goes on from the last.
std::vector<std::string> LinkVersion1() {
    return {
        "DO $$ DECLARE r qln.history_entries; prev text := repeat('0', 64); last bigint := 0; BEGIN "
        "IF (SELECT coalesce(max(version), 0) FROM qln.schema_version) < 2 THEN "
        "FOR r IN SELECT * FROM qln.history_entries ORDER BY id LOOP "
        "r.recorded_at := r.time_utc; r.prev_hash := prev; r.hash := qln.entry_hash(r); "
        "UPDATE qln.history_entries SET recorded_at = r.recorded_at, prev_hash = r.prev_hash, hash = r.hash "
        "WHERE id = r.id; prev := r.hash; last := r.id; END LOOP; "
        "DELETE FROM qln.chain_head; INSERT INTO qln.chain_head (last_id, last_hash) VALUES (last, prev); "
        "DELETE FROM qln.schema_version; INSERT INTO qln.schema_version (version) VALUES (2); "
        "END IF; END $$"};
}

std::vector<std::string> Triggers() {
    return {"CREATE OR REPLACE TRIGGER history_entries_append BEFORE INSERT ON qln.history_entries "
            "FOR EACH ROW EXECUTE FUNCTION qln.append_entry()",
            "CREATE OR REPLACE TRIGGER history_entries_keep BEFORE UPDATE OR DELETE ON qln.history_entries "
            "FOR EACH ROW EXECUTE FUNCTION qln.refuse_change()",
            "CREATE OR REPLACE TRIGGER history_entries_keep_all BEFORE TRUNCATE ON qln.history_entries "
            "FOR EACH STATEMENT EXECUTE FUNCTION qln.refuse_change()"};
}

std::vector<std::string> Rights() {
    std::vector<std::string> sql{"ALTER SCHEMA qln OWNER TO qln_owner"};
    for (const char* table : {"history_entries", "schema_version", "chain_head"})
        sql.push_back("ALTER TABLE qln." + std::string(table) + " OWNER TO qln_owner");
    for (const char* function :
         {"hash_field(text)", "entry_hash(qln.history_entries)", "append_entry()", "refuse_change()"})
        sql.push_back("ALTER FUNCTION qln." + std::string(function) + " OWNER TO qln_owner");
    const std::vector<std::string> more{
        "REVOKE ALL ON SCHEMA qln FROM PUBLIC",
        "REVOKE ALL ON ALL TABLES IN SCHEMA qln FROM PUBLIC, qln_station, qln_auditor",
        "REVOKE ALL ON ALL FUNCTIONS IN SCHEMA qln FROM PUBLIC",
        "GRANT USAGE ON SCHEMA qln TO qln_station, qln_auditor",
        "GRANT SELECT ON qln.history_entries, qln.schema_version, qln.chain_head TO qln_station, qln_auditor",
        "GRANT INSERT (" + Join(StationColumns(), ", ") + ") ON qln.history_entries TO qln_station",
    };
    sql.insert(sql.end(), more.begin(), more.end());
    return sql;
}

} // namespace

std::vector<std::string> PostgresSetupStatements() {
    std::vector<std::string> sql{
        "SET client_min_messages = warning", "BEGIN", "SELECT pg_advisory_xact_lock(2027270001)",
        // The chain hashes the texts' bytes as the server holds them.
        "DO $$ BEGIN IF pg_catalog.getdatabaseencoding() <> 'UTF8' THEN RAISE EXCEPTION "
        "'the valve history needs a database in the encoding UTF8'; END IF; END $$"};
    const std::vector<std::vector<std::string>> parts{Roles(),        {"CREATE SCHEMA IF NOT EXISTS qln"},
                                                      MoveVersion1(), Tables(),
                                                      Functions(),    LinkVersion1(),
                                                      Triggers(),     Rights()};
    for (const auto& part : parts)
        sql.insert(sql.end(), part.begin(), part.end());
    sql.push_back("COMMIT");
    return sql;
}

std::string HistorySetupScript() {
    std::string script;
    for (const std::string& statement : PostgresSetupStatements())
        script += statement + ";\n";
    return script;
}
