// Printing on real paint devices: a device that records what is drawn, images (one PNG per page
// into this build folder), PDFs read back with poppler's pdftotext / pdfinfo, qln-print run as a
// program, and Print Project through the main window with its dialogs answered by the test.
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <fstream>
#include <limits>

#include "WidgetTestSupport.h"
#include "app/MainFrm.h"
#include "engine/QlnState.h"
#include "params/ParameterTable.h"
#include "print/PageRenderer.h"
#include "print/PrintLayout.h"
#include "print/SelectPrintDialog.h"
#include "project/ProjectFile.h"
#include "system/Clock.h"
#include "text/Texts.h"
#include "view/ChildView.h"

namespace {
constexpr PrintTime NOW{24, 12, 2026, 17, 30};

// A 7016 x 4961 pixel page (A4 landscape at 600 dpi) that keeps what is painted on it.
class RecordingEngine : public QPaintEngine {
public:
    struct Text {
        QPointF baseline;
        QFont font;
        QString text;
    };
    RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    Type type() const override { return User; }
    void drawTextItem(const QPointF& p, const QTextItem& item) override {
        texts.push_back({p, item.font(), item.text()});
    }
    void drawRects(const QRectF* rects, int count) override {
        rectangles.insert(rectangles.end(), rects, rects + count);
    }
    void drawPath(const QPainterPath& path) override { paths.push_back(path); }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode) override {
        polygons.push_back(QPolygonF(QList<QPointF>(points, points + count)).boundingRect());
    }

    std::vector<Text> texts;
    std::vector<QRectF> polygons; // bounding boxes of the lines and polygons drawn
    std::vector<QRectF> rectangles;
    std::vector<QPainterPath> paths;
};

class RecordingDevice : public QPaintDevice {
public:
    QPaintEngine* paintEngine() const override { return &engine; }
    mutable RecordingEngine engine;

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
        case PdmWidth:
            return 7016;
        case PdmHeight:
            return 4961;
        case PdmWidthMM:
            return 297;
        case PdmHeightMM:
            return 210;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 600;
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return std::numeric_limits<int>::max();
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        default:
            return 1;
        }
    }
};

// A project as a user has it: named, described, saved once, with a recording.
std::unique_ptr<ProjectFile> SampleProject() {
    auto file = std::make_unique<ProjectFile>();
    ResetProject(*file);
    SetFieldText(file->info.ProjectName, "Line 3");
    SetFieldText(file->info.Company, "Acme Valves");
    file->editBlock = DefaultParameterBlock();
    const uint32_t version = FORMAT_VERSION_BITS;
    std::memcpy(&file->calibration.FormatVersion, &version, 4);
    SampleBuffer samples;
    for (int i = 0; i < SampleBuffer::LENGTH; ++i)
        for (int c = 0; c < 4; ++c)
            samples.SetAnalog(c, i, static_cast<float>(80 * std::sin(i / 300.0 + c)));
    samples.SaveTo(file->samples);
    return file;
}

QString Run(const QString& program, const QStringList& args, int* status = nullptr, QString* err = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000)) return QStringLiteral("<did not finish>");
    if (status) *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (err) *err = QString::fromLocal8Bit(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool HavePoppler() {
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty();
}

QString PdfText(const QString& pdf) {
    return Run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
}

// "Pages: 6" and the page size line of pdfinfo.
int PdfPages(const QString& pdf) {
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}
bool PdfLandscape(const QString& pdf) {
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)")).match(info);
    return m.hasMatch() && m.captured(1).toDouble() > m.captured(2).toDouble();
}

// A language library that has the curves page's own texts in German.
class GermanCurveTexts : public ITextLibrary {
public:
    std::optional<std::string> Find(unsigned id) const override {
        if (id == 101) return "Ablesezeit";
        if (id == 370) return "Differenzdruck(dP)";
        return std::nullopt;
    }
};

