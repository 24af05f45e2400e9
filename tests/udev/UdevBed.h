#pragma once
// The fake device database of the udev tests: a PC's first serial-core port with no UART behind it
// (type 0, on the serial core's port and controller devices of newer kernels) and, once plugged, an
// FTDI adapter on USB with its by-id link and the driver's default latency timer (16 ms); each
// device is followed by its parents.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <filesystem>
#include <string>

namespace udev_test {

constexpr const char* kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";
constexpr const char* kSerial8250 = R"(P: /devices/platform/serial8250/serial8250:0/serial8250:0.0/tty/ttyS0
N: ttyS0
E: DEVNAME=/dev/ttyS0
E: SUBSYSTEM=tty
A: type=0

P: /devices/platform/serial8250/serial8250:0/serial8250:0.0
E: SUBSYSTEM=serial-base
L: driver=../../../../../bus/serial-base/drivers/port

P: /devices/platform/serial8250/serial8250:0
E: SUBSYSTEM=serial-base
L: driver=../../../../bus/serial-base/drivers/ctrl

P: /devices/platform/serial8250
E: SUBSYSTEM=platform
L: driver=../../bus/platform/drivers/serial8250
)";
constexpr const char* kFtdi = R"(P: /devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0
N: ttyUSB0
E: DEVNAME=/dev/ttyUSB0
E: SUBSYSTEM=tty
E: DEVLINKS=/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0
S: serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0

P: /devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0
E: SUBSYSTEM=usb-serial
L: driver=../../../../../bus/usb-serial/drivers/ftdi_sio
A: latency_timer=16

P: /devices/pci0000:00/usb1/1-1
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=0403
A: idProduct=6001
A: manufacturer=FTDI
A: product=FT232R USB UART
A: serial=A10K1234
)";

class UdevBed : public ::testing::Test {
protected:
    void SetUp() override {
        bed_ = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run through umockdev-wrapper (ctest does)";
        Add(kSerial8250);
    }
    void TearDown() override { g_object_unref(bed_); }
    void Add(const char* devices) {
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(bed_, devices, &error)) << (error ? error->message : "");
    }
    // Plugs the adapter in or pulls it out, announcing each.
    void Plug() { Add(kFtdi); }
    void Unplug() {
        const char* tty = "/sys/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0";
        umockdev_testbed_uevent(bed_, tty, "remove");
        umockdev_testbed_remove_device(bed_, tty);
        // umockdev leaves the link an S: line made; udev takes it away with the device.
        gchar* root = umockdev_testbed_get_root_dir(bed_); // the caller's to free
        std::filesystem::remove(root + std::string(kById));
        g_free(root);
    }

    UMockdevTestbed* bed_ = nullptr;
};

} // namespace udev_test
