// Widget tests of Serial Setpoint, Test Function and Auto-Tune on the offscreen platform, opened
// from the real window with the engine serving the built-in valve: what the buttons send (read
// from the trace), what the dialogs show, and when they may close.
#include <QAccessible>
#include <QAction>
#include <QApplication>
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
#include "dialogs/ColorButton.h"
#include "dialogs/ParameterPages.h"
#include "dialogs/SerialSetpointDialog.h"
#include "dialogs/TestFunctionDialog.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

using widget_test::Toggle;
using widget_test::Until;

namespace {
bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Answers OK/Cancel questions with `answer`, Yes/No ones with `yes`, every other box with its
// default, and keeps the texts.
class AnsweringBoxes : public widget_test::RecordingBoxes {
public:
    MbResult Show(const std::string& text, const std::string& caption, MbIcon icon, MbButtons buttons,
                  MbResult defaultButton) override {
        captions.push_back(caption);
        RecordingBoxes::Show(text, caption, icon, buttons, defaultButton);
        if (buttons == MbButtons::YesNo) return yes;
        return buttons == MbButtons::OkCancel ? answer : defaultButton;
    }
    MbResult answer = MbResult::Ok;
    MbResult yes = MbResult::No;
    std::vector<std::string> captions;
};

// The window in test mode with the trace log, in a folder of its own.
struct TestProgram : widget_test::TestProgram<AnsweringBoxes> {
    TestProgram() : widget_test::TestProgram<AnsweringBoxes>({true, false, true}) {}
};

// What an assistive tool does to a push button: its press action.
void Press(QAbstractButton* button) {
    QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
}

// Runs `body` inside the modal loop of the dialog that `command` opens; the body closes it (the
// dialog is hidden by force afterwards if it did not, so the test never hangs).
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
    f.CommandAction(command)->trigger();
    return seen;
}

// Failures inside a modal loop are collected and reported after it.
struct Checks {
    void operator()(bool ok, const char* what) {
        if (!ok) failures.push_back(QString::fromLatin1(what));
    }
    std::vector<QString> failures;
};
} // namespace

class DriveDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void serialSetpointTransmitsStaysOpenWhileActiveAndSwitchesOff();
    void afterACommunicationErrorTheValveMayStillFollowUntilAnAcknowledgedOff();
    void serialSetpointUnchangedLeavesTheProjectAlone();
    void testFunctionWritesReadsAndMarksWhatTheValveRuns();
    void autoTuneAsksTwiceAndStartsOnlyOnOk();
    void aJobTheHistoryRefusedLetsTheDialogClose();
};

void DriveDialogsTest::serialSetpointTransmitsStaysOpenWhileActiveAndSwitchesOff() {
    TestProgram p;
    Checks check;
    const bool seen =
        WithModal<CSerialSetpointDialog>(*p.frame, ID_SERIAL_SETPOINT, [&](CSerialSetpointDialog& d) {
            check(d.windowTitle() == QStringLiteral("Serial Setpoint"), "title");
            check(d.OffRadio()->isChecked() && !d.OnRadio()->isChecked(), "opens with OFF");
            check(!d.OffButton()->isEnabled() && d.TransmitButton()->isEnabled() &&
                      d.CloseButton()->isEnabled(),
                  "only Transmit and Close at first");
            check(d.Edit()->accessibleName() == QStringLiteral("Serial Setpoint /%"), "the field's name");

            d.Edit()->setText(QStringLiteral("37.8"));
            d.TransmitButton()->click();
            check(d.Edit()->text() == QStringLiteral("37.5"), "cut to half percents");
            check(d.OnRadio()->isChecked(), "ON shows at once");
            check(!d.CloseButton()->isEnabled(), "no Close while active");
            check(Until([&] { return p.Idle() && d.OffButton()->isEnabled(); }), "the engine reports back");
            check(Has(p.Trace(), " Send STS Set Transmit Setpoint ") && Has(p.Trace(), "'02254B70'"),
                  "STS 75 sent");

            // Neither Escape nor the close box leaves the valve on the PC's setpoint unattended.
            QTest::keyClick(&d, Qt::Key_Escape);
            d.close();
            QCoreApplication::processEvents();
            check(d.isVisible(), "stays open while active");

            d.Spin()->stepBy(1);
            check(d.Edit()->text() == QStringLiteral("38.0"), "one spin step is 0.5 %");
            d.OffButton()->click();
            check(
                Until([&] { return p.Idle() && d.OffRadio()->isChecked() && d.CloseButton()->isEnabled(); }),
                "OFF once the valve acknowledged it, and closable");
            check(Has(p.Trace(), " Send RTS Reset Transmit Setpoint ") && Has(p.Trace(), "'02260026'"),
                  "RTS sent");
            QTest::keyClick(&d, Qt::Key_Escape);
            check(!d.isVisible(), "Escape closes once off");
        });
    QVERIFY(seen);
    for (const QString& what : check.failures)
        QFAIL(qPrintable(what));
    QCOMPARE(p.state.SerialSetpointMayRun.load(), 0);
    QVERIFY2(p.frame->ProjectModified(), "a changed setpoint belongs to the project");
    QVERIFY(p.frame->windowTitle().endsWith(QStringLiteral(" *]")));
}

