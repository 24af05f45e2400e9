// Widget tests of the two diagnosis dialogs on the offscreen platform: alone over a shared state
// of their own, and opened from the real window with the engine serving the built-in valve.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
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
#include "dialogs/MessageBox.h"
#include "dialogs/StatusInfoDialog.h"
#include "dialogs/ValveInfoDialog.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

using widget_test::Until;
using SilentBoxes = widget_test::RecordingBoxes;

namespace {
size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The window in test mode with the trace log, in a folder of its own.
struct TestProgram : widget_test::TestProgram<SilentBoxes> {
    TestProgram() : widget_test::TestProgram<SilentBoxes>({true, false, true}) {}
};

// Runs `body` inside the modal loop of the dialog that `command` opens, then closes it.
template <class Dialog>
bool WithModal(CMainFrame& f, unsigned command, const std::function<void(Dialog&)>& body) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!d) return;
        seen = true;
        body(*d);
        d->accept();
    });
    f.CommandAction(command)->trigger();
    return seen;
}
} // namespace

class DiagnosisTest : public QObject {
    Q_OBJECT
private slots:
    void valveInfoButtonFollowsTheEngine();
    void valveInfoReadFillsEveryField();
    void statusPollsBlinksAndStopsAfterAnError();
    void statusPollWaitsWhileTheEngineIsBusy();
    void screenshots();
};

void DiagnosisTest::valveInfoButtonFollowsTheEngine() {
    ManualClock clock;
    QlnState s(clock);
    CValveInfoDialog d(nullptr, s, *s.texts);
    QCOMPARE(d.windowTitle(), QStringLiteral("Valve Info"));
    for (unsigned f = 0; f < VI_FIELD_COUNT; ++f)
        QCOMPARE(d.Field(static_cast<ValveInfoField>(f))->text(), QStringLiteral(" -- "));
    QVERIFY(d.ReadButton()->isEnabled());
    QCOMPARE(d.Timer()->interval(), 5000);
    QVERIFY(d.Timer()->isActive());

    // Busy: the tick disables, a click changes nothing; idle again: a notification enables.
    s.THREAD_CMD = CMD_STEP_MODE;
    d.OnTimerTick();
    QVERIFY(!d.ReadButton()->isEnabled());
    d.OnReadClicked();
    QCOMPARE(s.THREAD_CMD.load(), uint32_t{CMD_STEP_MODE});
    s.THREAD_CMD = 0;
    d.OnMsgReceive(64, 0);
    QVERIFY(d.ReadButton()->isEnabled());
    d.ReadButton()->click();
    QCOMPARE(s.THREAD_CMD.load(), uint32_t{CMD_READ_DEVICE_INFO});
    QVERIFY(!d.ReadButton()->isEnabled());

    // A failed read leaves the flag cleared: the fields stay " -- ".
    s.THREAD_CMD = 0;
    d.OnMsgReceive(NOTIFY_REPLY_TIMEOUT, 0);
    QCOMPARE(d.Field(VI_FIRMWARE)->text(), QStringLiteral(" -- "));
    QVERIFY(d.ReadButton()->isEnabled());
}

void DiagnosisTest::valveInfoReadFillsEveryField() {
    TestProgram p;
    QString firmware, partNumber, minutes;
    bool read = false;
    const bool seen = WithModal<CValveInfoDialog>(*p.frame, ID_VALVE_INFO, [&](CValveInfoDialog& d) {
        d.ReadButton()->click();
        read = Until([&] { return d.Field(VI_FIRMWARE)->text() != QStringLiteral(" -- "); });
        firmware = d.Field(VI_FIRMWARE)->text();
        partNumber = d.Field(VI_PART_NUMBER)->text();
        minutes = d.Field(VI_OPERATION_MINUTES)->text();
    });
    QVERIFY(seen);
    QVERIFY2(read, "the valve information never reached the dialog");
    DeviceInfo copy;
    QVERIFY(SnapshotDeviceInfo(p.state.THREAD_CMD.load(), p.state.deviceInfo, copy));
    const auto expected = ValveInfoTexts(copy, true, "");
    QCOMPARE(firmware.toStdString(), expected[VI_FIRMWARE]);
    QCOMPARE(partNumber.toStdString(), expected[VI_PART_NUMBER]);
    QCOMPARE(minutes.toStdString(), expected[VI_OPERATION_MINUTES]);
    QVERIFY(partNumber.startsWith(QStringLiteral("471-52")));
}

