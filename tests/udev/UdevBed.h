#pragma once
// The fake device database the udev tests share: a PC's first serial-core port with no UART
// behind it and, once plugged, an FTDI adapter on USB with its by-id link.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <string>

namespace udev_test {

constexpr const char* kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

// As the kernel and udev's rules describe them; each device is followed by its parents.
// ttyS0 sits on the serial core's port and controller devices, as on newer kernels.
constexpr const char* kSerial8250 = R"(P: /devices/platform/serial8250/serial8250:0/serial8250:0.0/tty/ttyS0
N: ttyS0
E: DEVNAME=/dev/ttyS0
E: SUBSYSTEM=tty
A: type=0

P: /devices/platform/serial8250/serial8250:0/serial8250:0.0
E: SUBSYSTEM=serial-base
E: DRIVER=port
L: driver=../../../../../bus/serial-base/drivers/port

P: /devices/platform/serial8250/serial8250:0
E: SUBSYSTEM=serial-base
E: DRIVER=ctrl
L: driver=../../../../bus/serial-base/drivers/ctrl

P: /devices/platform/serial8250
E: SUBSYSTEM=platform
E: DRIVER=serial8250
L: driver=../../bus/platform/drivers/serial8250
)";

constexpr const char* kFtdiTty = "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0";
inline const std::string kFtdiAdapter = std::string("P: ") + kFtdiTty + R"(
N: ttyUSB0
E: DEVNAME=/dev/ttyUSB0
E: SUBSYSTEM=tty
E: DEVLINKS=/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0
E: ID_BUS=usb

P: /devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0
E: SUBSYSTEM=usb-serial
E: DRIVER=ftdi_sio
L: driver=../../../../../../bus/usb-serial/drivers/ftdi_sio

P: /devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
E: DRIVER=ftdi_sio

P: /devices/pci0000:00/0000:00:14.0/usb1/1-1
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
E: DRIVER=usb
A: idVendor=0403
A: idProduct=6001
A: manufacturer=FTDI
A: product=FT232R USB UART
A: serial=A10K1234
)";

// The bed with a PC's first serial-core port (no UART: type 0) and, once Plug() is called, an
// FTDI adapter on USB as the kernel and udev's rules describe it.
class UdevBed : public ::testing::Test {
protected:
    void SetUp() override {
        bed_ = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run through umockdev-wrapper (ctest does)";
        Add(kSerial8250);
    }
    void TearDown() override {
        if (bed_) g_object_unref(bed_);
    }

    void Add(const std::string& devices) {
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(bed_, devices.c_str(), &error))
            << (error ? error->message : "");
    }
    // Plugs the adapter in (which announces it) and returns its tty's sysfs path.
    std::string Plug() {
        Add(kFtdiAdapter);
        return std::string("/sys") + kFtdiTty;
    }

    UMockdevTestbed* bed_ = nullptr;
};

} // namespace udev_test
