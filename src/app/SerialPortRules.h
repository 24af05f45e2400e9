#pragma once
#include <string>
#include <vector>

#include <optional>

#include "link/LinkState.h"
#include "link/PortList.h"
#include "settings/ComSettings.h"
#include "system/DeviceAccess.h"
#include "text/Texts.h"

// The Serial Port dialog's rules. `selected` is the checked port 0..7, or -1 when none is checked.

// OK: the port becomes the selected one (unchanged when none is checked) and the line speed must
// be found again. Returns the dialog's changed flag: a different port, or a line speed that was known.
bool ApplySerialPortChoice(int selected, LinkState& link);
// Cancel asks first only when the selection differs from the port in use.
bool CancelNeedsConfirmation(int selected, const LinkState& link);
// The port buttons may be used only while the engine is idle.
bool PortButtonsEnabled(uint32_t threadCmd);

// What OK says when the chosen port's device cannot be used: that the choice is stored, why the
// device cannot be opened and what to do about it. "" when nothing is wrong.
std::string PortWarning(const TextSource& texts, int port, const std::string& device, const UserIds& user);

// One entry of the dialog's list of devices for the selected COM port.
struct DeviceChoice {
    std::string text; // what the list shows
    std::string path; // what OK stores in [DEVICES]
};
struct DeviceChoices {
    std::vector<DeviceChoice> entries;
    int selected = -1; // the entry of the stored device
};
// Every present port (its description; its stable path) and, first, the stored path itself when no
// present port answers to it (its node or by-id link): with the note that it is not present unless
// something is at that path (a link the device database does not know, a pseudo-terminal).
DeviceChoices ListDeviceChoices(const TextSource& texts, const std::vector<PortEntry>& ports,
                                const std::string& stored, bool storedExists);
// OK with another device for `port`: it stands for the port from now on, and the line speed must
// be found again. Only while the engine is idle, as the engine opens the port from DevicePath.
// Returns whether the device changed.
bool ApplyDeviceChoice(int port, const std::string& path, uint32_t threadCmd, LinkState& link);
// The paths [DEVICES] gives, which the port list keeps even where they look unused.
std::vector<std::string> NamedDevices(const ComSettings& settings);
// At a first start ([DEVICES] names nothing) with exactly one USB serial adapter present: the path
// the selected port is mapped to.
std::optional<std::string> FirstStartDevice(const ComSettings& settings, const std::vector<PortEntry>& ports);
