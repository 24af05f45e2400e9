#include "link/PortList.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "link/Json.h"
#include "link/LinkState.h"

namespace {

constexpr const char* kByIdFolder = "/dev/serial/by-id/";
constexpr const char* kSeparator = " \u2014 ";

bool Named(const SerialPortFacts& f, const std::vector<std::string>& named) {
    return std::any_of(named.begin(), named.end(), [&](const std::string& p) { return PortNamedBy(f, p); });
}

// A tty that a valve can be plugged into: it sits on a device with a driver, and a serial-core
// port has a UART behind it (the kernel makes ttyS0..ttyS31 whether or not the hardware exists).
bool Usable(const SerialPortFacts& f) {
    return f.hasDevice && !f.driver.empty() && f.uartType != 0;
}

PortEntry EntryOf(const SerialPortFacts& f, const UserIds& user) {
    PortEntry e;
    e.device = f.node;
    for (const std::string& link : f.links)
        if (e.byId.empty() && link.rfind(kByIdFolder, 0) == 0) e.byId = link;
    e.driver = f.driver;
    if (f.usb) e.usb = UsbIdentity{f.vendorId, f.productId, f.manufacturer, f.product, f.serial};
    if (f.latencyTimerMs >= 0) e.latencyTimerMs = f.latencyTimerMs;
    e.accessible = DeviceOpenProblem(f.node, user) == 0;
    return e;
}

// "/dev/ttyUSB2" before "/dev/ttyUSB10": the number at the end counts as a number.
bool DeviceBefore(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])))
            --digits;
        std::string number = s.substr(digits);
        number.erase(0, std::min(number.find_first_not_of('0'), number.size()));
        return std::make_tuple(s.substr(0, digits), number.size(), number);
    };
    return split(a) < split(b);
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts)
        if (!p.empty()) out += (out.empty() ? "" : kSeparator) + p;
    return out;
}

std::string JsonOrNull(const std::string& s) {
    return s.empty() ? "null" : JsonQuote(s);
}

std::string UsbJson(const std::optional<UsbIdentity>& usb) {
    if (!usb) return "null";
    return "{\"vendor_id\": " + JsonQuote(usb->vendorId) + ", \"product_id\": " + JsonQuote(usb->productId) +
           ", \"manufacturer\": " + JsonQuote(usb->manufacturer) +
           ", \"product\": " + JsonQuote(usb->product) + ", \"serial\": " + JsonQuote(usb->serial) + "}";
}

} // namespace

std::vector<PortEntry> SelectPorts(const std::vector<SerialPortFacts>& facts,
                                   const std::vector<std::string>& named, const UserIds& user) {
    std::vector<PortEntry> ports;
    for (const SerialPortFacts& f : facts)
        if (!f.node.empty() && (Usable(f) || Named(f, named))) ports.push_back(EntryOf(f, user));
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b) { return DeviceBefore(a.device, b.device); });
    return ports;
}

std::vector<PortEntry> ListPorts(const std::vector<std::string>& named, std::string* error) {
    return SelectPorts(ListSerialPortFacts(error), named, CurrentUser());
}

std::string PortDescription(const PortEntry& port) {
    if (port.usb) return Joined({port.usb->product, port.usb->manufacturer, port.usb->serial, port.device});
    return Joined({port.driver, port.device});
}

std::string StablePath(const PortEntry& port) {
    return port.byId.empty() ? port.device : port.byId;
}

bool PortNamedBy(const SerialPortFacts& facts, const std::string& path) {
    if (path.empty()) return false;
    return path == facts.node || std::find(facts.links.begin(), facts.links.end(), path) != facts.links.end();
}

std::optional<std::string> SoleUsbAdapter(const std::vector<PortEntry>& ports) {
    const PortEntry* sole = nullptr;
    for (const PortEntry& p : ports) {
        if (!p.usb) continue;
        if (sole) return std::nullopt;
        sole = &p;
    }
    if (!sole) return std::nullopt;
    return StablePath(*sole);
}

bool SlowLatencyTimer(const PortEntry& port) {
    return port.latencyTimerMs && *port.latencyTimerMs > 1;
}

std::string PortsJson(const std::vector<PortEntry>& ports) {
    std::string out = "{\"ports\": [";
    for (size_t i = 0; i < ports.size(); ++i) {
        const PortEntry& p = ports[i];
        out += (i ? ", " : "");
        out += "{\"device\": " + JsonQuote(p.device) + ", \"by_id\": " + JsonOrNull(p.byId) +
               ", \"driver\": " + JsonQuote(p.driver) + ", \"usb\": " + UsbJson(p.usb) +
               ", \"latency_timer_ms\": " + (p.latencyTimerMs ? std::to_string(*p.latencyTimerMs) : "null") +
               ", \"accessible\": " + (p.accessible ? "true" : "false") + "}";
    }
    return out + "]}";
}

bool StartPortMonitor(LinkState& s, std::string* error) {
    return s.PortMonitor.Open(error);
}
