// How long the desktop program takes to end once its window closes, on the real clock. The goal
// is well under 0.3 s in every mode: a user who closes the window expects the process to be gone.
// Measured from the Exit command until the window has gone and its threads are joined; what the
// process does after that (Qt's own teardown) adds some 10-30 ms.
//
//   BM_CloseWindow/mode:0   test mode (the built-in valve), engine idle
//   BM_CloseWindow/mode:1   test mode, engine in the middle of reads
//   BM_CloseWindow/mode:2   a serial port where no valve answers: the engine is inside its reply
//                           time-out or the pause before a retry
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "app/MainFrm.h"
#include "engine/QlnState.h"
#include "gui/WidgetTestSupport.h"
#include "system/Clock.h"

namespace {
QApplication& App() {
    static int argc = 1;
    static char name[] = "qln_exit_bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// A pseudo-terminal whose other end nobody reads or answers.
struct SilentLine {
    SilentLine() : master(::posix_openpt(O_RDWR | O_NOCTTY)) {
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) path = ::ptsname(master);
    }
    ~SilentLine() {
        if (master >= 0) ::close(master);
    }
    int master;
    std::string path;
};

void BM_CloseWindow(benchmark::State& state) {
    App();
    const int mode = static_cast<int>(state.range(0));
    SilentLine line;
    for (auto _ : state) {
        state.PauseTiming();
        RealClock clock;
        QlnState s(clock);
        QTemporaryDir dir;
        widget_test::RecordingBoxes boxes;
        const bool testMode = mode != 2;
        auto frame = std::make_unique<CMainFrame>(
            widget_test::WindowSetup(s, dir.path().toStdString(), boxes, {false, false, testMode}));
        frame->show();
        if (testMode) {
            RequestAction(s, CMD_READ_STATUS);
            widget_test::Until([&] { return s.THREAD_CMD.load() == 0; });
            if (mode == 1) RequestAction(s, CMD_READ_PARAMETER | CMD_READ_DEVICE_INFO);
        } else {
            s.link.DevicePath[0] = line.path;
            RequestAction(s, CMD_READ_STATUS);
            // Into the rate test's wait for an answer that never comes, at a different point each time.
            widget_test::Until([&] { return s.link.PortOpen.load() != 0; });
            widget_test::Until([] { return false; }, 200 + 700 * static_cast<int>(state.iterations() % 2));
        }
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        frame->OnCommand(ID_EXIT);
        widget_test::Until([&] { return !frame->isVisible(); });
        frame.reset();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
}
BENCHMARK(BM_CloseWindow)
    ->ArgName("mode")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6);
} // namespace
