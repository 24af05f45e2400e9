// Which serial devices make the port list, how they are described and printed as JSON.
#include <gtest/gtest.h>

#include "link/PortList.h"

namespace {

constexpr const char* kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

SerialPortFacts Ftdi() {
    SerialPortFacts f;
    f.node = "/dev/ttyUSB0";
    f.links = {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", kById};
    f.driver = "ftdi_sio";
    f.hasDevice = true;
    f.usb = true;
    f.vendorId = "0403";
    f.productId = "6001";
    f.manufacturer = "FTDI";
    f.product = "FT232R USB UART";
    f.serial = "A10K1234";
    return f;
}

SerialPortFacts Serial(const std::string& node, int type, std::vector<std::string> links = {}) {
    SerialPortFacts f;
    f.node = node;
    f.links = std::move(links);
    f.driver = "serial8250";
    f.hasDevice = true;
    f.uartType = type;
    return f;
}

TEST(PortList, SelectsThePortsAValveCanBeOn) {
    SerialPortFacts acm;
    acm.node = "/dev/ttyACM0";
    acm.driver = "cdc_acm";
    acm.hasDevice = true;
    acm.usb = true;
    SerialPortFacts console;
    console.node = "/dev/tty1";
    struct Row {
        const char* what;
        SerialPortFacts facts;
        bool kept;
        std::string byId;
    };
    const Row rows[] = {
        {"no UART behind it", Serial("/dev/ttyS0", 0), false, ""},
        {"a UART (16550A)", Serial("/dev/ttyS1", 4), true, ""},
        {"no UART, named by node", Serial("/dev/ttyS2", 0), true, ""},
        {"no UART, named by link", Serial("/dev/ttyS3", 0, {"/dev/serial/by-path/pnp-0"}), true, ""},
        {"virtual terminal", console, false, ""},
        {"USB adapter with by-id", Ftdi(), true, kById},
        {"USB adapter without by-id", acm, true, ""},
    };
    const std::vector<std::string> named = {"/dev/ttyS2", "/dev/serial/by-path/pnp-0"};
    for (const Row& r : rows) {
        const std::vector<PortEntry> ports = SelectPorts({r.facts}, named, UserIds{1000, {1000}});
        ASSERT_EQ(ports.size(), r.kept ? 1u : 0u) << r.what;
        if (r.kept) {
            EXPECT_EQ(ports[0].byId, r.byId) << r.what;
        }
    }

    std::vector<SerialPortFacts> all;
    for (const Row& r : rows)
        all.push_back(r.facts);
    all.push_back(Serial("/dev/ttyS10", 4));
    std::vector<std::string> order;
    for (const PortEntry& p : SelectPorts(all, named, UserIds{1000, {1000}}))
        order.push_back(p.device);
    EXPECT_EQ(order, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3",
                                               "/dev/ttyS10", "/dev/ttyUSB0"}));
}

TEST(PortList, AccessibleByOwnerGroupAndMode) {
    SerialPortFacts open = Serial("/dev/null", 4); // crw-rw-rw-
    SerialPortFacts missing = Serial("/dev/qln-no-such-tty", 4);
    const std::vector<PortEntry> ports = SelectPorts({open, missing}, {}, UserIds{1000, {1000}});
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_TRUE(ports[0].accessible);
    EXPECT_FALSE(ports[1].accessible);
}

TEST(PortList, Descriptions) {
    const PortEntry ftdi = SelectPorts({Ftdi()}, {}, {}).at(0);
    EXPECT_EQ(PortDescription(ftdi), "FT232R USB UART — FTDI — A10K1234 — /dev/ttyUSB0");
    PortEntry noSerial = ftdi;
    noSerial.usb->serial = "";
    EXPECT_EQ(PortDescription(noSerial), "FT232R USB UART — FTDI — /dev/ttyUSB0");
    EXPECT_EQ(PortDescription(PortEntry{"/dev/ttyS1", "", "serial8250", std::nullopt, true}),
              "serial8250 — /dev/ttyS1");
    EXPECT_EQ(PortDescription(PortEntry{"/dev/ttyS5", "", "", std::nullopt, true}), "/dev/ttyS5");
}

TEST(PortList, SoleUsbAdapter) {
    SerialPortFacts second = Ftdi();
    second.node = "/dev/ttyUSB1";
    second.links = {};
    const PortEntry uart = SelectPorts({Serial("/dev/ttyS1", 4)}, {}, {}).at(0);
    const PortEntry withById = SelectPorts({Ftdi()}, {}, {}).at(0);
    const PortEntry withoutById = SelectPorts({second}, {}, {}).at(0);
    EXPECT_EQ(SoleUsbAdapter({uart}), std::nullopt);
    EXPECT_EQ(SoleUsbAdapter({uart, withById}), std::optional<std::string>(kById));
    EXPECT_EQ(SoleUsbAdapter({withoutById}), std::optional<std::string>("/dev/ttyUSB1"));
    EXPECT_EQ(SoleUsbAdapter({withById, withoutById}), std::nullopt);
}

TEST(PortList, Json) {
    EXPECT_EQ(PortsJson({}), R"({"ports": []})");
    PortEntry ftdi = SelectPorts({Ftdi()}, {}, {}).at(0);
    ftdi.accessible = true;
    EXPECT_EQ(
        PortsJson({ftdi}),
        R"({"ports": [{"device": "/dev/ttyUSB0", "by_id": "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0", )"
        R"("driver": "ftdi_sio", "usb": {"vendor_id": "0403", "product_id": "6001", "manufacturer": "FTDI", )"
        R"("product": "FT232R USB UART", "serial": "A10K1234"}, "accessible": true}]})");
    const PortEntry uart{"/dev/ttyS1", "", "serial8250", std::nullopt, false};
    const PortEntry odd{"/dev/tty\"x\\", "", "d\n\t\r\b\f\x01\x1f\x7f", UsbIdentity{"", "", "", "é", ""},
                        false};
    EXPECT_EQ(PortsJson({uart, odd}),
              R"({"ports": [{"device": "/dev/ttyS1", "by_id": null, "driver": "serial8250", "usb": null, )"
              R"("accessible": false}, {"device": "/dev/tty\"x\\", "by_id": null, )"
              R"("driver": "d\n\t\r\b\f\u0001\u001f\u007f", "usb": {"vendor_id": "", "product_id": "", )"
              R"("manufacturer": "", "product": "é", "serial": ""}, "accessible": false}]})");
}

} // namespace