void DiagnosisTest::statusPollsBlinksAndStopsAfterAnError() {
    TestProgram p;
    CMainFrame& f = *p.frame;
    QAction* status = f.CommandAction(ID_STATUS);
    QVERIFY(status && status->isEnabled());
    QCOMPARE(status->shortcut(), QKeySequence(Qt::Key_F2));
    QVERIFY(f.CommandAction(ID_VALVE_INFO)->isEnabled());

    const std::string readStatus = " Read Status Update, LED ";
    std::vector<QString> failures;
    auto check = [&](bool ok, const char* what) {
        if (!ok) failures.push_back(QString::fromLatin1(what));
    };
    const bool seen = WithModal<CStatusInfoDialog>(f, ID_STATUS, [&](CStatusInfoDialog& d) {
        check(d.windowTitle() == QStringLiteral("Status Info"), "title");
        check(d.PollTimer()->interval() == 2000 && d.PollTimer()->isActive(), "poll timer");
        check(d.BlinkTimer()->interval() == 1000 && d.BlinkTimer()->isActive(), "blink timer");
        // The ticks are driven here, not by the clock on the wall.
        d.PollTimer()->stop();
        d.BlinkTimer()->stop();
        check(d.Led(0) == LedPicture::NoData && !d.Radio(4, 0)->isChecked() && !d.Radio(4, 1)->isChecked(),
              "no data before the first read");

        d.OnPollTick();
        // The engine starts at once, so the request shows in the trace rather than in THREAD_CMD.
        check(Until([&] { return Count(p.Trace(), readStatus) == 1; }), "poll requests a status read");
        check(Until([&] { return d.Radio(4, 1)->isChecked(); }), "status read reaches the dialog");
        // The built-in valve: no flag set, all three LEDs blinking.
        check(d.Radio(0, 0)->isChecked() && d.Radio(3, 1)->isChecked() && d.Radio(5, 0)->isChecked(),
              "radios");
        check(d.Led(0) == LedPicture::LitRed && d.Led(1) == LedPicture::LitGreen &&
                  d.Led(2) == LedPicture::LitYellow,
              "lit in the first phase");
        d.OnBlinkTick();
        check(d.Led(0) == LedPicture::Off && d.Led(2) == LedPicture::Off, "off in the second phase");
        d.OnBlinkTick();
        check(d.Led(1) == LedPicture::LitGreen, "lit again");

        // The next idle poll reads again (a busy engine is tested on the dialog alone, where no
        // engine thread can clear the request word under the test's feet).
        check(Until([&] { return p.state.THREAD_CMD.load() == 0; }), "first read ends");
        d.OnPollTick();
        check(Until([&] { return p.state.THREAD_CMD.load() == 0; }), "second read ends");
        check(Count(p.Trace(), readStatus) == 2, "one read per idle poll");

        // A communication error, routed by the window: polling stops for good.
        f.OnMsgReceive(NOTIFY_REPLY_TIMEOUT, 0);
        check(Until([&] { return d.CommunicationError(); }), "the error reaches the dialog");
        d.OnPollTick();
        check(p.state.THREAD_CMD.load() == 0, "no poll after an error");

        // Not visible: neither polls nor blinks.
        d.hide();
        const bool phase = d.BlinkPhase();
        d.OnBlinkTick();
        check(d.BlinkPhase() == phase, "hidden dialog does not blink");
    });
    QVERIFY(seen);
    for (const QString& what : failures)
        QFAIL(qPrintable(what));
    QCOMPARE(p.boxes.shown.size(), size_t{2}); // the start-up caution and the communication error
    const size_t reads = Count(p.Trace(), readStatus);
    QCOMPARE(reads, size_t{2});
    QTest::qWait(300);
    QCOMPARE(Count(p.Trace(), readStatus), reads);
}

void DiagnosisTest::statusPollWaitsWhileTheEngineIsBusy() {
    ManualClock clock;
    QlnState s(clock);
    CStatusInfoDialog d(nullptr, s, *s.texts);
    d.show();
    d.PollTimer()->stop();
    d.BlinkTimer()->stop();
    s.THREAD_CMD = CMD_READ_PARAMETER;
    d.OnPollTick();
    QCOMPARE(s.THREAD_CMD.load(), uint32_t{CMD_READ_PARAMETER});
    s.THREAD_CMD = 0;
    d.OnPollTick();
    QCOMPARE(s.THREAD_CMD.load(), uint32_t{CMD_READ_STATUS});
}

void DiagnosisTest::screenshots() {
    ManualClock clock;
    QlnState s(clock);
    DeviceInfo& i = s.deviceInfo;
    i.ControllerFirmware = 3;
    const int digits[6] = {3, 0, 1, 2, 3, 4};
    for (int n = 0; n < 6; ++n)
        i.PartNumberDigit[n] = digits[n];
    i.PartNumberVariant = 0x1A05;
    i.SerialNumber = 123456;
    i.ProductionYear = 0x19;
    i.ProductionWeek = 0x07;
    i.OperationCounter = 100000;
    i.CalibrationYear = 0x24;
    i.CalibrationMonth = 0x11;
    i.CalibrationDay = 0x05;
    i.CalibrationStatus = 1;
    i.CalibrationCounter = 4;
    i.CalibrationTemperature = 22;
    i.ValveTemperature = 31;
    PublishValid(i.Valid, 1);
    CValveInfoDialog info(nullptr, s, *s.texts);
    info.show();
    QVERIFY(info.grab().save(QCoreApplication::applicationDirPath() + "/valve_info.png"));

    CStatusInfoDialog status(nullptr, s, *s.texts);
    status.show();
    StatusInfo& st = s.statusInfo;
    st = {2, 1, 1, 1, 1, 2, 1, 2, 1, 3, 2, 0};
    PublishValid(st.Valid, 1);
    status.OnMsgReceive(NOTIFY_STATUS, 0);
    QCOMPARE(status.Led(2), LedPicture::Question);
    // Display only: a click changes nothing.
    QTest::mouseClick(status.Radio(0, 0), Qt::LeftButton);
    QVERIFY(!status.Radio(0, 0)->isChecked() && status.Radio(0, 1)->isChecked());
    QVERIFY(status.grab().save(QCoreApplication::applicationDirPath() + "/status_info.png"));
    PublishValid(st.Valid, 0);
    status.OnMsgReceive(NOTIFY_STATUS, 0);
    QVERIFY(status.grab().save(QCoreApplication::applicationDirPath() + "/status_info_no_data.png"));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DiagnosisTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "DiagnosisDialogsTest.moc"
