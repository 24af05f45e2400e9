#pragma once
// The databases of the history tests: SQLite files in a fresh folder, and databases on one private
// PostgreSQL server per test program (started at the first use, stopped at the end).
#include "history/SociStore.h"
#include "support/PgServer.h"
#include "support/ValveProcess.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>

namespace qln_test {

inline std::unique_ptr<PgServer>& SharedPg() {
    static std::unique_ptr<PgServer> server;
    return server;
}
inline PgServer& Pg() {
    if (!SharedPg()) SharedPg() = std::make_unique<PgServer>();
    return *SharedPg();
}
struct PgEnvironment : testing::Environment {
    void TearDown() override { SharedPg().reset(); }
};

class HistoryTest : public testing::TestWithParam<HistoryTarget::Kind> {
protected:
    void SetUp() override {
        char dir[] = "/tmp/qln-history-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        outbox_ = OutboxPath(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    bool Postgres() const { return GetParam() == HistoryTarget::Kind::Postgres; }
    // A new, empty database of the test's kind.
    HistoryTarget Fresh(const std::string& name) {
        if (!Postgres()) return {HistoryTarget::Kind::Sqlite, dir_ + "/" + name + ".db"};
        if (!Pg().Error().empty()) ADD_FAILURE() << "PostgreSQL does not start: " << Pg().Error();
        static int serial = 0;
        const HistoryTarget t{HistoryTarget::Kind::Postgres,
                              Pg().NewDatabase(name + std::to_string(++serial))};
        std::string error;
        if (!SetUpHistory(t, &error)) ADD_FAILURE() << error;
        return t;
    }
    // A connection of our own, for looking behind the store's back.
    static std::unique_ptr<soci::session> Connect(const HistoryTarget& t) {
        if (t.kind == HistoryTarget::Kind::Postgres)
            return std::make_unique<soci::session>(*soci::factory_postgresql(), t.location);
        return std::make_unique<soci::session>(*soci::factory_sqlite3(), t.location);
    }
    static long long Count(const HistoryTarget& t, const std::string& what) {
        long long n = -1;
        const bool pg = t.kind == HistoryTarget::Kind::Postgres;
        *Connect(t) << "SELECT count(" + what + ") FROM " + (pg ? "qln." : "") + "history_entries",
            soci::into(n);
        return n;
    }
    // Station processes: each records `count` entries of its own serial number.
    std::vector<std::unique_ptr<ValveProcess>> Writers(const HistoryTarget& t, int n, int count) {
        const std::string target =
            t.kind == HistoryTarget::Kind::Postgres ? t.location : "sqlite:" + t.location;
        std::vector<std::unique_ptr<ValveProcess>> writers;
        for (int i = 0; i < n; ++i)
            writers.push_back(std::make_unique<ValveProcess>(
                QLN_HISTORY_WRITER_PATH,
                std::vector<std::string>{target, outbox_, std::to_string(count), "S" + std::to_string(i)},
                true, false));
        return writers;
    }

    std::string dir_, outbox_;
};

// n entries of distinct valves, each with a parameter set.
inline std::vector<HistoryEntry> Entries(int n) {
    std::vector<HistoryEntry> entries;
    for (int i = 0; i < n; ++i) {
        HistoryEntry e = NewHistoryEntry("write-params");
        e.serial = "S" + std::to_string(i);
        e.parameters.assign(620, static_cast<uint8_t>(i));
        entries.push_back(e);
    }
    return entries;
}

inline std::string KindName(const testing::TestParamInfo<HistoryTarget::Kind>& info) {
    return info.param == HistoryTarget::Kind::Postgres ? "Postgres" : "Sqlite";
}

} // namespace qln_test
