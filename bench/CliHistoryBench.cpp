// What the valve history costs a qln-cli job: the whole read-params process against qln-valve at
// 19200 baud, without the history, into a SQLite file and into a PostgreSQL server on this machine
// (a private one on a Unix socket, flushing to disk as a real one does). With the history on, a
// job also reads the valve's identity (DIR, in the same request as the job, after the rate test
// that has read VER), opens the store (one statement for the schema's version) and stores one entry
// (one transaction; SQLite leaves its log for a later commit instead of copying it at the close).
//   BM_CliReadParamsHistory/0   --history off
//   BM_CliReadParamsHistory/1   --history sqlite:PATH     goal: at most 1.15 times /0
//   BM_CliReadParamsHistory/2   --history postgresql://... goal: at most 1.3 times /0
// The identity read alone, once the speed is known:
//   BM_IdentityRead/identity:0  the valve information's five telegrams (what a job read before)
//   BM_IdentityRead/identity:1  Read Identity alone (VER, DIR)
// The machine may be shared: compare medians of repeated runs (--benchmark_repetitions=3).
#include <benchmark/benchmark.h>

#include <memory>

#include "engine/EngineThreads.h"
#include "history/History.h"
#include "support/EngineHarness.h"
#include "support/PgServer.h"
#include "support/ValveProcess.h"

namespace {
using namespace std::chrono_literals;

// The identity read alone, against qln-valve at 19200 baud once the speed is known: the valve
// information's five telegrams (DIR VER OCR VTR CTR) that a job read before, and Read Identity
// (VER DIR; a job's first request, whose rate test has read VER, sends only DIR).
void BM_IdentityRead(benchmark::State& state) {
    const bool identity = state.range(0) != 0;
    qln_test::ValveProcess valve({"--baud", "19200"});
    if (valve.SlavePath().empty()) {
        state.SkipWithError("qln-valve did not start");
        return;
    }
    RealClock clock;
    auto qln = std::make_unique<QlnState>(clock);
    QlnState& s = *qln;
    s.link.DevicePath[0] = valve.SlavePath();
    s.link.FixedBaudIndex.store(2);
    qln_test::RecordingNotifier notifier;
    EngineThreads threads(s, notifier);
    threads.Start();
    RequestAction(s, CMD_READ_STATUS);
    if (!notifier.WaitFor(NOTIFY_STATUS)) {
        state.SkipWithError("qln-valve did not answer");
        return;
    }
    const uint32_t bit = identity ? CMD_READ_IDENTITY : CMD_READ_DEVICE_INFO;
    const uint32_t done = identity ? NOTIFY_IDENTITY : NOTIFY_DEVICE_INFO;
    size_t count = 1;
    for (auto _ : state) {
        RequestAction(s, bit);
        if (!notifier.WaitForCount(++count) || notifier.Codes().back() != done) {
            state.SkipWithError("the read failed");
            break;
        }
    }
    threads.Stop();
}

void BM_CliReadParamsHistory(benchmark::State& state) {
    qln_test::InTempFolder folder;
    std::unique_ptr<qln_test::PgServer> pg;
    std::string history = "off";
    if (state.range(0) == 1) history = "sqlite:" + folder.File("QLN_history.db");
    if (state.range(0) == 2) {
        pg = std::make_unique<qln_test::PgServer>(true);
        if (!pg->Error().empty()) {
            state.SkipWithError(pg->Error().c_str());
            return;
        }
        history = pg->NewDatabase("bench");
        std::string error;
        if (!SetUpHistory({HistoryTarget::Kind::Postgres, history}, &error))
            return state.SkipWithError(error.c_str());
    }
    qln_test::ValveProcess valve({});
    const std::vector<std::string> args = {"--device",  valve.SlavePath(), "--baud",     "19200",
                                           "--history", history,           "read-params"};
    // A job on a database in use: the first one, which makes the schema, is not timed.
    auto job = [&] {
        qln_test::ValveProcess cli(QLN_CLI_PATH, args, false, false);
        cli.ReadToEnd(60s);
        return cli.WaitExit(60s) == 0;
    };
    if (!job()) return state.SkipWithError("qln-cli failed");
    for (auto _ : state) {
        if (!job()) {
            state.SkipWithError("qln-cli failed");
            break;
        }
    }
}
} // namespace

BENCHMARK(BM_CliReadParamsHistory)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);
BENCHMARK(BM_IdentityRead)->ArgName("identity")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
