#include "app/SerialPortRules.h"

#include "link/SerialPort.h"

bool ApplySerialPortChoice(int selected, LinkState& link) {
    const int port = selected >= 0 && selected < 8 ? selected : link.PortIndex.load();
    const bool changed = port != link.PortIndex.load() || link.BaudIndex.load() != 0;
    link.PortIndex.store(port);
    link.BaudIndex.store(0);
    // Why the port could not be opened last time belongs to the port as it was.
    link.LastOpenErrno.store(0);
    return changed;
}

bool CancelNeedsConfirmation(int selected, const LinkState& link) {
    return selected >= 0 && selected < 8 && selected != link.PortIndex.load();
}

bool PortButtonsEnabled(uint32_t threadCmd) {
    return threadCmd == 0;
}

std::string PortWarning(const TextSource& texts, int port, const std::string& device, const UserIds& user) {
    const int problem = DeviceOpenProblem(device, user);
    if (problem == 0) return "";
    return FillPlaceholders(texts.GetSilently(IDS_PORT_STORED_UNUSABLE), {"COM" + std::to_string(port + 1)}) +
           "\n\n" + PortOpenAdvice(problem, device);
}

DeviceChoices ListDeviceChoices(const TextSource& texts, const std::vector<PortEntry>& ports,
                                const std::string& stored, bool storedExists) {
    DeviceChoices c;
    for (const PortEntry& p : ports) {
        if (c.selected < 0 && (stored == p.device || (!p.byId.empty() && stored == p.byId)))
            c.selected = static_cast<int>(c.entries.size());
        c.entries.push_back({PortDescription(p), StablePath(p)});
    }
    if (c.selected < 0 && !stored.empty()) {
        const std::string text =
            storedExists ? stored : FillPlaceholders(texts.GetSilently(IDS_PORT_DEVICE_ABSENT), {stored});
        c.entries.insert(c.entries.begin(), {text, stored});
        c.selected = 0;
    }
    return c;
}

bool ApplyDeviceChoice(int port, const std::string& path, uint32_t threadCmd, LinkState& link) {
    if (port < 0 || port >= kComPortCount || path.empty() || !PortButtonsEnabled(threadCmd)) return false;
    std::string& device = link.DevicePath[static_cast<size_t>(port)];
    if (device == path) return false;
    device = path;
    link.BaudIndex.store(0);
    link.LastOpenErrno.store(0);
    return true;
}

std::vector<std::string> NamedDevices(const ComSettings& settings) {
    std::vector<std::string> named;
    for (size_t i = 0; i < settings.DevicePath.size(); ++i)
        if (settings.Named[i]) named.push_back(settings.DevicePath[i]);
    return named;
}

std::optional<std::string> FirstStartDevice(const ComSettings& settings,
                                            const std::vector<PortEntry>& ports) {
    for (bool named : settings.Named)
        if (named) return std::nullopt;
    return SoleUsbAdapter(ports);
}
