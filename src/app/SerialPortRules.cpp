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