void Drag(QWidget* w, QPoint from, QPoint to) {
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), w->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
    QTest::mouseRelease(w, Qt::LeftButton, {}, to);
}

// The window with its print dialogs answered by the test.
class TestFrame : public CMainFrame {
public:
    using CMainFrame::CMainFrame;
    std::optional<int> selection = PRINT_ALL;
    QString pdfPath;
    bool printerAsked = false;

protected:
    std::optional<int> AskPrintSelection() override { return selection; }
    bool AskPrinter(QPrinter& printer) override {
        printerAsked = true;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdfPath);
        printer.setPageOrientation(QPageLayout::Portrait); // the user's choice
        return true;
    }
};
} // namespace

class PrintTest : public QObject {
    Q_OBJECT
private slots:
    void textsAreDrawnWhereTheLayoutPutsThem();
    void curvesPageDrawsItsFrameAndSurvivesDamagedSamples();
    void everyPageAsAnImage();
    void qlnPrintWritesTheProjectIntoAPdf();
    void qlnPrintRefusesWhatItCannotReadOrWrite();
    void qlnPrintPrintsTheStepFiguresUnderTheCurves();
    void printProjectFromTheWindowIsLandscapeWhateverWasChosen();
    void theCurvesPageIsTheViewInTheLoadedTexts();
    void selectPrintDialogReadsItsButtons();
};

void PrintTest::textsAreDrawnWhereTheLayoutPutsThem() {
    const auto project = PrintProjectFromFile(*SampleProject(), "/srv/Line 3.QPJ");
    RecordingDevice device;
    const PageGeometry page{device.width(), device.height()};
    const auto pages = LayoutPrint(*project, PRINT_PARAMETERS, page, NOW, TextSource());
    QPainter painter(&device);
    PaintPrintedPage(painter, page, pages[1], *project);
    painter.end();
    // The label column is at 1 % of the width, the first parameter four lines and two line
    // heights below the first line (4961 / 34 + 4 x 124 + 4 x 124 = 1137).
    bool found = false;
    for (const auto& t : device.engine.texts) {
        if (t.text != QStringLiteral("Forward Offset / %")) continue;
        found = true;
        QCOMPARE(qRound(t.baseline.x()), 70);
        QCOMPARE(qRound(t.baseline.y() - QFontMetricsF(t.font, &device).ascent()), 1137);
    }
    QVERIFY(found);
    QCOMPARE(device.engine.texts.size(), pages[1].texts.size());
}

void PrintTest::curvesPageDrawsItsFrameAndSurvivesDamagedSamples() {
    auto file = SampleProject();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(file->samples + 4 * 100, &nan, 4);
    const auto project = PrintProjectFromFile(*file, "/srv/Line 3.QPJ");
    RecordingDevice device;
    const PageGeometry page{device.width(), device.height()};
    const auto pages = LayoutPrint(*project, PRINT_SCOPE, page, NOW, TextSource());
    QCOMPARE(pages.back().kind, PageKind::Curves);
    QPainter painter(&device);
    PaintPrintedPage(painter, page, pages.back(), *project);
    painter.end();
    // The scope's plot fills the frame 20 pixels in from the sides and the bottom, 100 from the top
    // (clipped to it); its curves stay inside, the damaged sample included.
    const QRectF frame = QRectF(20, 100, 7016 - 40, 4961 - 120).adjusted(-1, -1, 1, 1);
    QVERIFY(!device.engine.paths.empty() || !device.engine.polygons.empty());
    for (const QPainterPath& path : device.engine.paths)
        QVERIFY(frame.contains(path.boundingRect()));
}

