// Widget tests of the three calibration dialogs on the offscreen platform, opened from the real
// window in calibration mode with the engine serving the built-in valve: Read, Copy, Write and the
// automatic read-back, the matrix panel's selection and labels, and what Close keeps.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <functional>
#include <sstream>

#include "WidgetTestSupport.h"
#include "app/MainFrm.h"
#include "dialogs/CalibrationDialog.h"
#include "dialogs/CalibrationMatrixDialog.h"
#include "dialogs/CalibrationMatrixPanel.h"
#include "dialogs/ColorButton.h"
#include "dialogs/DisplayCalibrationDialog.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

using widget_test::PutText;
using widget_test::Toggle;
using widget_test::Until;

namespace {
size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// The window in calibration and test mode with the trace log, in a folder of its own.
struct TestProgram : widget_test::TestProgram<> {
    TestProgram() : widget_test::TestProgram<>({true, true, true}) {}
};

template <class Dialog>
bool WithModal(CMainFrame& f, unsigned command, const std::function<void(Dialog&)>& body) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!d) return;
        seen = true;
        body(*d);
        if (d->isVisible()) d->done(QDialog::Rejected);
    });
    f.OnCommand(command);
    return seen;
}

struct Checks {
    void operator()(bool ok, const char* what) {
        if (!ok) failures.push_back(QString::fromLatin1(what));
    }
    std::vector<QString> failures;
};

void Report(const Checks& check) {
    for (const QString& f : check.failures)
        qWarning("%s", qPrintable(f));
    QVERIFY(check.failures.empty());
}
} // namespace

class CalibrationDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void readCopyWriteAndTheReadBackThatFollows();
    void panelSelectionLabelsAndLimits();
    void displayCalibrationKeepsWhatItDidNotTouch();
    void matrixDialogKeepsItsEditsOnClose();
};

void CalibrationDialogsTest::readCopyWriteAndTheReadBackThatFollows() {
    TestProgram p;
    Checks check;
    const bool seen = WithModal<CCalibrationDialog>(*p.frame, ID_CALIBRATION, [&](CCalibrationDialog& d) {
        check(d.windowTitle() == QStringLiteral("Calibration"), "title");
        check(!d.CopyButton()->isEnabled() && !d.WriteButton()->isEnabled() && d.ReadButton()->isEnabled(),
              "a fresh project allows only Read");
        check(d.ReadEdit(CCalibrationDialog::SPAN_P2)->text() == QStringLiteral(" -- "), "nothing read yet");
        check(d.CloseButton()->text() == QStringLiteral("Close") &&
                  d.CloseButton()->toolTip() ==
                      QStringLiteral("Closes the dialog and keeps what was entered"),
              "Close says it keeps");
        d.ReadButton()->click();
        check(Until([&] { return p.Idle() && d.CopyButton()->isEnabled(); }), "read, and Copy allowed");
        check(d.Panel()->ReadEdit(9)->text() == QStringLiteral("10"), "the canned row 1..10");
        // The canned valve: OLR 0x10 and OHR 0x03 are 0x310.
        check(d.ReadEdit(CCalibrationDialog::SPAN_P2)->text() == QStringLiteral("784"), "span read");

        d.CopyButton()->click();
        check(d.Panel()->SetEdit(0)->text() == QStringLiteral("1"), "copied into the set values");
        check(d.SetEdit(CCalibrationDialog::SPAN_P2)->text() == QStringLiteral("784"), "span copied");
        d.ApplyEnabling();
        check(d.WriteButton()->isEnabled(), "Write after Copy");
        d.WriteButton()->click();
        check(Until([&] { return p.Idle() && Count(p.Trace(), " Read Matrix ") == 2; }),
              "the write is read back without asking");
        check(Until([&] { return d.CloseButton()->isEnabled(); }), "Close again");
        d.CloseButton()->click();
    });
    QVERIFY(seen);
    Report(check);
    QVERIFY(p.Trace().find(" Write Matrix ") != std::string::npos);
    QVERIFY(p.frame->ProjectModified());
    QCOMPARE(CopyCalibration(p.state).SetMatrix[7][9][9], 10);
}

