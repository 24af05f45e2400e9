// The scope view on the offscreen platform: a known recording rendered into an image and checked
// at its logical positions, the mouse (zoom, Zoom Back, the cursor handle), the typed readout
// time, the marker, the exports read back, and a recording from the real qln-valve.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "WidgetTestSupport.h"
#include "app/MainFrm.h"
#include "engine/QlnState.h"
#include "support/ValveProcess.h"
#include "system/Clock.h"
#include "text/LanguageLibrary.h"
#include "view/ChildView.h"

using widget_test::ReadAll;

namespace {
const QColor CYAN(0, 255, 255), GREEN(0, 255, 0), YELLOW(255, 255, 0);

// A view alone, 1280 x 960 (one pixel per logical unit), over its own state.
struct Alone {
    explicit Alone(int32_t mode = 0, int32_t rate = 0) : state(clock) {
        ScopeSetup s = DefaultScopeSetup();
        s.Mode = mode;
        s.SampleRateIndex = rate;
        StoreScopeSetup(state, s);
        view.Attach(&state);
        view.resize(1280, 960);
        view.show();
    }
    // Channel 1 constant 50 %, channel 2 a ramp 0..100 %, binary 2 high from sample 1000.
    void Record(int samples) {
        for (int i = 0; i < samples; ++i) {
            state.samples.SetAnalog(0, i, 50.0f);
            state.samples.SetAnalog(1, i, 100.0f * static_cast<float>(i) / static_cast<float>(samples));
            state.samples.SetBinary(1, i, i >= 1000 ? 1 : 0);
        }
        state.FillIndex.store(samples);
        state.SamplesReceived.store(samples);
        view.ResetTimeAxis();
    }
    QImage Picture() { return view.grab().toImage(); }
    QLineEdit* Field(const QString& accessibleName) {
        for (QLineEdit* e : view.findChildren<QLineEdit*>())
            if (e->accessibleName() == accessibleName) return e;
        return nullptr;
    }

    ManualClock clock;
    QlnState state;
    CChildView view;
};

bool Near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 30;
}

// Whether a colour is within `d` pixels of (x, y) in the column x.
bool InColumn(const QImage& img, int x, int y, QColor c, int d = 1) {
    for (int dy = -d; dy <= d; ++dy)
        if (Near(img.pixelColor(x, y + dy), c)) return true;
    return false;
}

void Drag(QWidget* w, QPoint from, QPoint to) {
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), w->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
    QTest::mouseRelease(w, Qt::LeftButton, {}, to);
}

std::vector<double> Numbers(const std::string& line) {
    std::vector<double> out;
    for (size_t at = 0; at <= line.size();) {
        const size_t comma = std::min(line.find(',', at), line.size());
        double v = std::numeric_limits<double>::quiet_NaN();
        const auto r = std::from_chars(line.data() + at, line.data() + comma, v);
        if (r.ptr != line.data() + comma) return {};
        out.push_back(v);
        at = comma + 1;
    }
    return out;
}

// The locale run writes its screenshots beside the plain run's, not over them.
QString Shot(const char* name) {
    const char* lc = std::getenv("LC_ALL");
    const QString suffix =
        lc && *lc ? QStringLiteral("_") + QString::fromLatin1(lc).section('.', 0, 0) : QString();
    return QCoreApplication::applicationDirPath() + "/" + QString::fromLatin1(name) + suffix + ".png";
}

class TestFrame : public CMainFrame {
public:
    using CMainFrame::CMainFrame;
    QString exportPath;
    QSize pictureSize{1600, 1200};

protected:
    QString AskExportPath(const QString&, const QString&, const QString&) override { return exportPath; }
    QSize AskPictureSize() override { return pictureSize; }
};
} // namespace

class ScopeViewTest : public QObject {
    Q_OBJECT
private slots:
    void knownRecordingLandsOnItsUnits();
    void zoomAndZoomBack();
    void cursorDragAndTypedTimeUpdateTheReadout();
    void markerRunsWhileRecordingAndThePaintReleasesTheEngine();
    void brokenInputsAreDrawnWithoutHarm();
    void exportsReadBackAsTheRecording();
    void screenshots();
    void recordsAStepFromTheVirtualValve();
    void stepFiguresFollowTheReadoutTime();
};