void PrintTest::everyPageAsAnImage() {
    const auto project = PrintProjectFromFile(*SampleProject(), "/srv/Line 3.QPJ");
    // A4 landscape at 150 dpi.
    const PageGeometry page{1754, 1240};
    const auto pages = LayoutPrint(*project, PRINT_ALL, page, NOW, TextSource());
    QCOMPARE(pages.size(), size_t{6});
    for (size_t i = 0; i < pages.size(); ++i) {
        QImage image(page.width, page.height, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        PaintPrintedPage(painter, page, pages[i], *project);
        painter.end();
        int dark = 0;
        for (int y = 0; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2)
                dark += qGray(image.pixel(x, y)) < 128;
        QVERIFY2(dark > 100, qPrintable(QStringLiteral("page %1 is blank").arg(i + 1)));
        QVERIFY(image.save(QStringLiteral("print-page-%1.png").arg(i + 1)));
    }
}

void PrintTest::qlnPrintWritesTheProjectIntoAPdf() {
    if (!HavePoppler()) QSKIP("pdftotext / pdfinfo (poppler-utils) are not installed");
    QTemporaryDir dir;
    auto file = SampleProject();
    const QString projectPath = dir.filePath(QStringLiteral("line3.QPJ"));
    std::string error;
    QVERIFY2(WriteProjectFile(projectPath.toStdString(), *file, &error), error.c_str());
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    int status = -1;
    Run(QStringLiteral(QLN_PRINT_PATH), {projectPath, pdf}, &status);
    QCOMPARE(status, 0);
    QCOMPARE(PdfPages(pdf), 6);
    QVERIFY(PdfLandscape(pdf));
    const QString text = PdfText(pdf);
    for (const char* expected :
         {"QLN Edit Version 1.01 Project Info [Line 3, ", "Acme Valves", "Page 1 / 1", "Page 3 / 3",
          "Page 2 / 2", "Control - Parameters", "Proportional Gain", "1.00", "Setpoint Range Detection",
          "Scope Setup", "Sample Rate / msec", "Trigger Mode"})
        QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
    QVERIFY(text.contains(QStringLiteral("line3.QPJ]")));
    // Without a view: the stored 8 s at the default limits (-11 .. 100 %, the right scale down to
    // -120), the readout at the start.
    for (const char* expected : {"Readout Time", "8.000", "5.333", "-120"})
        QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);

    Run(QStringLiteral(QLN_PRINT_PATH),
        {QStringLiteral("--select"), QStringLiteral("parameters"), projectPath, pdf}, &status);
    QCOMPARE(status, 0);
    QCOMPARE(PdfPages(pdf), 4);
}

// A 20 s roll recording at 4 ms, the setpoint between 10 % and 90 % every second, the flow a
// first-order lag (θ 0.1 s, τ 0.1 s): a row for each step the page has room for, then the rest
// counted. Dead time θ + τ ln(1/0.95) = 0.105 s, T63 θ + τ ln(1/0.368) = 0.200 s.
void PrintTest::qlnPrintPrintsTheStepFiguresUnderTheCurves() {
    if (!HavePoppler()) QSKIP("pdftotext / pdfinfo (poppler-utils) are not installed");
    QTemporaryDir dir;
    auto file = SampleProject();
    file->scopeSetup.AcquisitionTime = 20;
    SampleBuffer samples;
    for (int i = 0; i < 5000; ++i) {
        const double t = i * 0.004, since = t - std::floor(t);
        const bool high = static_cast<int>(t) % 2 == 1;
        const double from = t < 1 ? 10 : high ? 10 : 90, to = high ? 90 : 10;
        samples.SetAnalog(0, i, static_cast<float>(high ? 90 : 10));
        samples.SetAnalog(
            1, i, static_cast<float>(since < 0.1 ? from : to + (from - to) * std::exp(-(since - 0.1) / 0.1)));
    }
    samples.SaveTo(file->samples);
    const QString projectPath = dir.filePath(QStringLiteral("steps.QPJ")),
                  pdf = dir.filePath(QStringLiteral("s.pdf"));
    std::string error;
    QVERIFY2(WriteProjectFile(projectPath.toStdString(), *file, &error), error.c_str());
    int status = -1;
    Run(QStringLiteral(QLN_PRINT_PATH),
        {QStringLiteral("--select"), QStringLiteral("scope"), projectPath, pdf}, &status);
    QCOMPARE(status, 0);
    const QString text = PdfText(pdf);
    for (const char* expected : {"Step", "Dead time", "T63", "Settling time", "Travel gain"})
        QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
    QVERIFY2(text.contains(QRegularExpression(
                 QStringLiteral("1 +1\\.000 +10\\.0 \\S 90\\.0 +10\\.0 \\S 90\\.0 +0\\.105 +0\\.200 "))),
             qPrintable(text));
    const QRegularExpressionMatch more =
        QRegularExpression(QStringLiteral("and (\\d+) more steps")).match(text);
    QVERIFY2(more.hasMatch(), qPrintable(text));
    QVERIFY(more.captured(1).toInt() > 0 && more.captured(1).toInt() < 19);
}

