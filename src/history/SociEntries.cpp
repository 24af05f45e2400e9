#include "history/HistoryChain.h"
#include "history/HistorySchema.h"
#include "history/SociStore.h"
#include "system/Host.h"

#include <chrono>
#include <cstdio>

// Entries in and out of a store: the insert (with the chain on SQLite; the server lays it on
// PostgreSQL), the queries, and the outbox's own operations.

namespace {

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

constexpr const char* kResultNames[] = {"ok", "incomplete", "failed", "started"};

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

// The station's columns, named and as ":name" placeholders.
std::string StationColumnList(const char* prefix) {
    std::string list;
    for (const TextColumn& c : kTextColumns)
        list += prefix + std::string(c.name) + ", ";
    for (const char* name : {"result", "confirmed", "parameters"})
        list += prefix + std::string(name) + ", ";
    return list + prefix + "matrix";
}

std::string StoreColumnList() {
    std::string list;
    for (const TextColumn& c : kStoreColumns)
        list += std::string(list.empty() ? "" : ", ") + c.name;
    return list;
}

bool SameEntry(const HistoryEntry& a, const HistoryEntry& b) {
    for (const TextColumn& c : kTextColumns)
        if (a.*c.field != b.*c.field) return false;
    return a.result == b.result && a.confirmed == b.confirmed && a.parameters == b.parameters &&
           a.matrix == b.matrix;
}

// The time of recording on SQLite, to the microsecond as the server gives it.
std::string RecordingTime() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::string seconds = FormatHistoryTime(now);
    const auto micro = duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000;
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06lld", static_cast<long long>(micro));
    return seconds.substr(0, seconds.size() - 1) + fraction + "Z";
}

} // namespace

