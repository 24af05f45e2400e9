// The port list through `qln-cli ports` and the hot-plug monitor through the receiver, against the
// fake device database.
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

using udev_test::UdevBed;

// qln-cli in-process, in a folder of its own whose QLN_com.ini may name a port.
TEST_F(UdevBed, CliPortsListsTheAdapterAndANamedPortWithoutUart) {
    namespace fs = std::filesystem;
    const fs::path home = fs::current_path(), folder = fs::temp_directory_path() / "qln-udev-ports";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::current_path(folder);
    RealClock clock;
    auto ports = [&](const std::vector<std::string>& args) {
        std::ostringstream out, err;
        EXPECT_EQ(RunCli(args, clock, out, err, nullptr), 0) << err.str();
        return out.str();
    };
    EXPECT_EQ(ports({"ports", "--json"}), "{\"ports\": []}\n") << "ttyS0 has no UART";
    Plug();
    EXPECT_EQ(
        ports({"ports", "--json"}),
        R"({"ports": [{"device": "/dev/ttyUSB0", "by_id": "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0", )"
        R"("driver": "ftdi_sio", "usb": {"vendor_id": "0403", "product_id": "6001", "manufacturer": "FTDI", )"
        R"("product": "FT232R USB UART", "serial": "A10K1234"}, "latency_timer_ms": 16, "accessible": true}]})"
        "\n");
    std::ofstream("QLN_com.ini") << "[SERIAL-PORT]\nPORT=COM1\n[DEVICES]\nCOM2=/dev/ttyS0\n";
    const std::string out = ports({"ports"});
    EXPECT_NE(out.find("/dev/ttyS0\n  by-id: (none)\n  driver: serial8250\n"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("/dev/ttyUSB0\n  by-id: ") + udev_test::kById + "\n  driver: ftdi_sio\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n  latency timer: 16 ms (above 1 ms: each reply waits that long; "),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("latency timer"), out.rfind("latency timer")) << "ttyS0 has no such timer: " << out;
    fs::current_path(home);
    fs::remove_all(folder);
}

// The receiver, with no port open, blocks on the monitor without a time-out until a device comes
// or goes, and counts each event once.
TEST_F(UdevBed, ReceiverWaitsOnTheMonitorAndCountsArrivalAndRemoval) {
    RealClock clock;
    LinkState link(clock);
    std::string error;
    ASSERT_TRUE(StartPortMonitor(link, &error)) << error;
    std::thread receiver([&] { ReceiverPass(link); });
    Plug();
    receiver.join();
    EXPECT_EQ(link.PortEvents.load(), 1u);
    Unplug();
    ReceiverPass(link);
    EXPECT_EQ(link.PortEvents.load(), 2u);
}

} // namespace