void ScopeViewTest::knownRecordingLandsOnItsUnits() {
    Alone a;
    a.Record(2000);
    QVERIFY(QTest::qWaitForWindowExposed(&a.view));
    const QImage img = a.Picture();
    // 50 % on the default range -11 .. 100: 600 - 61 x 500 / 111 = 325.
    QVERIFY(InColumn(img, 800, 325, CYAN));
    QVERIFY(!InColumn(img, 800, 350, CYAN));
    // The ramp of channel 2 at sample 1000 (x 780): 50 %, the same height.
    QVERIFY(InColumn(img, 700, AnalogY(1, 100.0 * 771 / 2000, -11, 100).value(), GREEN, 2));
    // The readout cursor at 4 s (x 780) between the value axis and the first strip; none beside it.
    QCOMPARE(img.pixelColor(780, 630), QColor(Qt::black));
    QCOMPARE(img.pixelColor(784, 630), QColor(Qt::white));
    // Binary channel 2 is high right of sample 1000 (x 780): red at its high level 710.
    QVERIFY(InColumn(img, 900, 710, QColor(255, 0, 0)));
    QVERIFY(InColumn(img, 600, 740, QColor(255, 0, 0)));
    QCOMPARE(a.Field(QStringLiteral("Ch1: Setpoint"))->text(), QStringLiteral("50.0"));
    QCOMPARE(a.Field(QStringLiteral("Readout Time"))->text(), QStringLiteral("4.000"));
    // Channel 4 shows "none": "--" and no curve.
    QCOMPARE(a.Field(QStringLiteral("Ch4: none"))->text(), QStringLiteral("--"));
}

void ScopeViewTest::zoomAndZoomBack() {
    Alone a;
    a.Record(2000);
    QVERIFY(QTest::qWaitForWindowExposed(&a.view));
    // From 100 % down to 0 % over the whole time: the range becomes 0 .. 100 and 50 % sits at 350.
    Drag(&a.view, {430, 100}, {1130, 550});
    QCOMPARE(a.view.Window().lower, 0);
    QCOMPARE(a.view.Window().upper, 100);
    QVERIFY(InColumn(a.Picture(), 800, 350, CYAN));
    // A flat band zooms the time only: 430 .. 780 is the first half.
    Drag(&a.view, {430, 300}, {780, 305});
    QCOMPARE(a.view.Window().end, 4.0);
    QCOMPARE(a.view.Window().upper, 100);
    auto* back = a.view.findChild<QPushButton*>(QStringLiteral("zoomBack"));
    QCOMPARE(back->accessibleName(), QStringLiteral("Zoom Back"));
    back->click();
    QVERIFY(IsFullView(a.view.Window()));
    QVERIFY(InColumn(a.Picture(), 800, 325, CYAN));
}

void ScopeViewTest::cursorDragAndTypedTimeUpdateTheReadout() {
    Alone a;
    a.Record(2000);
    QVERIFY(QTest::qWaitForWindowExposed(&a.view));
    // The handle of 4 s stands at x 780; dragged to x 605 it reads 2 s, sample 500 of the ramp.
    Drag(&a.view, {780, 895}, {605, 895});
    QCOMPARE(a.view.Window().readoutTime, 2.0);
    QCOMPARE(a.Field(QStringLiteral("Ch2: Flow"))->text(), QStringLiteral("25.0"));
    QCOMPARE(a.Field(QStringLiteral("Readout Time"))->text(), QStringLiteral("2.000"));

    Alone t(2, 3); // trigger mode at 40 ms
    t.Record(200);
    QLineEdit* time = t.Field(QStringLiteral("Readout Time"));
    time->setFocus();
    time->selectAll();
    QTest::keyClicks(time, QStringLiteral("3.3"));
    QTest::keyClick(time, Qt::Key_Return);
    QCOMPARE(time->text(), QStringLiteral("3.320"));
    QCOMPARE(t.view.Window().readoutTime, 3.32);
    // Trigger mode counts back from the acquisition time: 3.32 s is sample (8 - 3.32) / 0.04 = 117.
    QCOMPARE(t.view.Readout().analog[1], t.state.samples.Analog(1, 117));
}