void DriveDialogsTest::afterACommunicationErrorTheValveMayStillFollowUntilAnAcknowledgedOff() {
    TestProgram p;
    Checks check;
    auto mayFollow = [](CSerialSetpointDialog& d) {
        return d.OnRadio()->isChecked() && d.OffButton()->isEnabled() && d.CloseButton()->isEnabled();
    };
    const bool seen =
        WithModal<CSerialSetpointDialog>(*p.frame, ID_SERIAL_SETPOINT, [&](CSerialSetpointDialog& d) {
            d.TransmitButton()->click();
            check(Until([&] { return p.Idle() && d.OffButton()->isEnabled(); }), "transmitted");
            // The line fails later (routed by the window as the engine would post it).
            p.boxes.shown.clear();
            p.frame->OnMsgReceive(NOTIFY_REPLY_TIMEOUT, 0);
            check(Until([&] { return d.CloseButton()->isEnabled(); }), "Close is usable again");
            check(mayFollow(d), "still shown active, Off usable");
            check(p.boxes.shown.size() == 1 && Has(p.boxes.shown[0], "Communication Error") &&
                      Has(p.boxes.shown[0], "may still follow the serial setpoint"),
                  "the box says the valve may still follow");
            // Closing asks once; No keeps the dialog, Yes closes it.
            d.CloseButton()->click();
            check(d.isVisible() && p.boxes.shown.size() == 2 &&
                      Has(p.boxes.shown[1], "Close the dialog all the same?"),
                  "asked, and kept open");
            p.boxes.yes = MbResult::Yes;
            QTest::keyClick(&d, Qt::Key_Escape);
            check(!d.isVisible(), "closed on Yes");
        });
    QVERIFY(seen);
    // Opened again, it shows what the valve may still do, until Off is acknowledged.
    const bool again =
        WithModal<CSerialSetpointDialog>(*p.frame, ID_SERIAL_SETPOINT, [&](CSerialSetpointDialog& d) {
            check(mayFollow(d), "opens active with Off usable");
            d.OffButton()->click();
            check(Until([&] { return p.Idle() && d.OffRadio()->isChecked(); }),
                  "off once RTS is acknowledged");
            d.CloseButton()->click();
        });
    QVERIFY(again);
    for (const QString& what : check.failures)
        QFAIL(qPrintable(what));
    QCOMPARE(p.boxes.shown.size(), size_t{3}); // the error, and one question per try to close
    QCOMPARE(p.state.SerialSetpointMayRun.load(), 0);
}

void DriveDialogsTest::serialSetpointUnchangedLeavesTheProjectAlone() {
    TestProgram p;
    const bool seen = WithModal<CSerialSetpointDialog>(
        *p.frame, ID_SERIAL_SETPOINT, [&](CSerialSetpointDialog& d) { d.CloseButton()->click(); });
    QVERIFY(seen);
    QVERIFY(!p.frame->ProjectModified());
    QVERIFY(p.frame->windowTitle().endsWith(QStringLiteral(" ]")));
}

