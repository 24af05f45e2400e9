#include "PortsCommand.h"

#include <ostream>

#include "CliRun.h"
#include "link/PortList.h"
#include "settings/ComSettings.h"

namespace {

constexpr const char* kSlowTimerNote =
    " (above 1 ms: each reply waits that long; opening the port switches the adapter to low latency)";

// The paths the user named: [DEVICES] entries and --device. A port they name is listed even when
// the device database says no UART is behind it.
std::vector<std::string> NamedPaths(const Options& o, std::ostream& err) {
    std::string comError;
    const ComSettings com = ReadComSettings("", &comError);
    if (!comError.empty()) err << "qln-cli: warning: " << kComSettingsFile << ": " << comError << "\n";
    std::vector<std::string> named;
    for (size_t i = 0; i < com.DevicePath.size(); ++i)
        if (com.Named[i]) named.push_back(com.DevicePath[i]);
    if (o.device) named.push_back(*o.device);
    return named;
}

void PrintPort(const PortEntry& p, std::ostream& out) {
    struct Line {
        const char* label;
        std::string value;
    };
    std::vector<Line> lines = {{"by-id", p.byId.empty() ? "(none)" : p.byId},
                               {"driver", p.driver.empty() ? "(none)" : p.driver}};
    if (p.usb) {
        lines.push_back({"USB id", p.usb->vendorId + ":" + p.usb->productId});
        lines.push_back({"manufacturer", p.usb->manufacturer});
        lines.push_back({"product", p.usb->product});
        lines.push_back({"serial", p.usb->serial});
    }
    if (p.latencyTimerMs) {
        const std::string note = SlowLatencyTimer(p) ? kSlowTimerNote : "";
        lines.push_back({"latency timer", std::to_string(*p.latencyTimerMs) + " ms" + note});
    }
    lines.push_back({"access", p.accessible ? "may be opened" : "not allowed for this user"});
    out << p.device << "\n";
    for (const Line& l : lines)
        out << "  " << l.label << ": " << l.value << "\n";
}

} // namespace

int RunPorts(CommandContext& c) {
    std::string error;
    const std::vector<PortEntry> ports = ListPorts(NamedPaths(c.o, c.err), &error);
    if (c.o.json) {
        c.out << PortsJson(ports) << "\n";
    } else if (ports.empty()) {
        c.out << "no serial ports found" << (error.empty() ? "" : " (" + error + ")") << "\n";
    } else {
        for (const PortEntry& p : ports)
            PrintPort(p, c.out);
    }
    if (c.o.json && !error.empty()) c.err << "qln-cli: " << error << "\n";
    return 0;
}
