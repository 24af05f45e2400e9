// A full parameter read (36 exchanges) through the real threads and a pseudo-terminal, on the real
// clock: what a user waits for when the editor reads the valve.
//
//   BM_ParameterRead                              a scripted valve that answers at once
//   BM_ParameterReadThroughAdapter/latency_ms:N   qln-valve at 19200 baud behind a USB serial
//                                                 adapter whose latency timer is N ms (0: none)
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/DeviceCommands.h"
#include "engine/EngineThreads.h"
#include "support/EngineHarness.h"
#include "support/ScriptedValve.h"
#include "support/ValveProcess.h"

using namespace qln_test;

namespace {
// Reads the parameters once per iteration from the device, after one baud-rate test.
void ReadParameters(benchmark::State& state, const std::string& device) {
    RealClock clock;
    auto qln = std::make_unique<QlnState>(clock);
    QlnState& s = *qln;
    s.link.PortIndex.store(0);
    s.link.DevicePath[0] = device;
    RecordingNotifier notifier;
    EngineThreads threads(s, notifier);
    threads.Start();

    // Find the line speed once, outside the measurement.
    RequestAction(s, CMD_BAUDRATE_TEST);
    if (!WaitUntil([&] { return s.THREAD_CMD.load() == 0; }) || s.link.BaudIndex.load() == 0) {
        state.SkipWithError("the baud-rate test failed");
        return;
    }

    size_t reads = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        RequestAction(s, CMD_READ_PARAMETER);
        if (!notifier.WaitForCount(reads + 1) || notifier.Codes().back() != NOTIFY_PARAMETERS_READ) {
            state.SkipWithError("a parameter read failed");
            break;
        }
        ++reads;
        // The window only requests when the engine is idle again.
        WaitUntil([&] { return s.THREAD_CMD.load() == 0; });
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    threads.Stop();
    if (reads == 0) return;
    state.counters["reads_per_s"] = static_cast<double>(reads) / seconds;
    state.counters["us_per_exchange"] = seconds * 1e6 / static_cast<double>(reads * PARAM_TELEGRAM_COUNT);
}

void BM_ParameterRead(benchmark::State& state) {
    ValveModel model;
    ScriptedValve valve(model.Behaviour());
    ReadParameters(state, valve.SlavePath());
}

void BM_ParameterReadThroughAdapter(benchmark::State& state) {
    ValveProcess valve({"--adapter-latency", std::to_string(state.range(0))});
    if (valve.SlavePath().empty()) {
        state.SkipWithError("qln-valve did not start");
        return;
    }
    ReadParameters(state, valve.SlavePath());
}
} // namespace

BENCHMARK(BM_ParameterRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ParameterReadThroughAdapter)
    ->ArgName("latency_ms")
    ->Arg(0)
    ->Arg(1)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
