#pragma once
#include "history/History.h"

#include <functional>
// Debian's SOCI build says it has Boost, which only adds binding of Boost.Fusion sequences
// (templates in the headers) and would pull in Boost's headers, which its package does not
// install. Nothing here binds such sequences.
#include <soci/soci-config.h>
#undef SOCI_HAVE_BOOST
#include <soci/soci.h>

// The store over SOCI: the same SQL text for SQLite and PostgreSQL, except for the few lines that
// differ. Used for the configured database and, in its own role, for the outbox.
class SociHistoryStore final : public HistoryStore {
public:
    // The outbox is a SQLite file of version 1's entries (as the station made them, without the
    // chain, which the store they go to lays) and a quarantine.
    enum class Role { History, Outbox };
    static std::unique_ptr<SociHistoryStore> Open(const HistoryTarget& target, HistoryOpenFailure* failure,
                                                  std::string* error, Role role = Role::History);
    ~SociHistoryStore() override;
    bool Add(HistoryEntry& entry, std::string* error, HistoryOpenFailure* kind = nullptr) override;
    std::vector<HistoryEntry> List(const std::optional<std::string>& serial, std::string* error) override;
    std::optional<HistoryEntry> Get(int64_t id, std::string* error) override;
    std::vector<HistoryValve> Valves(std::string* error) override;
    std::vector<HistoryEntry> Chain(std::optional<std::pair<int64_t, std::string>>* head,
                                    std::string* error) override;

    // The outbox's own: its entries that wait, with their data, oldest first (the delivery order);
    // those kept back with the reason; moving one there and back; removing one delivered; and
    // giving a started entry its outcome.
    std::vector<HistoryEntry> Oldest(std::string* error);
    std::vector<std::pair<HistoryEntry, std::string>> Quarantined(std::string* error);
    bool Quarantine(const std::string& uid, const std::string& reason, std::string* error);
    // Every quarantined entry when `uid` is empty; false when none was released.
    bool Release(const std::string& uid, std::string* error);
    bool Remove(const std::string& uid, std::string* error);
    // The entry with that uid is a write's, started by this process: it waits until it has its outcome.
    bool MarkStarted(const std::string& uid, std::string* error);
    bool Replace(const HistoryEntry& entry, std::string* error);

private:
    SociHistoryStore(const HistoryTarget& target, Role role) : target_(target), role_(role) {}
    bool Postgres() const { return target_.kind == HistoryTarget::Kind::Postgres; }
    std::string Entries() const; // the entries table's qualified name
    HistoryOpenFailure Connect(std::string* error);
    HistoryOpenFailure PrepareSchema(std::string* error);
    HistoryOpenFailure PrepareSqlite(std::string* error);
    HistoryOpenFailure CheckVersion(int known, std::string* error);
    int ReadVersion(const std::string& table);
    int MakeSqliteSchema();
    void MigrateSqlite();
    bool AddSqlite(HistoryEntry& entry);
    bool AddPostgres(HistoryEntry& entry);
    bool InsertStationColumns(HistoryEntry& entry, const std::string& sql, bool storeColumns);
    // After an insert that stored nothing: the entry with the uid that is there. The same one means
    // it was delivered before; another one is a conflict.
    bool TakeStored(HistoryEntry& entry, std::string* error, HistoryOpenFailure* kind);
    HistoryOpenFailure KindOf(const soci::soci_error& e);
    // The entries a query's tail picks (WHERE/ORDER BY), with `bindKey` binding its values.
    std::vector<HistoryEntry> Select(const std::string& tail, bool withData, bool withChain,
                                     const std::function<void(soci::statement&)>& bindKey,
                                     std::string* error);
    std::string Named() const;

    HistoryTarget target_;
    Role role_;
    soci::session sql_;
};

// A database's message on one line: libpq puts the reason on the lines after SOCI's own.
std::string HistoryOneLine(const std::string& text);
