#pragma once
#include <optional>
#include <string>
#include <vector>

#include "system/DeviceAccess.h"
#include "system/SerialPorts.h"

struct LinkState;

// The serial ports a user can plug a valve into, as the Serial Port dialog and `qln-cli ports`
// show them.

struct UsbIdentity {
    std::string vendorId;  // "0403"
    std::string productId; // "6001"
    std::string manufacturer;
    std::string product;
    std::string serial;
};

struct PortEntry {
    std::string device;             // "/dev/ttyUSB0"
    std::string byId;               // "/dev/serial/by-id/usb-..." or "" when there is none
    std::string driver;             // "ftdi_sio"
    std::optional<UsbIdentity> usb; // USB adapters only
    bool accessible = false;        // the user may open it (owner, group and mode)
    // The adapter's latency timer: short replies wait this long (ms). Empty when its driver has none.
    std::optional<int> latencyTimerMs;
};

// The usable ports among the facts, sorted by device: ttys without a device or driver, and
// serial-core ports with no UART behind them (type 0), are left out unless `named` (the paths
// [DEVICES] gives) names their node or one of their links.
std::vector<PortEntry> SelectPorts(const std::vector<SerialPortFacts>& facts,
                                   const std::vector<std::string>& named, const UserIds& user);
// SelectPorts over the system's database for the current user; *error says why the list is empty
// when the database could not be read.
std::vector<PortEntry> ListPorts(const std::vector<std::string>& named, std::string* error);

// "FT232R USB UART — FTDI — A10K1234 — /dev/ttyUSB0": what is known of the adapter, then the node.
std::string PortDescription(const PortEntry& port);
// The path to store for a port: its by-id link, else its node.
std::string StablePath(const PortEntry& port);
// Whether `path` names this port (its node, its by-id link or any other link of the facts).
bool PortNamedBy(const SerialPortFacts& facts, const std::string& path);
// The one USB adapter's stable path when exactly one USB adapter is present.
std::optional<std::string> SoleUsbAdapter(const std::vector<PortEntry>& ports);
// Whether the adapter holds short replies back longer than the 1 ms its low-latency mode uses.
bool SlowLatencyTimer(const PortEntry& port);
// {"ports": [{"device": ..., "by_id": ... | null, "driver": ..., "usb": {...} | null,
//             "latency_timer_ms": n | null, "accessible": ...}]}
std::string PortsJson(const std::vector<PortEntry>& ports);

// Opens the link's hot-plug monitor, which the receiver then waits on beside the port, counting
// arrivals and removals in LinkState::PortEvents. Called before the link's threads start; false,
// with the reason, where the system announces nothing (the link works as before, unwatched).
bool StartPortMonitor(LinkState& s, std::string* error);