std::string HistoryOneLine(const std::string& text) {
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

bool SociHistoryStore::Add(HistoryEntry& entry, std::string* error, HistoryOpenFailure* kind) {
    HistoryOpenFailure why = HistoryOpenFailure::Refused;
    std::string text;
    if (!IsHistoryUid(entry.uid)) {
        text =
            Named() + " was not given the entry: its uid \"" + entry.uid + "\" is not 32 hexadecimal digits";
    } else {
        try {
            const bool stored = Postgres() ? AddPostgres(entry) : AddSqlite(entry);
            if (stored || TakeStored(entry, &text, &why)) return true;
        } catch (const soci::soci_error& e) {
            why = KindOf(e);
            text = Named() + " did not take the entry: " + HistoryOneLine(e.what());
        }
    }
    if (error) *error = text;
    if (kind) *kind = why;
    return false;
}

// One statement, run once: PostgreSQL is sent it with its values in one message, not prepared,
// executed and deallocated in three. True when it returned the new row's id.
bool SociHistoryStore::InsertStationColumns(HistoryEntry& entry, const std::string& sql, bool storeColumns) {
    const std::string result = HistoryResultName(entry.result);
    const std::string parameters = HexText(entry.parameters), matrix = HexText(entry.matrix);
    const int confirmed = entry.confirmed;
    long long id = entry.id;
    soci::indicator got = soci::i_null;
    soci::statement st(sql_);
    if (!Postgres() && role_ == Role::History) st.exchange(soci::use(id));
    for (const TextColumn& c : kTextColumns)
        st.exchange(soci::use(entry.*c.field));
    st.exchange(soci::use(result));
    st.exchange(soci::use(confirmed));
    st.exchange(soci::use(parameters));
    st.exchange(soci::use(matrix));
    if (storeColumns && !Postgres())
        for (const TextColumn& c : kStoreColumns)
            st.exchange(soci::use(entry.*c.field));
    long long newId = 0;
    st.exchange(soci::into(newId, got));
    if (storeColumns && Postgres())
        for (const TextColumn& c : kStoreColumns)
            st.exchange(soci::into(entry.*c.field));
    st.alloc();
    st.prepare(sql, soci::details::st_one_time_query);
    st.define_and_bind();
    const bool inserted = st.execute(true) && got == soci::i_ok;
    if (inserted) entry.id = newId;
    // Stepped to its end, so that SQLite's transaction can end after it.
    const std::vector<std::string> stamped = [&] {
        std::vector<std::string> v;
        for (const TextColumn& c : kStoreColumns)
            v.push_back(entry.*c.field);
        return v;
    }();
    while (st.fetch()) {
    }
    for (size_t i = 0; i < kStoreColumns.size(); ++i)
        entry.*kStoreColumns[i].field = stamped[i];
    return inserted;
}

// The chain is laid by this writer inside the transaction that holds the file, so no other station
// links an entry to the same one.
bool SociHistoryStore::AddSqlite(HistoryEntry& entry) {
    const std::string values = StationColumnList(":");
    if (role_ == Role::Outbox)
        return InsertStationColumns(entry,
                                    "INSERT INTO history_entries (" + StationColumnList("") + ") VALUES (" +
                                        values + ") ON CONFLICT (uid) DO NOTHING RETURNING id",
                                    false);
    sql_ << "BEGIN IMMEDIATE";
    try {
        long long exists = 0, last = 0;
        sql_ << "SELECT count(*) FROM history_entries WHERE uid = :uid", soci::use(entry.uid),
            soci::into(exists);
        if (exists > 0) {
            sql_ << "ROLLBACK";
            return false;
        }
        soci::indicator none = soci::i_null;
        entry.previousHash = kChainStart;
        sql_ << "SELECT id, hash FROM history_entries ORDER BY id DESC LIMIT 1", soci::into(last),
            soci::into(entry.previousHash, none);
        if (none != soci::i_ok) last = 0, entry.previousHash = kChainStart;
        entry.id = last + 1;
        entry.recordedAt = RecordingTime();
        entry.recordedBy = CurrentUserName();
        entry.clientAddress = "local";
        entry.hash = EntryHash(entry);
        const bool inserted = InsertStationColumns(
            entry,
            "INSERT INTO history_entries (id, " + StationColumnList("") + ", " + StoreColumnList() +
                ") VALUES (:id, " + values +
                ", :recorded_at, :recorded_by, :client_addr, :prev_hash, :hash) RETURNING id",
            true);
        sql_ << "COMMIT";
        return inserted;
    } catch (...) {
        sql_ << "ROLLBACK";
        throw;
    }
}

bool SociHistoryStore::AddPostgres(HistoryEntry& entry) {
    return InsertStationColumns(entry,
                                "INSERT INTO qln.history_entries (" + StationColumnList("") + ") VALUES (" +
                                    StationColumnList(":") + ") RETURNING id, " + StoreColumnList(),
                                true);
}

bool SociHistoryStore::TakeStored(HistoryEntry& entry, std::string* error, HistoryOpenFailure* kind) {
    const std::string uid = entry.uid;
    std::string why;
    const std::vector<HistoryEntry> found = Select(
        "WHERE uid = :uid", true, role_ == Role::History,
        [&](soci::statement& st) { st.exchange(soci::use(uid)); }, &why);
    *kind = found.empty() && !why.empty() ? HistoryOpenFailure::Unreachable : HistoryOpenFailure::Refused;
    if (found.empty()) {
        *error = why.empty() ? Named() + " did not store the entry " + uid +
                                   " (a rule or trigger of the database "
                                   "dropped it); ask its administrator"
                             : why;
        return false;
    }
    if (!SameEntry(found.front(), entry)) {
        *error = Named() + " holds another entry with the uid " + uid + " (entry " +
                 std::to_string(found.front().id) + "); this one is kept back";
        return false;
    }
    entry = found.front(); // delivered before: the stored one stands
    return true;
}

// Version 1's entries get what the store sets (their own time stands for the time of recording)
// and their links in id order, inside the transaction that migrates the file.
void SociHistoryStore::MigrateSqlite() {
    for (const std::string& statement : SqliteAddStoreColumns())
        sql_ << statement;
    std::string error;
    std::vector<HistoryEntry> entries = Select("ORDER BY id", true, false, nullptr, &error);
    if (!error.empty()) throw soci::soci_error(error);
    std::string previous = kChainStart;
    for (HistoryEntry& e : entries) {
        e.recordedAt = e.time;
        e.previousHash = previous;
        e.hash = EntryHash(e);
        previous = e.hash;
        const long long id = e.id;
        sql_ << "UPDATE history_entries SET recorded_at = :a, prev_hash = :p, hash = :h WHERE id = :id",
            soci::use(e.recordedAt), soci::use(e.previousHash), soci::use(e.hash), soci::use(id);
    }
    for (const std::string& statement : SqliteKeepEntries())
        sql_ << statement;
}

std::vector<HistoryEntry> SociHistoryStore::Select(const std::string& tail, bool withData, bool withChain,
                                                   const std::function<void(soci::statement&)>& bindKey,
                                                   std::string* error) {
    std::vector<HistoryEntry> entries;
    try {
        Row row;
        soci::statement st(sql_);
        std::string columns = "id";
        st.exchange(soci::into(row.id));
        for (const TextColumn& c : kTextColumns) {
            st.exchange(soci::into(row.entry.*c.field));
            columns += ", " + std::string(c.name);
        }
        st.exchange(soci::into(row.result));
        st.exchange(soci::into(row.confirmed));
        columns += ", result, confirmed";
        if (withData) {
            st.exchange(soci::into(row.parameters));
            st.exchange(soci::into(row.matrix));
            columns += ", parameters, matrix";
        }
        if (withChain) {
            for (const TextColumn& c : kStoreColumns)
                st.exchange(soci::into(row.entry.*c.field));
            columns += ", " + StoreColumnList();
        }
        if (bindKey) bindKey(st);
        st.alloc();
        st.prepare("SELECT " + columns + " FROM " + Entries() + " " + tail);
        st.define_and_bind();
        st.execute(false);
        while (st.fetch())
            entries.push_back(row.Take());
    } catch (const soci::soci_error& e) {
        if (error) *error = Named() + " cannot be read: " + HistoryOneLine(e.what());
        entries.clear();
    }
    return entries;
}

std::vector<HistoryEntry> SociHistoryStore::List(const std::optional<std::string>& serial,
                                                 std::string* error) {
    const std::string order =
        role_ == Role::History ? "ORDER BY recorded_at DESC, id DESC" : "ORDER BY id DESC";
    const bool chain = role_ == Role::History;
    if (!serial) return Select(order, false, chain, nullptr, error);
    const std::string key = *serial;
    return Select(
        "WHERE serial = :serial " + order, false, chain,
        [&](soci::statement& st) { st.exchange(soci::use(key)); }, error);
}

std::optional<HistoryEntry> SociHistoryStore::Get(int64_t id, std::string* error) {
    const long long key = id;
    std::vector<HistoryEntry> found = Select(
        "WHERE id = :id", true, role_ == Role::History,
        [&](soci::statement& st) { st.exchange(soci::use(key)); }, error);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::vector<HistoryEntry> SociHistoryStore::Chain(std::optional<std::pair<int64_t, std::string>>* head,
                                                  std::string* error) {
    std::vector<HistoryEntry> entries = Select("ORDER BY id", true, true, nullptr, error);
    if (head) *head = std::nullopt;
    if (!Postgres() || !head || (error && !error->empty())) return entries;
    try {
        long long id = 0;
        std::string hash;
        soci::indicator found = soci::i_null;
        sql_ << "SELECT last_id, last_hash FROM qln.chain_head", soci::into(id, found), soci::into(hash);
        if (found == soci::i_ok) *head = std::make_pair(static_cast<int64_t>(id), hash);
    } catch (const soci::soci_error& e) {
        if (error) *error = Named() + " cannot be read: " + HistoryOneLine(e.what());
    }
    return entries;
}

std::vector<HistoryValve> SociHistoryStore::Valves(std::string* error) {
    std::vector<HistoryValve> valves;
    try {
        HistoryValve valve;
        // Each valve with the part number and time of its newest entry, by the time of recording.
        const std::string e = Entries();
        soci::statement st =
            (sql_.prepare
                 << "SELECT e.serial, e.part, e.time_utc FROM " + e +
                        " e WHERE e.serial <> '' AND e.id = (SELECT x.id FROM " + e +
                        " x WHERE x.serial = e.serial ORDER BY x.recorded_at DESC, x.id DESC LIMIT 1) "
                        "ORDER BY e.serial",
             soci::into(valve.serial), soci::into(valve.part), soci::into(valve.lastSeen));
        st.execute(false);
        while (st.fetch())
            valves.push_back(valve);
    } catch (const soci::soci_error& e) {
        if (error) *error = Named() + " cannot be read: " + HistoryOneLine(e.what());
        valves.clear();
    }
    return valves;
}
