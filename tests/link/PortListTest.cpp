// Which serial devices make the port list, in which order, how they are described, which path is
// stored for them, and the JSON's nulls and escapes. The list and the JSON of a full USB adapter
// are tested against a fake device database in tests/udev.
#include <gtest/gtest.h>

#include "link/PortList.h"

namespace {

constexpr const char* kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

// A tty with its driver (none: no device either) and serial-core type (-1: no such attribute).
SerialPortFacts Tty(const char* node, const char* driver, int type = -1,
                    std::vector<std::string> links = {}) {
    SerialPortFacts f;
    f.node = node;
    f.links = std::move(links);
    f.driver = driver;
    f.hasDevice = *driver != 0;
    f.uartType = type;
    return f;
}
SerialPortFacts Usb(SerialPortFacts f, const char* manufacturer, const char* product, const char* serial) {
    f.usb = true;
    f.manufacturer = manufacturer;
    f.product = product;
    f.serial = serial;
    return f;
}

TEST(PortList, SelectsOrdersDescribesAndStoresThePortsAValveCanBeOn) {
    const struct Row {
        SerialPortFacts facts;
        const char* description; // nullptr: left out
        const char* stored;
    } rows[] = {
        {Tty("/dev/ttyS0", "serial8250", 0), nullptr, ""},
        {Tty("/dev/ttyS1", "serial8250", 4), "serial8250 \u2014 /dev/ttyS1", "/dev/ttyS1"},
        {Tty("/dev/ttyS2", "serial8250", 0), "serial8250 \u2014 /dev/ttyS2", "/dev/ttyS2"}, // named by node
        {Tty("/dev/ttyS3", "serial8250", 0, {"/dev/serial/by-path/pnp-0"}), "serial8250 \u2014 /dev/ttyS3",
         "/dev/ttyS3"},
        {Tty("/dev/ttyS10", "serial8250", 4), "serial8250 \u2014 /dev/ttyS10", "/dev/ttyS10"},
        {Tty("/dev/tty1", ""), nullptr, ""},                 // a virtual terminal
        {Tty("/dev/ttyS5", ""), "/dev/ttyS5", "/dev/ttyS5"}, // no device, but named
        {Usb(Tty("/dev/ttyUSB0", "ftdi_sio", -1, {"/dev/serial/by-path/pci-0-usb-0:1:1.0-port0", kById}),
             "FTDI", "FT232R USB UART", "A10K1234"),
         "FT232R USB UART \u2014 FTDI \u2014 A10K1234 \u2014 /dev/ttyUSB0", kById},
        {Usb(Tty("/dev/ttyACM0", "cdc_acm"), "Quillon", "Service Port", ""),
         "Service Port \u2014 Quillon \u2014 /dev/ttyACM0", "/dev/ttyACM0"},
    };
    const std::vector<std::string> named = {"/dev/ttyS2", "/dev/serial/by-path/pnp-0", "/dev/ttyS5"};
    std::vector<SerialPortFacts> all;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.facts.node);
        const std::vector<PortEntry> ports = SelectPorts({r.facts}, named, UserIds{1000, {1000}});
        ASSERT_EQ(ports.size(), r.description ? 1u : 0u);
        if (r.description) {
            EXPECT_EQ(PortDescription(ports[0]), r.description);
            EXPECT_EQ(StablePath(ports[0]), r.stored);
        }
        all.push_back(r.facts);
    }
    std::vector<std::string> order;
    const std::vector<PortEntry> ports = SelectPorts(all, named, {});
    for (const PortEntry& p : ports)
        order.push_back(p.device);
    EXPECT_EQ(order, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3",
                                               "/dev/ttyS5", "/dev/ttyS10", "/dev/ttyUSB0"}));
    // Two USB adapters: none is the sole one; the one without a by-id link is taken by its node.
    EXPECT_EQ(SoleUsbAdapter(ports), std::nullopt);
    EXPECT_EQ(SoleUsbAdapter({ports[0], ports[1]}), std::optional<std::string>("/dev/ttyACM0"));
}

TEST(PortList, AccessibleByOwnerGroupAndModeAndJsonWithNullsAndEscapes) {
    const std::vector<PortEntry> ports =
        SelectPorts({Tty("/dev/null", "serial8250", 4), Tty("/dev/qln-no-such-tty", "serial8250", 4)}, {},
                    UserIds{1000, {1000}});
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_TRUE(ports[0].accessible); // crw-rw-rw-
    EXPECT_FALSE(ports[1].accessible);

    EXPECT_EQ(PortsJson({}), R"({"ports": []})");
    const PortEntry odd{"/dev/tty\"x\\", "", "d\n\t\r\b\f\x01\x1f\x7f", UsbIdentity{"", "", "", "é", ""},
                        false,           1};
    EXPECT_EQ(
        PortsJson({ports[1], odd}),
        R"({"ports": [{"device": "/dev/qln-no-such-tty", "by_id": null, "driver": "serial8250", "usb": null, )"
        R"("latency_timer_ms": null, "accessible": false}, {"device": "/dev/tty\"x\\", "by_id": null, )"
        R"("driver": "d\n\t\r\b\f\u0001\u001f\u007f", "usb": {"vendor_id": "", "product_id": "", )"
        R"("manufacturer": "", "product": "é", "serial": ""}, "latency_timer_ms": 1, )"
        R"("accessible": false}]})");
}

} // namespace
