#include "app/SerialPortRules.h"

bool ApplySerialPortChoice(int selected, LinkState& link) {
    const int port = selected >= 0 && selected < 8 ? selected : link.PortIndex.load();
    const bool changed = port != link.PortIndex.load() || link.BaudIndex.load() != 0;
    link.PortIndex.store(port);
    link.BaudIndex.store(0);
    return changed;
}

bool CancelNeedsConfirmation(int selected, const LinkState& link) {
    return selected >= 0 && selected < 8 && selected != link.PortIndex.load();
}

bool PortButtonsEnabled(uint32_t threadCmd) {
    return threadCmd == 0;
}