void ScopeViewTest::markerRunsWhileRecordingAndThePaintReleasesTheEngine() {
    Alone a;
    QVERIFY(QTest::qWaitForWindowExposed(&a.view));
    a.view.ResetForAcquisition(false);
    a.state.THREAD_CMD.store(CMD_STEP_MODE);
    QVERIFY(!InColumn(a.Picture(), 700, 325, CYAN));
    for (int i = 0; i < 1000; ++i)
        a.state.samples.SetAnalog(0, i, 50.0f);
    a.state.DisplayUpdatePending.store(1);
    a.view.OnAcquisitionProgress(1000); // 4 s of 8: marker position 350, bar at x 775 .. 790
    QCOMPARE(a.view.MarkerSample(), 1000);
    QVERIFY2(widget_test::Until([&] { return a.state.DisplayUpdatePending.load() == 0; }, 5000),
             "the paint never released the engine");
    QVERIFY(Near(a.Picture().pixelColor(782, 500), YELLOW));
    // The new samples are drawn in the strip the marker swept (50 % at y 325).
    QVERIFY(InColumn(a.Picture(), 700, 325, CYAN));
    // The time field cannot be typed into while recording.
    QVERIFY(a.Field(QStringLiteral("Readout Time"))->isReadOnly());
    a.state.THREAD_CMD.store(0);
    a.view.OnAcquisitionEnded(0);
    QCOMPARE(a.view.MarkerSample(), -1);
    QVERIFY(!Near(a.Picture().pixelColor(782, 500), YELLOW));
}

void ScopeViewTest::brokenInputsAreDrawnWithoutHarm() {
    Alone a;
    a.Record(2000);
    a.state.samples.SetAnalog(0, 999, std::numeric_limits<float>::quiet_NaN());
    a.state.samples.SetAnalog(0, 1000, std::numeric_limits<float>::infinity());
    a.state.samples.SetAnalog(1, 1000, -std::numeric_limits<float>::infinity());
    ScopeSetup s = CopyScopeSetup(a.state);
    s.AcquisitionTime = 0;
    s.SampleRateIndex = 99;
    StoreScopeSetup(a.state, s);
    a.view.ResetTimeAxis();
    QVERIFY(!a.Picture().isNull());
    QCOMPARE(a.Field(QStringLiteral("Ch1: Setpoint"))->text(), QStringLiteral("50.0"));
    // A minimised (zero-sized) client takes no mouse input and paints nothing.
    a.view.resize(0, 0);
    const ScopeWindow before = a.view.Window();
    Drag(&a.view, {0, 0}, {0, 0});
    QCOMPARE(a.view.Window().end, before.end);
    a.view.resize(1280, 960);
}

void ScopeViewTest::exportsReadBackAsTheRecording() {
    ManualClock clock;
    QlnState state(clock);
    QTemporaryDir dir;
    widget_test::RecordingBoxes boxes;
    TestFrame f(widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {false, false, true}));
    ScopeSetup s = CopyScopeSetup(state);
    s.Mode = 0;
    StoreScopeSetup(state, s);
    for (int i = 0; i < 2000; ++i) {
        state.samples.SetAnalog(0, i, 50.0f);
        state.samples.SetAnalog(1, i, 0.25f * static_cast<float>(i % 400));
        state.samples.SetBinary(3, i, i % 2);
    }
    state.FillIndex.store(2000);
    f.View()->ResetTimeAxis();

    f.exportPath = dir.filePath(QStringLiteral("run"));
    f.OnCommand(ID_EXPORT_RECORDING);
    std::istringstream csv(ReadAll(dir.filePath(QStringLiteral("run.csv"))));
    std::string line;
    std::getline(csv, line);
    QCOMPARE(line, std::string("t_s,ana1,ana2,ana3,ana4,bin1,bin2,bin3,bin4"));
    std::getline(csv, line);
    QCOMPARE(line, std::string(",Setpoint,Flow,none,none,Digital Output,Shut Off,Autosafe,Digital Input"));
    int rows = 0;
    for (; std::getline(csv, line); ++rows) {
        // Read back with a '.' whatever the locale: the file never depends on it.
        const std::vector<double> v = Numbers(line);
        QCOMPARE(v.size(), size_t{9});
        QCOMPARE(v[0], std::round(rows * 4.0) / 1000.0);
        QCOMPARE(v[1], 50.0);
        QCOMPARE(v[2], 0.25 * (rows % 400));
        QCOMPARE(v[8], static_cast<double>(rows % 2));
    }
    QCOMPARE(rows, 2000);

    f.exportPath = dir.filePath(QStringLiteral("run.png"));
    f.OnCommand(ID_EXPORT_PICTURE);
    const QImage png(dir.filePath(QStringLiteral("run.png")));
    QCOMPARE(png.size(), QSize(1600, 1200));
    // The picture is the logical space scaled by 1.25: 50 % at y 325 x 1.25.
    QVERIFY(InColumn(png, 1000, static_cast<int>(std::lround(325 * 1.25)), CYAN, 2));

    // A file that cannot be written is said with its path and the reason.
    boxes.shown.clear();
    f.exportPath = dir.filePath(QStringLiteral("missing/run.csv"));
    f.OnCommand(ID_EXPORT_RECORDING);
    QCOMPARE(boxes.shown.size(), size_t{1});
    QVERIFY2(boxes.shown[0].find("missing/run.csv could not be written: ") != std::string::npos,
             boxes.shown[0].c_str());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
}

