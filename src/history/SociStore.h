#pragma once
#include "history/History.h"

#include <functional>
// Debian's SOCI build says it has Boost, which only adds binding of Boost.Fusion sequences
// (templates in the headers) and would pull in Boost's headers, which its package does not
// install. Nothing here binds such sequences.
#include <soci/soci-config.h>
#undef SOCI_HAVE_BOOST
#include <soci/soci.h>

// The store over SOCI: the same SQL text for SQLite and PostgreSQL, except for the few lines a
// dialect table holds. Used for the configured database and for the outbox alike.
class SociHistoryStore final : public HistoryStore {
public:
    static std::unique_ptr<SociHistoryStore> Open(const HistoryTarget& target, HistoryOpenFailure* failure,
                                                  std::string* error);
    bool Add(HistoryEntry& entry, std::string* error) override;
    std::vector<HistoryEntry> List(const std::optional<std::string>& serial, std::string* error) override;
    std::optional<HistoryEntry> Get(int64_t id, std::string* error) override;
    std::vector<HistoryValve> Valves(std::string* error) override;

    // Every entry with its data, oldest first: the outbox's delivery order.
    std::vector<HistoryEntry> Oldest(std::string* error);
    // Removes the entry with that uid (delivered from the outbox).
    bool Remove(const std::string& uid, std::string* error);

private:
    explicit SociHistoryStore(const HistoryTarget& target) : target_(target) {}
    HistoryOpenFailure Connect(std::string* error);
    HistoryOpenFailure PrepareSchema(std::string* error);
    int ReadVersion();
    int MakeSchema();
    bool TableExists(const char* name);
    // The entries a query's tail picks (WHERE/ORDER BY), with `bindKey` binding its values.
    std::vector<HistoryEntry> Select(const std::string& tail, bool withData,
                                     const std::function<void(soci::statement&)>& bindKey,
                                     std::string* error);

    HistoryTarget target_;
    soci::session sql_;
};

// The version of the tables this program writes and reads.
inline constexpr int kHistorySchemaVersion = 1;
