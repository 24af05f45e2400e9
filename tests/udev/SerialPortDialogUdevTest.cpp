// The window against the fake FTDI adapter: COM1 mapped to it at the first start; the Serial Port
// dialog lists it (not the ttyS0 with no UART), takes it for COM2 and follows its removal.
// First: glib's headers use the word "signals", which Qt's define as a keyword.
#include "udev/UdevBed.h"

#include <QAccessible>
#include <QApplication>
#include <QListWidget>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

#include "app/SerialPortDialog.h"
#include "gui/WidgetTestSupport.h"

namespace {

using udev_test::kById;
using udev_test::UdevBed;

TEST_F(UdevBed, TheWindowMapsTheAdapterAtTheFirstStartListsItAndStoresAChoice) {
    Plug();
    ScaledClock clock(20);
    QlnState state(clock);
    QTemporaryDir dir;
    widget_test::RecordingBoxes boxes;
    FrameSetup setup =
        widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {false, false, false});
    setup.listPorts = nullptr; // the system's list: the bed's
    CMainFrame frame(setup);
    const QString ini = dir.filePath(QStringLiteral("QLN_com.ini"));
    EXPECT_NE(widget_test::ReadAll(ini).find("[DEVICES]\r\nCOM1=" + std::string(kById) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(frame.findChild<QStatusBar*>(QStringLiteral("projectBar"))->currentMessage().toStdString(),
              "COM1 is now the USB serial adapter " + std::string(kById) + ".");

    const QString ftdi = QStringLiteral("FT232R USB UART \u2014 FTDI \u2014 A10K1234 \u2014 /dev/ttyUSB0");
    QStringList com1, com2;
    bool gone = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<CSerialPortDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        auto entries = [d] {
            QStringList texts;
            for (int i = 0; i < d->DeviceList()->count(); ++i)
                texts << d->DeviceList()->item(i)->text() +
                             (d->DeviceList()->item(i)->isSelected() ? "*" : "");
            return texts;
        };
        com1 = entries();
        widget_test::Toggle(d->PortButton(1));
        com2 = entries();
        // What an assistive tool does to choose an entry: the toggle action of its cell.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(d->DeviceList());
        list->tableInterface()->cellAt(1, 0)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        // Pulled out while the dialog is open: the list follows the hot-plug monitor.
        Unplug();
        gone = widget_test::Until(
            [&] { return entries() == QStringList{QString(kById) + " \u2014 not present*"}; });
        d->accept();
    });
    frame.OnCommand(ID_SERIAL_PORT);
    EXPECT_EQ(com1, QStringList{ftdi + "*"});
    EXPECT_TRUE(gone);
    EXPECT_EQ(com2, (QStringList{QStringLiteral("/dev/ttyS1 \u2014 not present*"), ftdi}));
    EXPECT_NE(widget_test::ReadAll(ini).find("COM2=" + std::string(kById) + "\r\n"), std::string::npos)
        << widget_test::ReadAll(ini);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