void CalibrationDialogsTest::panelSelectionLabelsAndLimits() {
    TestProgram p;
    Checks check;
    const bool seen = WithModal<CCalibrationDialog>(*p.frame, ID_CALIBRATION, [&](CCalibrationDialog& d) {
        CCalibrationMatrixPanel& panel = *d.Panel();
        check(!panel.RowButton(0)->isEnabled(), "rows only for the sensor arrays");
        panel.ArrayButton(4)->click();
        check(panel.Label(0)->text() == QStringLiteral("Corr.Setp."), "named values");
        Toggle(panel.ArrayButton(6)); // an assistive tool's choice counts as a click
        check(Until([&] { return panel.RowButton(9)->isEnabled(); }), "rows enabled for array 6");
        Toggle(panel.RowButton(9));
        check(!panel.RowButton(0)->isChecked(), "one row checked");
        check(panel.Label(0)->text() == QStringLiteral(" 70 \u00B0C") &&
                  panel.Label(9)->text() == QStringLiteral(" 79 \u00B0C"),
              "70 to 79 degrees");
        panel.SetEdit(3)->setText(QStringLiteral("300"));
        panel.ArrayButton(2)->click();
        check(!panel.RowButton(9)->isChecked() && !panel.RowButton(9)->isEnabled(), "array 2 has no rows");
        panel.ArrayButton(6)->click();
        check(panel.RowButton(0)->isChecked(), "back to array 6 at row 0");
        check(panel.SetEdit(3)->accessibleName() == QStringLiteral("-17 \u00B0C (Write)"),
              "the field's name");
        d.CloseButton()->click();
    });
    QVERIFY(seen);
    Report(check);
    QCOMPARE(CopyCalibration(p.state).SetMatrix[6][9][3], 255);
}

// A span of up to 4095 set in the calibration dialog is not cut to the 255 this dialog allows.
void CalibrationDialogsTest::displayCalibrationKeepsWhatItDidNotTouch() {
    TestProgram p;
    {
        CalibrationData c{};
        c.SpanP2Set = 3000;
        c.SpanDpSet = 2000;
        c.DecimalPointRead = 1;
        c.DecimalPointReadValid.value = 1;
        StoreCalibration(p.state, c);
    }
    Checks check;
    const bool seen = WithModal<CDisplayCalibrationDialog>(
        *p.frame, ID_DISPLAY_CALIBRATION, [&](CDisplayCalibrationDialog& d) {
            check(d.DecimalPointBox()->text() == QStringLiteral("Right"), "the point read");
            check(d.PointButton(1)->Colour() == CColorButton::RED, "red where the valve is");
            Toggle(d.PointButton(2));
            PutText(d.SetEdit(CDisplayCalibrationDialog::SPAN_DP), QStringLiteral("20009"), false);
            QTest::keyClicks(d.SetEdit(CDisplayCalibrationDialog::DISPLAY_FACTOR), QStringLiteral("4096"));
            check(d.CloseButton()->text() == QStringLiteral("Close"), "Close");
            d.CloseButton()->click();
        });
    QVERIFY(seen);
    Report(check);
    const CalibrationData c = CopyCalibration(p.state);
    QCOMPARE(c.SpanP2Set, 3000);
    QCOMPARE(c.SpanDpSet, 255);
    QCOMPARE(c.DisplayFactor, 4095);
    QCOMPARE(c.DecimalPoint, 2);
    QVERIFY(p.frame->ProjectModified());
}

void CalibrationDialogsTest::matrixDialogKeepsItsEditsOnClose() {
    TestProgram p;
    Checks check;
    const bool seen = WithModal<CCalibrationMatrixDialog>(
        *p.frame, ID_CALIBRATION_MATRIX, [&](CCalibrationMatrixDialog& d) {
            check(d.windowTitle() == QStringLiteral("Calibration Matrix"), "title");
            d.Panel()->ArrayButton(4)->click();
            check(d.Panel()->Label(0)->text() == QStringLiteral(" 10 %"), "percent here");
            check(d.Panel()->ReadEdit(0)->text() == QStringLiteral(" -- "), "not read");
            d.Panel()->SetEdit(0)->setText(QStringLiteral("12a"));
            check(d.CloseButton()->text() == QStringLiteral("Close"), "Close");
            d.CloseButton()->click();
        });
    QVERIFY(seen);
    Report(check);
    QCOMPARE(CopyCalibration(p.state).SetMatrix[4][0][0], 12);
    QVERIFY(p.frame->ProjectModified());
}

QTEST_MAIN(CalibrationDialogsTest)
#include "CalibrationDialogsTest.moc"