void ScopeViewTest::screenshots() {
    LanguageLibrary german;
    std::string error;
    QVERIFY2(german.Load(QLN_GERMAN_LIBRARY, &error), error.c_str());
    const TextSource germanTexts(&german, nullptr);
    for (const bool inGerman : {false, true}) {
        for (const int32_t mode : {0, 2}) {
            Alone a(mode, 0);
            if (inGerman) a.state.texts = &germanTexts;
            a.Record(2000);
            for (int i = 0; i < 2000; ++i)
                a.state.samples.SetAnalog(1, i, static_cast<float>(90.0 - 80.0 * std::exp(-i / 150.0)));
            a.view.ToggleGrid();
            a.view.ResetTimeAxis();
            const QString name = QStringLiteral("scope_%1_%2")
                                     .arg(mode == 0 ? QStringLiteral("step") : QStringLiteral("trigger"))
                                     .arg(inGerman ? QStringLiteral("de") : QStringLiteral("en"));
            QVERIFY(a.Picture().save(Shot(name.toLatin1().constData())));
        }
    }
}

// F4 records a step from the real qln-valve; the curves follow its flow; the cursor, a zoom and
// Zoom Back work; the export holds what the view shows.
void ScopeViewTest::recordsAStepFromTheVirtualValve() {
    qln_test::ValveProcess valve({});
    QVERIFY2(!valve.SlavePath().empty(), "qln-valve did not start");
    ScaledClock clock(0.2);
    QTemporaryDir dir;
    {
        std::ofstream ini(dir.filePath(QStringLiteral("QLN_com.ini")).toStdString());
        ini << "[SERIAL-PORT]\nPORT=COM1\n[DEVICES]\nCOM1=" << valve.SlavePath() << "\n";
    }
    QlnState state(clock);
    widget_test::RecordingBoxes boxes;
    TestFrame f(widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {false, false, false}));
    f.resize(1400, 1150);
    f.show();
    ScopeSetup s = CopyScopeSetup(state);
    s.Mode = 0;
    s.AcquisitionTime = 4;
    StoreScopeSetup(state, s);
    f.OnCommand(ID_START_ACQUISITION);
    QVERIFY(state.THREAD_CMD.load() & CMD_STEP_MODE);
    CChildView* view = f.View();
    QVERIFY2(widget_test::Until([&] { return view->MarkerSample() > 0; }, 60000),
             "no progress reached the view");
    QVERIFY2(
        widget_test::Until([&] { return state.THREAD_CMD.load() == 0 && view->MarkerSample() == -1; }, 90000),
        "the recording never ended");
    QCOMPARE(state.FillIndex.load(), 1000);
    // How many redraws a slow machine skips is a figure of the benchmark (BM_Recording,
    // ScopePlotBench), not of this test: under a sanitizer the view is many times slower.
    // The setpoint steps from 10 % to 90 %; the flow follows it.
    QVERIFY(std::abs(state.samples.Analog(0, 10) - 10.0f) < 1.0f);
    QVERIFY(std::abs(state.samples.Analog(0, 990) - 90.0f) < 1.0f);
    QVERIFY(state.samples.Analog(1, 990) > state.samples.Analog(1, 10) + 40.0f);
    QWidget* figures = view->findChild<QWidget*>(QStringLiteral("stepFigures"));
    QCOMPARE(view->Steps().steps.size(), size_t{1});
    QVERIFY2(figures->isVisible(), "the step at the readout time (2 s)");

    // The cursor from the middle (2 s, after the step) to the start: the readout follows the buffer.
    QVERIFY(std::abs(view->Readout().analog[0] - 90.0f) < 1.0f);
    Drag(view, {780, 895}, {440, 895});
    QCOMPARE(view->Window().readoutTime, 0.060); // 10 units of 4 s / 700, up to the 4 ms grid
    QCOMPARE(view->Readout().analog[1], state.samples.Analog(1, 15));
    QVERIFY(std::abs(view->Readout().analog[0] - 10.0f) < 1.0f);
    Drag(view, {430, 300}, {780, 305});
    QCOMPARE(view->Window().end, 2.0);
    f.OnCommand(ID_RESET_ZOOM);
    QVERIFY(IsFullView(view->Window()));

    f.exportPath = dir.filePath(QStringLiteral("step.csv"));
    f.OnCommand(ID_EXPORT_RECORDING);
    f.exportPath = dir.filePath(QStringLiteral("step.png"));
    f.OnCommand(ID_EXPORT_PICTURE);
    std::istringstream csv(ReadAll(dir.filePath(QStringLiteral("step.csv"))));
    std::string line;
    int rows = -2;
    for (; std::getline(csv, line); ++rows) {
    }
    QCOMPARE(rows, 1000);
    QCOMPARE(QImage(dir.filePath(QStringLiteral("step.png"))).size(), QSize(1600, 1200));
    QVERIFY(QImage(dir.filePath(QStringLiteral("step.png"))).save(Shot("scope_step_valve")));

    // Scope > Step Figures hides them, and the choice is kept for the next start.
    QVERIFY(f.CommandAction(ID_STEP_FIGURES)->isChecked());
    f.CommandAction(ID_STEP_FIGURES)->trigger();
    QVERIFY(!figures->isVisible() && view->Steps().steps.empty());
    QVERIFY(ReadAll(dir.filePath(QStringLiteral("QLN_com.ini"))).find("STEP_FIGURES=0") != std::string::npos);
}

