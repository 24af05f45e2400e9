// The Serial Port dialog's list of the devices present, and an adapter pulled out and put back
// under the window (qln-valve's link plays the adapter's by-id name). The first start's mapping is
// tested against a fake device database in tests/udev.
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <fstream>

#include "WidgetTestSupport.h"
#include "app/SerialPortDialog.h"
#include "dialogs/ValveInfoDialog.h"
#include "support/CliRunner.h"

using widget_test::RecordingBoxes;
using widget_test::Until;

namespace {
const char* const kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

PortEntry Ftdi() {
    return {"/dev/ttyUSB0", kById, "ftdi_sio",
            UsbIdentity{"0403", "6001", "FTDI", "FT232R USB UART", "A10K1234"}, true};
}
PortEntry Acm() {
    return {"/dev/ttyACM0", "", "cdc_acm", UsbIdentity{"2e8a", "000a", "Quillon", "Service Port", "E66"},
            true};
}

QStringList Entries(const CSerialPortDialog& d) {
    QStringList texts;
    for (int i = 0; i < d.DeviceList()->count(); ++i)
        texts << d.DeviceList()->item(i)->text();
    return texts;
}
int SelectedRow(const CSerialPortDialog& d) {
    const QList<QListWidgetItem*> items = d.DeviceList()->selectedItems();
    return items.size() == 1 ? d.DeviceList()->row(items.front()) : -1;
}
// What an assistive tool does to choose an entry: the toggle action of its cell.
void Choose(QListWidget* list, int row) {
    QAccessibleInterface* cell =
        QAccessible::queryAccessibleInterface(list)->tableInterface()->cellAt(row, 0);
    cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

// The window in a folder of its own, its port list given by the test.
struct Window {
    Window(Switches switches, std::vector<PortEntry> ports, const std::string& ini, IClock& clock)
        : state(clock) {
        if (!ini.empty()) std::ofstream(File("QLN_com.ini").toStdString()) << ini;
        FrameSetup setup = widget_test::WindowSetup(state, dir.path().toStdString(), boxes, switches);
        setup.listPorts = [ports](const std::vector<std::string>&) { return ports; };
        frame = std::make_unique<CMainFrame>(setup);
        frame->show();
    }
    QString File(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
    QlnState state;
    RecordingBoxes boxes;
    std::unique_ptr<CMainFrame> frame;
};

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
    void listShowsChoosesAndFollowsTheAdapters();
    void choiceIsStoredForItsPort();
    void replugUnderTheWindow();
};

void SerialPortDevicesTest::listShowsChoosesAndFollowsTheAdapters() {
    ManualClock clock;
    QlnState s(clock);
    RecordingBoxes boxes;
    std::array<std::string, kComPortCount> devices = ComSettings{}.DevicePath;
    devices[0] = "/dev/ttyUSB0";
    devices[1] = "/dev/serial/by-id/usb-gone-if00-port0";
    std::vector<PortEntry> present{Ftdi()};
    CSerialPortDialog d(nullptr, s, devices, *s.texts, boxes, [&] { return present; });
    d.show();
    QCOMPARE(d.DeviceLabel()->text(), QStringLiteral("&Device:"));
    QCOMPARE(d.DeviceList()->accessibleName(), QStringLiteral("Device:"));
    // COM1 stands for the adapter by its node.
    const QString ftdi = QStringLiteral("FT232R USB UART \u2014 FTDI \u2014 A10K1234 \u2014 /dev/ttyUSB0");
    QCOMPARE(Entries(d), QStringList{ftdi});
    QCOMPARE(SelectedRow(d), 0);
    // COM2's adapter is not plugged in: what is stored comes first, with a note.
    widget_test::Toggle(d.PortButton(1));
    QCOMPARE(Entries(d),
             (QStringList{QStringLiteral("/dev/serial/by-id/usb-gone-if00-port0 \u2014 not present"), ftdi}));
    QCOMPARE(SelectedRow(d), 0);

    // Another adapter arrives: listed once the link has counted the event.
    present.push_back(Acm());
    s.link.PortEvents.fetch_add(1);
    QVERIFY(Until([&] { return d.DeviceList()->count() == 3; }));
    QCOMPARE(SelectedRow(d), 0);
    Choose(d.DeviceList(), 2);
    QCOMPARE(d.ChosenDevices()[1], std::string("/dev/ttyACM0"));
    Choose(d.DeviceList(), 1);
    QCOMPARE(d.ChosenDevices()[1], std::string(kById));
    QVERIFY(d.PortButton(1)->text().contains(QString::fromLatin1(kById)));
    // Busy engine: no choice now.
    s.THREAD_CMD = CMD_READ_STATUS;
    d.RefreshEnabling();
    QVERIFY(!d.DeviceList()->isEnabled());
    s.THREAD_CMD = 0;

    // Cancel asks about a changed device too (the port is the one in use).
    widget_test::Toggle(d.PortButton(0));
    boxes.shown.clear();
    d.reject();
    QCOMPARE(boxes.shown, std::vector<std::string>{"Data's are changed. Do you really want to cancel?"});
    QCOMPARE(s.link.DevicePath[1], std::string("/dev/ttyS1"));
}

void SerialPortDevicesTest::choiceIsStoredForItsPort() {
    ScaledClock clock(20);
    Window w({false, false, true}, {Ftdi()}, "; bench\n[SERIAL-PORT]\nPORT=COM1\n", clock);
    w.state.link.BaudIndex = 2;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<CSerialPortDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        seen = true;
        Choose(d->DeviceList(), 1); // below the stored /dev/ttyS0, which this machine may lack
        d->accept();
    });
    w.frame->OnCommand(ID_SERIAL_PORT);
    QVERIFY(seen);
    QCOMPARE(widget_test::ReadAll(w.File("QLN_com.ini")),
             "; bench\r\n[SERIAL-PORT]\r\nPORT=COM1\r\n\r\n[DEVICES]\r\nCOM1=" + std::string(kById) + "\r\n");
    QCOMPARE(w.state.link.DevicePath[0], std::string(kById));
    QCOMPARE(w.frame->PortSettings().DevicePath[0], std::string(kById));
    QCOMPARE(w.state.link.BaudIndex.load(), 0);
}

void SerialPortDevicesTest::replugUnderTheWindow() {
    QTemporaryDir links;
    const std::string link =
        links.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0")).toStdString();
    // A fifth of the wall clock: every reply comes within its time-out on a busy machine.
    ScaledClock clock(0.2);
    auto valve = std::make_unique<qln_test::ValveProcess>(std::vector<std::string>{"--link", link});
    QVERIFY2(!valve->SlavePath().empty(), "qln-valve did not start");
    {
        Window w({true, false, false}, {}, "[SERIAL-PORT]\nPORT=COM1\n[DEVICES]\nCOM1=" + link + "\n", clock);
        CMainFrame& f = *w.frame;
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
        QVERIFY(w.boxes.shown.size() == 1); // the safety caution alone
    }                                       // the window lets go of the port
    const qln_test::CliRun cli = qln_test::RunCliCaptured({"--device", link, "info"}, clock);
    QVERIFY2(cli.status == 0, cli.err.c_str());
}

QTEST_MAIN(SerialPortDevicesTest)
#include "SerialPortDevicesTest.moc"
