// How fast the scope plot is drawn, into an image the size of the logical space (one pixel per
// unit, as a maximised window on a 1280 x 1024 screen shows it). Goals: a full repaint of a
// 5000-sample recording with all eight channels in at most 5 ms (median), the strip the moving
// marker repaints during a recording in at most 1 ms, and a 100 x 30 expose of the idle view (a
// blinking cursor, a tooltip gone) in at most 0.3 ms.
//
//   BM_FullRepaint     every element and four curves of 5000 noisy samples, four busy binary traces
//   BM_MarkerStrip     the strip of one marker step (about 20 units wide), while recording
//   BM_ViewExpose      the scope view itself showing that recording, 100 x 30 pixels exposed:
//                      /0 inside the curves, /1 over the readout time field (its blinking cursor)
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWindow>
#include <cmath>
#include <memory>
#include <vector>

#include "engine/QlnState.h"
#include "system/Clock.h"
#include "view/ChildView.h"
#include "view/ScopePlot.h"

namespace {
QApplication& App() {
    static int argc = 1;
    static char name[] = "qln_scope_bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// 20 s at 4 ms: a step response with noise on every channel, binary channels toggling.
std::unique_ptr<SampleBuffer> Recording() {
    auto b = std::make_unique<SampleBuffer>();
    for (int i = 0; i < SampleBuffer::LENGTH; ++i) {
        const double noise = std::sin(i * 12.9898) * 3.0;
        b->SetAnalog(0, i, i < 500 ? 10.0f : 90.0f);
        b->SetAnalog(1, i, static_cast<float>(90.0 - 80.0 * std::exp(-i / 300.0) + noise));
        b->SetAnalog(2, i, static_cast<float>(20.0 * std::sin(i / 50.0) + noise));
        b->SetAnalog(3, i, static_cast<float>(-30.0 + noise * 5.0));
        for (int c = 0; c < 4; ++c)
            b->SetBinary(c, i, (i / (7 + 13 * c)) & 1);
    }
    return b;
}

PlotInput Input(const SampleBuffer& b, bool running) {
    PlotInput in;
    in.samples = &b;
    in.window = ResetTimeAxis(0, 0, 20, 0.004);
    in.analogNames = {"Setpoint", "Flow", "Control Deviation", "P-Value"};
    in.binaryNames = {"Digital Output", "Shut Off", "Autosafe", "Digital Input"};
    in.grid = true;
    in.running = running;
    in.marker = running ? 350 : -1;
    return in;
}

void BM_FullRepaint(benchmark::State& state) {
    App();
    const auto b = Recording();
    const PlotInput in = Input(*b, false);
    const PlotStyle style = ScreenPlotStyle(1024, false);
    QImage image(1280, 960, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&image);
        PaintScopePlot(p, QRectF(0, 0, 1280, 960), in, style);
    }
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_MarkerStrip(benchmark::State& state) {
    App();
    const auto b = Recording();
    PlotInput in = Input(*b, true);
    const MarkerRepaint area = MarkerRepaintAreas(340, 350);
    in.exposed = area.strip;
    const PlotStyle style = ScreenPlotStyle(1024, true);
    QImage image(1280, 960, QImage::Format_RGB32);
    const QRectF strip(QPointF(area.strip.left, area.strip.top),
                       QPointF(area.strip.right, area.strip.bottom));
    for (auto _ : state) {
        QPainter p(&image);
        // As the window system clips a partial repaint.
        p.setClipRect(strip);
        PaintScopePlot(p, QRectF(0, 0, 1280, 960), in, style);
    }
}
BENCHMARK(BM_MarkerStrip)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ViewExpose(benchmark::State& state) {
    App();
    ManualClock clock;
    auto s = std::make_unique<QlnState>(clock);
    const auto recording = Recording();
    std::vector<uint8_t> bytes(SampleBuffer::BYTES);
    recording->SaveTo(bytes.data());
    s->samples.LoadFrom(bytes.data());
    CChildView view;
    view.Attach(s.get());
    // 20 s at 4 ms, every analog channel showing a signal.
    ScopeSetup setup = CopyScopeSetup(*s);
    setup.Mode = 0;
    setup.AcquisitionTime = 20;
    setup.Analog[2].Signal = 0;
    setup.Analog[3].Signal = 0;
    StoreScopeSetup(*s, setup);
    s->FillIndex.store(SampleBuffer::LENGTH);
    view.ResetTimeAxis();
    view.ToggleGrid();
    view.resize(1280, 960);
    view.show();
    // Painting starts once the window system has exposed the window.
    for (int i = 0; i < 500 && !(view.windowHandle() && view.windowHandle()->isExposed()); ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!view.windowHandle() || !view.windowHandle()->isExposed()) state.SkipWithError("never exposed");
    view.repaint();
    const QRect exposed = state.range(0) == 0 ? QRect(700, 300, 100, 30) : QRect(80, 540, 100, 30);
    for (auto _ : state)
        view.repaint(exposed);
}
BENCHMARK(BM_ViewExpose)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
} // namespace