void PrintTest::qlnPrintRefusesWhatItCannotReadOrWrite() {
    QTemporaryDir dir;
    const QString projectPath = dir.filePath(QStringLiteral("line3.QPJ"));
    std::string error;
    QVERIFY(WriteProjectFile(projectPath.toStdString(), *SampleProject(), &error));
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    int status = -1;
    QString err;
    Run(QStringLiteral(QLN_PRINT_PATH), {dir.filePath(QStringLiteral("missing.QPJ")), pdf}, &status, &err);
    QCOMPARE(status, 2);
    QVERIFY2(err.contains(QStringLiteral("missing.QPJ")), qPrintable(err));
    QVERIFY(!QFileInfo::exists(pdf));

    Run(QStringLiteral(QLN_PRINT_PATH), {projectPath, QStringLiteral("/nonexistent-folder/out.pdf")}, &status,
        &err);
    QCOMPARE(status, 2);
    QVERIFY2(err.contains(QStringLiteral("/nonexistent-folder/out.pdf")), qPrintable(err));

    Run(QStringLiteral(QLN_PRINT_PATH),
        {QStringLiteral("--select"), QStringLiteral("curves"), projectPath, pdf}, &status, &err);
    QCOMPARE(status, 2);
    QVERIFY2(err.contains(QStringLiteral("usage")), qPrintable(err));
    Run(QStringLiteral(QLN_PRINT_PATH), {projectPath}, &status, &err);
    QCOMPARE(status, 2);
    QVERIFY(!QFileInfo::exists(pdf));
}

void PrintTest::printProjectFromTheWindowIsLandscapeWhateverWasChosen() {
    ManualClock clock;
    QTemporaryDir dir;
    QlnState state(clock);
    widget_test::RecordingBoxes boxes;
    TestFrame f(widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {false, false, true}));
    boxes.shown.clear();
    f.pdfPath = dir.filePath(QStringLiteral("printed.pdf"));

    f.selection = std::nullopt; // Cancel in the selection
    f.OnCommand(ID_PRINT_PROJECT);
    QVERIFY(!f.printerAsked);
    f.selection = PRINT_NONE;
    f.OnCommand(ID_PRINT_PROJECT);
    QCOMPARE(boxes.shown, std::vector<std::string>{" Project, Project Print UNKNOWN"});
    QVERIFY(!f.printerAsked && !QFileInfo::exists(f.pdfPath));

    f.selection = PRINT_PARAMETERS;
    f.OnCommand(ID_PRINT_PROJECT);
    QVERIFY(QFileInfo::exists(f.pdfPath));
    if (HavePoppler()) {
        QCOMPARE(PdfPages(f.pdfPath), 4);
        QVERIFY(PdfLandscape(f.pdfPath));
        // A project never saved; nothing read from the valve yet.
        const QString text = PdfText(f.pdfPath);
        QVERIFY(text.contains(QStringLiteral("QLN Edit Version 0.00 Project Info [UNKNOWN, ")));
        QVERIFY(text.contains(QStringLiteral("Quillon Software 1.01 Parameters")));
        QVERIFY(!text.contains(QStringLiteral("Scope Setup")));
        // Numbers keep their '.' in every locale (this test also runs under de_DE).
        QVERIFY(text.contains(QRegularExpression(QStringLiteral("Proportional Gain +1\\.00 +--"))));
    }

    f.pdfPath = QStringLiteral("/nonexistent-folder/printed.pdf");
    boxes.shown.clear();
    f.OnCommand(ID_PRINT_PROJECT);
    QCOMPARE(boxes.shown.size(), size_t{1});
    QVERIFY2(boxes.shown[0].find("/nonexistent-folder/printed.pdf") != std::string::npos,
             boxes.shown[0].c_str());
}