// A step up at 1 s and down at 5 s, the flow a first-order lag (θ 0.1 s, τ 0.2 s): the table shows
// the step at the readout time, as screen readers read it; its marks stand on the flow curve.
void ScopeViewTest::stepFiguresFollowTheReadoutTime() {
    Alone a;
    for (int i = 0; i < 2000; ++i) {
        const double t = i * 0.004, since = t < 5 ? t - 1 : t - 5, from = t < 5 ? 10 : 90,
                     to = t < 5 ? 90 : 10;
        a.state.samples.SetAnalog(0, i, t < 1 ? 10.0f : static_cast<float>(to));
        const double y =
            t < 1 || since < 0.1 ? (t < 1 ? 10 : from) : to + (from - to) * std::exp(-(since - 0.1) / 0.2);
        a.state.samples.SetAnalog(1, i, static_cast<float>(y));
    }
    a.state.FillIndex.store(2000);
    a.state.SamplesReceived.store(2000);
    a.view.ResetTimeAxis();
    auto value = [&](const QString& name) {
        for (QLineEdit* e : a.view.findChildren<QLineEdit*>())
            if (e->isVisible() && e->accessibleName() == name)
                return QAccessible::queryAccessibleInterface(e)->text(QAccessible::Value);
        return QString();
    };
    auto shown = [&](const QString& text) {
        for (QLabel* l : a.view.findChildren<QLabel*>())
            if (l->isVisible() && QAccessible::queryAccessibleInterface(l)->text(QAccessible::Name) == text)
                return true;
        return false;
    };
    QVERIFY(shown(QStringLiteral("Step 1 of 2")));
    QVERIFY(std::abs(value(QStringLiteral("T63 / s")).toDouble() - (0.1 + 0.2 * std::log(1 / 0.368))) <
            0.004);
    QCOMPARE(value(QStringLiteral("Setpoint / %")), QStringLiteral("10.0 \u2192 90.0"));
    // The marks: black strokes across the green curve where it passes 63 % (x 430 + 325 x 0.35).
    auto black = [&] {
        const QImage img = a.Picture();
        int n = 0;
        for (int y = 240; y < 320; ++y)
            n += Near(img.pixelColor(544, y), Qt::black);
        return n;
    };
    const int withMarks = black();
    QVERIFY(a.Picture().save(Shot("scope_step_figures")));
    widget_test::PutText(a.Field(QStringLiteral("Readout Time")), QStringLiteral("6"));
    QVERIFY(shown(QStringLiteral("Step 2 of 2")));
    QCOMPARE(value(QStringLiteral("Travel gain")), QStringLiteral("1.00"));
    widget_test::PutText(a.Field(QStringLiteral("Readout Time")), QStringLiteral("0.5"));
    QVERIFY2(!a.view.findChild<QWidget*>(QStringLiteral("stepFigures"))->isVisible(),
             "before the first step");
    a.view.ShowStepFigures(false);
    QVERIFY(black() < withMarks);

    ScopeSetup s = CopyScopeSetup(a.state);
    s.Analog[1].Signal = 2;
    StoreScopeSetup(a.state, s);
    a.view.ShowStepFigures(true);
    QVERIFY(shown(QStringLiteral("Step figures need Setpoint on channel 1 and Flow on channel 2.")));
}

QTEST_MAIN(ScopeViewTest)
#include "ScopeViewTest.moc"
