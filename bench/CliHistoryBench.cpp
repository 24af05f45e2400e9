// What the valve history costs a qln-cli job: the whole read-params process against qln-valve at
// 19200 baud, without the history, into a SQLite file and into a PostgreSQL server on this machine
// (a private one on a Unix socket, flushing to disk as a real one does). With the history on, a
// job also reads the valve's identity (the info telegrams) and stores one entry.
//   BM_CliReadParamsHistory/0   --history off
//   BM_CliReadParamsHistory/1   --history sqlite:PATH
//   BM_CliReadParamsHistory/2   --history postgresql://...
#include <benchmark/benchmark.h>

#include <memory>

#include "support/EngineHarness.h"
#include "support/PgServer.h"
#include "support/ValveProcess.h"

namespace {
using namespace std::chrono_literals;

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
    }
    qln_test::ValveProcess valve({});
    const std::vector<std::string> args = {"--device",  valve.SlavePath(), "--baud",     "19200",
                                           "--history", history,           "read-params"};
    for (auto _ : state) {
        qln_test::ValveProcess cli(QLN_CLI_PATH, args, false, false);
        cli.ReadToEnd(60s);
        if (cli.WaitExit(60s) != 0) {
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