void DriveDialogsTest::testFunctionWritesReadsAndMarksWhatTheValveRuns() {
    TestProgram p;
    Checks check;
    const bool seen = WithModal<CTestFunctionDialog>(*p.frame, ID_TEST_FUNCTION, [&](CTestFunctionDialog& d) {
        check(d.windowTitle() == QStringLiteral("Test Function"), "title");
        check(d.TimeEdit()->text() == QStringLiteral("1.0"), "a time of 0 opens as 1.0");
        check(d.ReadBackBox()->text() == QStringLiteral(" -- "), "nothing read yet");
        check(d.Radio(0)->isChecked(), "off selected");
        check(d.Timer()->interval() == 5000 && d.Timer()->isActive(), "timer");
        d.Spin()->SetPosition(200);
        d.Spin()->stepBy(1);
        check(d.TimeEdit()->text() == QStringLiteral("20.0"), "a step up from 20.0 stays at 20.0");

        Toggle(d.Radio(2)); // step, chosen by an assistive tool
        check(p.state.testFunction.Selection == 2, "a toggle selects, nothing is sent");
        d.TimeEdit()->setText(QStringLiteral("2.5"));
        d.WriteButton()->click();
        check(Until([&] { return p.Idle() && d.ReadButton()->isEnabled(); }), "written");
        check(Has(p.Trace(), " Write Test Function ") && Has(p.Trace(), "'0256196F'"), "RSS 25 sent");
        // The valve's controller byte (0x40: bits 0..5 all 0) is read first and kept: CCS 0x80.
        const std::string written = p.Trace().substr(p.Trace().find(" Write Test Function "));
        check(Has(written, "'026480E4'") && written.find("'02650065'") < written.find("'026480E4'"),
              "CCR, then CCS with the valve's controller bits");

        // The built-in valve runs a ramp (CCR 0x40) while step is selected: Ramp is marked red.
        d.ReadButton()->click();
        check(Until([&] { return d.ReadBackBox()->text() == QStringLiteral("Ramp"); }), "read back");
        check(d.Radio(1)->Colour() == CColorButton::RED, "what the valve runs is red");
        check(d.Radio(2)->Colour() == CColorButton::GREY && d.Radio(2)->isChecked(), "the selection stays");
        d.Radio(1)->click();
        check(d.Radio(1)->Colour() == CColorButton::RED, "no recolouring before the next refresh");
        QTest::keyClick(&d, Qt::Key_Escape);
        check(!d.isVisible(), "Escape cancels");
    });
    QVERIFY(seen);
    for (const QString& what : check.failures)
        QFAIL(qPrintable(what));
    QCOMPARE(p.state.testFunction.Selection, 1); // kept by Cancel
    QCOMPARE(p.state.testFunction.TestTime, 2.5f);
    QVERIFY2(!p.frame->ProjectModified(), "the project holds no test function");
}

void DriveDialogsTest::autoTuneAsksTwiceAndStartsOnlyOnOk() {
    TestProgram p;
    QVERIFY(Until([&] { return p.boxes.shown.size() == 1; })); // the start-up caution
    p.boxes.answer = MbResult::Cancel;
    p.frame->CommandAction(ID_AUTOTUNE)->trigger();
    QCOMPARE(p.boxes.shown.size(), size_t{3});
    QVERIFY(Has(p.boxes.shown[1], "This funktion can create dangerous setting"));
    QVERIFY(Has(p.boxes.shown[2], "Are you sure to start Auto-Tune ?"));
    QCOMPARE(p.boxes.captions[2], std::string("Auto-Tune"));
    QCOMPARE(p.state.THREAD_CMD.load(), 0u);

    p.boxes.answer = MbResult::Ok;
    p.frame->CommandAction(ID_AUTOTUNE)->trigger();
    QVERIFY(Until([&] { return Has(p.Trace(), "'02910192'") && p.Idle(); }));
    QVERIFY(Has(p.Trace(), " Write Autotune Function "));
    // Its end (130) shows nothing.
    QTest::qWait(50);
    QCOMPARE(p.boxes.shown.size(), size_t{5});
}

// A station that requires recording and a history that cannot take entries (here: off): Transmit is
// refused before anything is sent, and the dialog is free again as after a communication error.
void DriveDialogsTest::aJobTheHistoryRefusedLetsTheDialogClose() {
    widget_test::TestProgram<AnsweringBoxes> p({true, false, false}, nullptr, "/dev/null", "off",
                                               "REQUIRED=1\n");
    QVERIFY(Until([&] { return p.state.HistoryRefused.load() == 1; }));
    Checks check;
    p.boxes.shown.clear(); // the caution at start-up
    const bool seen =
        WithModal<CSerialSetpointDialog>(*p.frame, ID_SERIAL_SETPOINT, [&](CSerialSetpointDialog& d) {
            widget_test::PutText(d.Edit(), QStringLiteral("40"));
            Press(d.TransmitButton());
            check(Until([&] { return !p.boxes.shown.empty() && d.CloseButton()->isEnabled(); }),
                  "the refusal is said and Close is usable again");
            check(d.OffRadio()->isChecked() && d.TransmitButton()->isEnabled(), "shown off, Transmit usable");
            Press(d.CloseButton());
            check(Until([&] { return !d.isVisible(); }), "Close closes");
        });
    QVERIFY(seen);
    for (const QString& what : check.failures)
        QFAIL(qPrintable(what));
    QCOMPARE(p.boxes.shown.size(), size_t{1});
    QVERIFY2(Has(p.boxes.shown[0], "The valve history cannot take this job's entry: the history is off"),
             p.boxes.shown[0].c_str());
    QVERIFY(Has(p.Trace(), "refused: the valve history cannot be used"));
    QVERIFY(!Has(p.Trace(), "THREAD_CMD: "));
}

QTEST_MAIN(DriveDialogsTest)
#include "DriveDialogsTest.moc"
