// What the history costs a job: opening the store and recording one entry with its parameter block,
// into a SQLite file and into a PostgreSQL server on this machine (a private one on a Unix socket,
// flushing to disk as a real one does). Compare with BM_ReadParams for the share of a read-params job.
#include "history/History.h"
#include "support/PgServer.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>

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

} // namespace