// Printed from the window, the curves page is the view as the user left it: zoomed to the first
// half and 0 .. 100 %, the readout time typed in; the names in the loaded texts, channel 2 with
// the flow-control structure's pressure.
void PrintTest::theCurvesPageIsTheViewInTheLoadedTexts() {
    if (!HavePoppler()) QSKIP("pdftotext (poppler-utils) is not installed");
    ManualClock clock;
    QTemporaryDir dir;
    QlnState state(clock);
    const GermanCurveTexts german;
    const TextSource texts(&german, nullptr);
    state.texts = &texts;
    widget_test::RecordingBoxes boxes;
    TestFrame f(widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {false, false, true}));
    ScopeSetup setup = CopyScopeSetup(state);
    setup.Mode = 0;
    setup.Analog[1].Signal = 2;
    StoreScopeSetup(state, setup);
    state.params.EditBlock.CONTROLLER_STRUCTURE = 7;
    for (int i = 0; i < 2000; ++i)
        state.samples.SetAnalog(0, i, 50.0f);
    state.FillIndex.store(2000);
    CChildView* view = f.View();
    view->ResetTimeAxis();
    f.resize(1400, 1150);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    Drag(view, {430, 100}, {780, 550});
    QCOMPARE(view->Window().end, 4.0);
    QCOMPARE(view->Window().lower, 0);
    auto* time = view->findChild<QLineEdit*>(QStringLiteral("readoutTime"));
    time->setFocus();
    time->selectAll();
    QTest::keyClicks(time, QStringLiteral("1.234"));
    QTest::keyClick(time, Qt::Key_Return);
    QCOMPARE(view->Window().readoutTime, 1.236);

    f.selection = PRINT_SCOPE;
    f.pdfPath = dir.filePath(QStringLiteral("scope.pdf"));
    f.OnCommand(ID_PRINT_PROJECT);
    QCOMPARE(PdfPages(f.pdfPath), 3);
    const QString text = PdfText(f.pdfPath);
    // 0 .. 4 s in eight parts; the readout time on the 4 ms grid; both pages name channel 2 alike.
    for (const char* expected : {"3.500", "Ablesezeit", "1.236", "Ch2: Differenzdruck(dP)", "Ch2: Shut Off"})
        QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
    QCOMPARE(text.count(QStringLiteral("Differenzdruck(dP)")), 2);
    // Not the whole recording (8 s in three parts), not the default limits (the right scale's -120).
    for (const char* absent : {"5.333", "-120"})
        QVERIFY2(!text.contains(QString::fromUtf8(absent)), absent);
}

void PrintTest::selectPrintDialogReadsItsButtons() {
    const TextSource texts;
    CSelectPrintDialog opened(nullptr, texts);
    QVERIFY(opened.AllButton()->isChecked());
    CSelectPrintDialog dlg(nullptr, texts, PRINT_SCOPE);
    QVERIFY(dlg.ScopeButton()->isChecked());
    QCOMPARE(dlg.ParametersButton()->accessibleName(), QStringLiteral("Parameters"));
    QCOMPARE(dlg.ScopeButton()->accessibleName(), QStringLiteral("Scope View"));
    dlg.ParametersButton()->click();
    dlg.accept();
    QCOMPARE(dlg.Selection(), int{PRINT_PARAMETERS});
}

QTEST_MAIN(PrintTest)
#include "PrintTest.moc"
