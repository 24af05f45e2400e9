// The port list, the hot-plug monitor and `qln-cli ports` against umockdev's fake device database:
// an FTDI adapter with its by-id link and a ttyS0 with no UART behind it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Cli.h"
#include "link/ComThread.h"
#include "link/LinkState.h"
#include "link/PortList.h"
#include "udev/UdevBed.h"

namespace {

using udev_test::kById;
using udev_test::UdevBed;

constexpr const char* kAdapterJson =
    R"({"ports": [{"device": "/dev/ttyUSB0", "by_id": "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0", )"
    R"("driver": "ftdi_sio", "usb": {"vendor_id": "0403", "product_id": "6001", "manufacturer": "FTDI", )"
    R"("product": "FT232R USB UART", "serial": "A10K1234"}, "accessible": true}]})";

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// qln-cli in-process (the valve runner of the tests' support needs the built valve program).
CliRun RunCliCaptured(const std::vector<std::string>& args, IClock& clock) {
    std::ostringstream out, err;
    const int status = RunCli(args, clock, out, err, nullptr);
    return {status, out.str(), err.str()};
}

TEST_F(UdevBed, ListsTheAdapterWithItsByIdNameAndLeavesOutThePortWithoutUart) {
    Plug();
    std::string error;
    const std::vector<PortEntry> ports = ListPorts({}, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(PortsJson(ports), kAdapterJson);
    EXPECT_EQ(SoleUsbAdapter(ports), std::optional<std::string>(kById));
    EXPECT_EQ(PortDescription(ports.at(0)),
              "FT232R USB UART \u2014 FTDI \u2014 A10K1234 \u2014 /dev/ttyUSB0");

    // The raw facts still know ttyS0, and naming it keeps it.
    const std::vector<SerialPortFacts> facts = ListSerialPortFacts(&error);
    ASSERT_EQ(facts.size(), 2u);
    const std::vector<PortEntry> named = ListPorts({"/dev/ttyS0"}, &error);
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[0].device, "/dev/ttyS0");
    EXPECT_EQ(named[0].driver, "serial8250");
}

// The monitor's handle becomes readable only when a device comes or goes: a wait on it blocks
// without a time-out and ends on the event.
TEST_F(UdevBed, MonitorReportsArrivalAndRemovalThroughABlockingWait) {
    SerialPortMonitor monitor;
    std::string error;
    ASSERT_TRUE(monitor.Open(&error)) << error;
    RealClock clock;
    Waker waker;
    EXPECT_FALSE(WaitForSerial(clock, waker, NO_SERIAL_DEVICE, false, 0, monitor.Handle()).ended)
        << "nothing announced yet";

    SerialWait seen;
    std::thread waiter([&] {
        seen = WaitForSerial(clock, waker, NO_SERIAL_DEVICE, false, IClock::FOREVER, monitor.Handle());
    });
    // Adding a device announces it, as the kernel does.
    const std::string tty = Plug();
    waiter.join();
    EXPECT_TRUE(seen.ended && seen.watched && !seen.woken);
    std::vector<SerialPortEvent> events = monitor.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, SerialPortChange::Added);
    EXPECT_EQ(events[0].facts.node, "/dev/ttyUSB0");
    EXPECT_TRUE(monitor.Take().empty()) << "each event is taken once";

    umockdev_testbed_uevent(bed_, tty.c_str(), "remove");
    seen = WaitForSerial(clock, waker, NO_SERIAL_DEVICE, false, IClock::FOREVER, monitor.Handle());
    EXPECT_TRUE(seen.watched);
    events = monitor.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, SerialPortChange::Removed);
    EXPECT_EQ(events[0].facts.node, "/dev/ttyUSB0");
}

// The receiver, with no port open, blocks on the monitor and counts what it announces.
TEST_F(UdevBed, ReceiverCountsPortEvents) {
    RealClock clock;
    LinkState link(clock);
    std::string error;
    ASSERT_TRUE(StartPortMonitor(link, &error)) << error;
    const std::string tty = Plug();
    ReceiverPass(link);
    EXPECT_EQ(link.PortEvents.load(), 1u);
    umockdev_testbed_uevent(bed_, tty.c_str(), "remove");
    ReceiverPass(link);
    EXPECT_EQ(link.PortEvents.load(), 2u);
}

// qln-cli ports in a folder of its own, whose QLN_com.ini may name a port.
TEST_F(UdevBed, CliPortsPrintsTheList) {
    const std::filesystem::path home = std::filesystem::current_path();
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "qln-udev-ports";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    RealClock clock;

    CliRun run = RunCliCaptured({"ports", "--json"}, clock);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "{\"ports\": []}\n") << "ttyS0 has no UART";

    Plug();
    run = RunCliCaptured({"ports", "--json"}, clock);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(kAdapterJson) + "\n");
    EXPECT_EQ(run.err, "");

    std::ofstream("QLN_com.ini") << "[SERIAL-PORT]\nPORT=COM1\n[DEVICES]\nCOM2=/dev/ttyS0\n";
    run = RunCliCaptured({"ports"}, clock);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("/dev/ttyS0\n  by-id: (none)\n  driver: serial8250\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("/dev/ttyUSB0\n  by-id: " + std::string(kById) + "\n  driver: ftdi_sio\n"),
              std::string::npos)
        << run.out;

    std::filesystem::current_path(home);
    std::filesystem::remove_all(folder);
}

} // namespace
