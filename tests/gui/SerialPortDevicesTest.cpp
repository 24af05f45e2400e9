// An adapter pulled out and put back under the window (qln-valve's link plays the adapter's by-id
// name), then qln-cli on the same link. The Serial Port dialog's list and the first start's
// mapping are tested against a fake device database in tests/udev.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <fstream>

#include "WidgetTestSupport.h"
#include "dialogs/ValveInfoDialog.h"
#include "support/CliRunner.h"

using widget_test::Until;

namespace {
// Valve Info read once from the window's menu: true when the read filled the firmware field.
bool ReadValveInfo(CMainFrame& f) {
    bool read = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<CValveInfoDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        d->Field(VI_FIRMWARE)->setText(QStringLiteral(" -- "));
        d->ReadButton()->click();
        read = Until([&] { return d->Field(VI_FIRMWARE)->text() != QStringLiteral(" -- "); });
        d->accept();
    });
    f.CommandAction(ID_VALVE_INFO)->trigger();
    return read;
}
} // namespace

class SerialPortDevicesTest : public QObject {
    Q_OBJECT
private slots:
    void replugUnderTheWindow();
};

void SerialPortDevicesTest::replugUnderTheWindow() {
    QTemporaryDir dir;
    const std::string link =
        dir.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0")).toStdString();
    std::ofstream(dir.filePath(QStringLiteral("QLN_com.ini")).toStdString())
        << "[SERIAL-PORT]\nPORT=COM1\n[DEVICES]\nCOM1=" << link << "\n";
    // A fifth of the wall clock: every reply comes within its time-out on a busy machine.
    ScaledClock clock(0.2);
    auto valve = std::make_unique<qln_test::ValveProcess>(std::vector<std::string>{"--link", link});
    QVERIFY2(!valve->SlavePath().empty(), "qln-valve did not start");
    {
        QlnState state(clock);
        widget_test::RecordingBoxes boxes;
        CMainFrame f(widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {true, false, false}));
        f.show();
        QVERIFY2(ReadValveInfo(f), "the first read");
        valve.reset(); // pulled out: the terminal and its link go
        QVERIFY(Until([&] { return f.ConnectionStatus().endsWith(QStringLiteral("\u2014 device gone")); }));
        valve = std::make_unique<qln_test::ValveProcess>(std::vector<std::string>{"--link", link});
        QVERIFY(Until([&] {
            return f.ConnectionStatus().endsWith(
                QStringLiteral("device present again, opened at the next request"));
        }));
        QVERIFY2(ReadValveInfo(f), "the read after the replug");
        QVERIFY(Until([&] { return f.ConnectionStatus().endsWith(QStringLiteral(" baud")); }));
        QVERIFY(boxes.shown.size() == 1); // the safety caution alone
    }                                     // the window lets go of the port
    // qln-cli keeps its settings in the current folder: the window's, not the one the tests share.
    const QString shared = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const qln_test::CliRun cli = qln_test::RunCliCaptured({"--device", link, "info"}, clock);
    QVERIFY(QDir::setCurrent(shared));
    QVERIFY2(cli.status == 0, cli.err.c_str());
}

QTEST_MAIN(SerialPortDevicesTest)
#include "SerialPortDevicesTest.moc"
