#include "history/History.h"
#include "history/SociStore.h"
#include "system/Files.h"
#include "system/Host.h"

#include <algorithm>

// The outbox's own operations: its entries wait in id order; one the store refused is kept back in
// the quarantine, with the reason, until the user releases it.

namespace {
bool Run(const std::string& named, const std::function<void()>& statement, std::string* error) {
    try {
        statement();
        return true;
    } catch (const soci::soci_error& e) {
        if (error) *error = named + " cannot be changed: " + HistoryOneLine(e.what());
        return false;
    }
}
} // namespace

// A started entry waits while the job that started it runs (it gives the entry its outcome); one
// whose job is gone (killed, or the station lost its power) goes as it is.
std::vector<HistoryEntry> SociHistoryStore::Oldest(std::string* error) {
    std::vector<HistoryEntry> entries =
        Select("WHERE uid NOT IN (SELECT uid FROM quarantine) ORDER BY id", true, false, nullptr, error);
    try {
        std::vector<std::string> running;
        soci::rowset<soci::row> started = (sql_.prepare << "SELECT uid, pid FROM started");
        for (const soci::row& r : started)
            if (ProcessRuns(r.get<long long>(1)) && r.get<long long>(1) != CurrentProcessId())
                running.push_back(r.get<std::string>(0));
        std::erase_if(entries, [&](const HistoryEntry& e) {
            return std::find(running.begin(), running.end(), e.uid) != running.end();
        });
    } catch (const soci::soci_error& e) {
        if (error) *error = Named() + " cannot be read: " + HistoryOneLine(e.what());
        entries.clear();
    }
    return entries;
}

bool SociHistoryStore::MarkStarted(const std::string& uid, std::string* error) {
    const long long pid = CurrentProcessId();
    return Run(
        Named(),
        [&] { sql_ << "INSERT INTO started (uid, pid) VALUES (:uid, :pid)", soci::use(uid), soci::use(pid); },
        error);
}

std::vector<std::pair<HistoryEntry, std::string>> SociHistoryStore::Quarantined(std::string* error) {
    std::vector<std::pair<HistoryEntry, std::string>> kept;
    std::vector<HistoryEntry> entries =
        Select("WHERE uid IN (SELECT uid FROM quarantine) ORDER BY id", false, false, nullptr, error);
    try {
        for (HistoryEntry& e : entries) {
            std::string reason;
            sql_ << "SELECT reason FROM quarantine WHERE uid = :uid", soci::use(e.uid), soci::into(reason);
            kept.emplace_back(std::move(e), reason);
        }
    } catch (const soci::soci_error& e) {
        if (error) *error = Named() + " cannot be read: " + HistoryOneLine(e.what());
        kept.clear();
    }
    return kept;
}

bool SociHistoryStore::Quarantine(const std::string& uid, const std::string& reason, std::string* error) {
    const std::string since = FormatHistoryTime(std::chrono::system_clock::now());
    return Run(
        Named(),
        [&] {
            sql_ << "INSERT INTO quarantine (uid, reason, since) VALUES (:uid, :reason, :since) "
                    "ON CONFLICT (uid) DO UPDATE SET reason = excluded.reason",
                soci::use(uid), soci::use(reason), soci::use(since);
        },
        error);
}

bool SociHistoryStore::Release(const std::string& uid, std::string* error) {
    int changed = 0;
    const bool done = Run(
        Named(),
        [&] {
            soci::statement st =
                uid.empty() ? (sql_.prepare << "DELETE FROM quarantine")
                            : (sql_.prepare << "DELETE FROM quarantine WHERE uid = :uid", soci::use(uid));
            st.execute(true);
            changed = static_cast<int>(st.get_affected_rows());
        },
        error);
    if (done && changed == 0 && error) *error = "nothing in the quarantine has the uid " + uid;
    return done && changed > 0;
}

bool SociHistoryStore::Remove(const std::string& uid, std::string* error) {
    return Run(
        Named(),
        [&] {
            sql_ << "DELETE FROM quarantine WHERE uid = :uid", soci::use(uid);
            sql_ << "DELETE FROM started WHERE uid = :uid", soci::use(uid);
            sql_ << "DELETE FROM history_entries WHERE uid = :uid", soci::use(uid);
        },
        error);
}

// A started entry gets its outcome (and what the job moved) in place, so that one entry per job
// is delivered.
bool SociHistoryStore::Replace(const HistoryEntry& entry, std::string* error) {
    const std::string result = HistoryResultName(entry.result);
    const std::string parameters = HexText(entry.parameters), matrix = HexText(entry.matrix);
    const int confirmed = entry.confirmed;
    return Run(
        Named(),
        [&] {
            sql_ << "UPDATE history_entries SET result = :result, confirmed = :confirmed, error_text = "
                    ":error, "
                    "parameters = :parameters, matrix = :matrix, serial = :serial, part = :part, firmware = "
                    ":firmware WHERE uid = :uid",
                soci::use(result), soci::use(confirmed), soci::use(entry.error), soci::use(parameters),
                soci::use(matrix), soci::use(entry.serial), soci::use(entry.part), soci::use(entry.firmware),
                soci::use(entry.uid);
            sql_ << "DELETE FROM started WHERE uid = :uid", soci::use(entry.uid);
        },
        error);
}

std::optional<std::vector<OutboxEntry>> ReadOutbox(const std::string& path, std::string* error) {
    std::vector<OutboxEntry> entries;
    if (!IsRegularFile(path)) return entries;
    std::string why;
    std::unique_ptr<SociHistoryStore> outbox = SociHistoryStore::Open(
        {HistoryTarget::Kind::Sqlite, path}, nullptr, &why, SociHistoryStore::Role::Outbox);
    if (outbox)
        for (HistoryEntry& e : outbox->Oldest(&why))
            entries.push_back({std::move(e), ""});
    if (outbox && why.empty())
        for (auto& [e, reason] : outbox->Quarantined(&why))
            entries.push_back({std::move(e), reason});
    if (!why.empty()) {
        if (error) *error = why;
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(),
              [](const OutboxEntry& a, const OutboxEntry& b) { return a.entry.id < b.entry.id; });
    return entries;
}

bool ReleaseFromQuarantine(const std::string& path, const std::string& uid, std::string* error) {
    if (!IsRegularFile(path)) {
        if (error) *error = "there is no outbox " + path;
        return false;
    }
    std::unique_ptr<SociHistoryStore> outbox = SociHistoryStore::Open(
        {HistoryTarget::Kind::Sqlite, path}, nullptr, error, SociHistoryStore::Role::Outbox);
    return outbox && outbox->Release(uid, error);
}
