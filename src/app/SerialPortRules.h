#pragma once
#include <string>
#include <vector>

#include "link/LinkState.h"
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
