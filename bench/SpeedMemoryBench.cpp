// The speed memory, against the real qln-valve on a pseudo-terminal on the real clock: the time
// from a request on a fresh start to its completed reply, for the cheapest request there is
// (Status Info: the rate test's probe, then STR and LER).
//
//   BM_FirstStatus/baud:19200/remembered:0   the valve at the first speed tried
//   BM_FirstStatus/baud:57600/remembered:0   the probe at 19200 goes unanswered first (300 ms)
//   BM_FirstStatus/baud:57600/remembered:1   57600 read from QLN_com.ini [SPEEDS], tried first
//
// Goal: remembered 57600 at most 20 ms more than 19200.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <memory>

#include "engine/DeviceCommands.h"
#include "engine/EngineThreads.h"
#include "link/SerialPort.h"
#include "settings/ComSettings.h"
#include "support/EngineHarness.h"
#include "support/ValveProcess.h"

using namespace qln_test;

namespace {

void BM_FirstStatus(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const bool remembered = state.range(1) != 0;
    ValveProcess valve({"--baud", std::to_string(baud)});
    if (valve.SlavePath().empty()) {
        state.SkipWithError("qln-valve did not start");
        return;
    }
    InTempFolder folder;
    if (remembered)
        std::ofstream(kComSettingsFile) << "[SPEEDS]\n" << valve.SlavePath() << "=" << baud << "\n";
    RealClock clock;
    for (auto _ : state) {
        auto qln = std::make_unique<QlnState>(clock);
        QlnState& s = *qln;
        s.link.DevicePath[0] = valve.SlavePath();
        RecordingNotifier notifier;
        EngineThreads threads(s, notifier);
        threads.Start();
        const auto start = std::chrono::steady_clock::now();
        s.link.PreferredBaudIndex.store(
            BaudIndexOfRate(RememberedSpeed(ReadComSettings(""), valve.SlavePath())));
        RequestAction(s, CMD_READ_STATUS);
        const bool read = notifier.WaitForCount(1) && notifier.Codes().front() == NOTIFY_STATUS;
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        threads.Stop();
        if (!read) {
            state.SkipWithError("the status read failed");
            break;
        }
    }
}
} // namespace

BENCHMARK(BM_FirstStatus)
    ->Args({19200, 0})
    ->Args({57600, 0})
    ->Args({57600, 1})
    ->ArgNames({"baud", "remembered"})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);
