// What the history costs a job: opening the store and recording one entry with its parameter block,
// into a SQLite file and into a PostgreSQL server on this machine (a private one on a Unix socket,
// flushing to disk as a real one does). Compare with BM_ReadParams for the share of a read-params job.
#include "history/History.h"
#include "history/HistoryChain.h"
#include "support/PgServer.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>
#include <sqlite3.h>

namespace {

struct BenchDatabases {
    std::string folder;
    std::unique_ptr<qln_test::PgServer> pg;
    HistoryTarget postgres;

    BenchDatabases() {
        char dir[] = "/tmp/qln-history-bench-XXXXXX";
        folder = ::mkdtemp(dir) ? dir : "/tmp";
        pg = std::make_unique<qln_test::PgServer>(true);
        if (pg->Error().empty()) postgres = {HistoryTarget::Kind::Postgres, pg->NewDatabase("bench")};
        std::string error;
        if (postgres.kind == HistoryTarget::Kind::Postgres && !SetUpHistory(postgres, &error))
            postgres = {HistoryTarget::Kind::Off, error};
    }
    ~BenchDatabases() {
        pg.reset();
        std::filesystem::remove_all(folder);
    }
    // 0: SQLite, 1: PostgreSQL; Off when the server did not start.
    HistoryTarget Target(int64_t which) {
        if (which == 1) return postgres;
        return {HistoryTarget::Kind::Sqlite, folder + "/QLN_history.db"};
    }
};

BenchDatabases& Databases() {
    static BenchDatabases databases;
    return databases;
}

HistoryEntry SampleEntry() {
    HistoryEntry entry = NewHistoryEntry("read-params");
    entry.port = "COM1", entry.device = "/dev/serial/by-id/usb-FTDI_A10K1234-if00-port0";
    entry.serial = "12345678", entry.part = "QV-200-A", entry.firmware = "V2.31";
    entry.parameters.assign(620, 0x5a);
    return entry;
}

// A whole job's share: open (connect, check the schema, look at the outbox), record one entry.
void BM_HistoryJob(benchmark::State& state) {
    const HistoryTarget target = Databases().Target(state.range(0));
    if (target.kind == HistoryTarget::Kind::Off) return state.SkipWithError(Databases().pg->Error().c_str());
    const std::string outbox = OutboxPath(Databases().folder);
    for (auto _ : state) {
        HistoryRecorder recorder(target, outbox);
        HistoryOpenFailure failure;
        std::string error, notice;
        if (!recorder.Open(&failure, &error) || !recorder.Record(SampleEntry(), &notice, &error) ||
            !notice.empty())
            return state.SkipWithError((error + notice).c_str());
    }
}
BENCHMARK(BM_HistoryJob)->ArgName("postgres")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// One entry into an open store: the transaction alone.
void BM_HistoryAdd(benchmark::State& state) {
    const HistoryTarget target = Databases().Target(state.range(0));
    if (target.kind == HistoryTarget::Kind::Off) return state.SkipWithError(Databases().pg->Error().c_str());
    std::string error;
    std::unique_ptr<HistoryStore> store = HistoryStore::Open(target, nullptr, &error);
    if (!store) return state.SkipWithError(error.c_str());
    for (auto _ : state) {
        HistoryEntry entry = SampleEntry();
        if (!store->Add(entry, &error)) return state.SkipWithError(error.c_str());
    }
}
BENCHMARK(BM_HistoryAdd)->ArgName("postgres")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// `history verify` over 100,000 entries: read them all with their data and check the chain. The
// SQLite file is filled in one transaction (as its writer links entries); the server through its
// own trigger, on a server that does not flush (the filling is not what is measured).
constexpr int VERIFY_ENTRIES = 100000;

HistoryTarget FilledSqlite() {
    const std::string path = Databases().folder + "/verify.db";
    std::string error;
    if (!HistoryStore::Open({HistoryTarget::Kind::Sqlite, path}, nullptr, &error)) return {};
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(
        db,
        "INSERT INTO history_entries (id, uid, time_utc, station, user_name, program_version, port, "
        "device, serial, part, firmware, action, error_text, result, confirmed, parameters, matrix, "
        "recorded_at, recorded_by, client_addr, prev_hash, hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        -1, &insert, nullptr);
    std::string previous = kChainStart;
    for (int i = 1; i <= VERIFY_ENTRIES; ++i) {
        HistoryEntry e = SampleEntry();
        e.id = i, e.recordedAt = e.time, e.recordedBy = e.user, e.clientAddress = "local",
        e.previousHash = previous;
        e.hash = EntryHash(e);
        previous = e.hash;
        const std::string params = HexText(e.parameters);
        const std::string texts[] = {e.uid,    e.time,   e.station, e.user, e.programVersion,
                                     e.port,   e.device, e.serial,  e.part, e.firmware,
                                     e.action, e.error,  "ok"};
        sqlite3_bind_int64(insert, 1, i);
        int column = 2;
        for (const std::string& t : texts)
            sqlite3_bind_text(insert, column++, t.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, column++, e.confirmed);
        for (const std::string& t :
             {params, std::string(), e.recordedAt, e.recordedBy, e.clientAddress, e.previousHash, e.hash})
            sqlite3_bind_text(insert, column++, t.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return {HistoryTarget::Kind::Sqlite, path};
}

HistoryTarget FilledPostgres(qln_test::PgServer& server) {
    const HistoryTarget target{HistoryTarget::Kind::Postgres, server.NewDatabase("verify")};
    std::string error;
    if (!SetUpHistory(target, &error)) return {HistoryTarget::Kind::Off, error};
    std::unique_ptr<HistoryStore> store = HistoryStore::Open(target, nullptr, &error);
    for (int i = 0; store && i < VERIFY_ENTRIES; ++i) {
        HistoryEntry e = SampleEntry();
        if (!store->Add(e, &error)) return {HistoryTarget::Kind::Off, error};
    }
    return target;
}

void BM_HistoryVerify(benchmark::State& state) {
    static qln_test::PgServer server(false);
    const HistoryTarget target = state.range(0) == 1 ? FilledPostgres(server) : FilledSqlite();
    if (target.kind == HistoryTarget::Kind::Off) return state.SkipWithError(target.location.c_str());
    for (auto _ : state) {
        std::string error;
        std::unique_ptr<HistoryStore> store = HistoryStore::Open(target, nullptr, &error);
        std::optional<std::pair<int64_t, std::string>> head;
        const std::vector<HistoryEntry> chain =
            store ? store->Chain(&head, &error) : std::vector<HistoryEntry>{};
        if (chain.size() != VERIFY_ENTRIES || CheckChain(chain, std::nullopt, std::nullopt))
            return state.SkipWithError(("the chain does not hold: " + error).c_str());
    }
}
BENCHMARK(BM_HistoryVerify)
    ->ArgName("postgres")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace
