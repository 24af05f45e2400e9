// The window against umockdev's fake FTDI adapter: mapped at the first start, and listed in the
// Serial Port dialog (the ttyS0 with no UART behind it left out).
// First: glib's headers use the word "signals", which Qt's define as a keyword.
#include "udev/UdevBed.h"

#include <QApplication>
#include <QListWidget>
#include <QStatusBar>
#include <QTimer>

#include "app/SerialPortDialog.h"
#include "gui/WidgetTestSupport.h"

namespace {

using udev_test::kById;
using udev_test::UdevBed;

TEST_F(UdevBed, TheWindowMapsTheAdapterAtTheFirstStartAndListsIt) {
    Plug();
    ScaledClock clock(20);
    QlnState state(clock);
    QTemporaryDir dir;
    widget_test::RecordingBoxes boxes;
    FrameSetup setup =
        widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {false, false, false});
    setup.listPorts = nullptr; // the system's list: the bed's
    CMainFrame frame(setup);
    const std::string ini = widget_test::ReadAll(dir.filePath(QStringLiteral("QLN_com.ini")));
    EXPECT_NE(
        ini.find("[DEVICES]\r\nCOM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0\r\n"),
        std::string::npos)
        << ini;
    EXPECT_EQ(state.link.DevicePath[0], kById);
    EXPECT_EQ(frame.findChild<QStatusBar*>(QStringLiteral("projectBar"))->currentMessage().toStdString(),
              "COM1 is now the USB serial adapter " + std::string(kById) + ".");

    QStringList entries;
    int selected = -1;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<CSerialPortDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        for (int i = 0; i < d->DeviceList()->count(); ++i)
            entries << d->DeviceList()->item(i)->text();
        selected = d->DeviceList()->currentRow();
        d->reject();
    });
    frame.OnCommand(ID_SERIAL_PORT);
    EXPECT_EQ(entries,
              QStringList{QStringLiteral("FT232R USB UART \u2014 FTDI \u2014 A10K1234 \u2014 /dev/ttyUSB0")});
    EXPECT_EQ(selected, 0);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
