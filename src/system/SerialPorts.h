#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the system's device database knows of each serial (tty) device, and its hot-plug events.
// The facts are raw; which of them make a usable port is the link's judgement.
// The driver is that of the device behind the tty, looking through the serial core's own port
// devices that newer kernels put in between.
struct SerialPortFacts {
    std::string node;               // "/dev/ttyUSB0"
    std::vector<std::string> links; // the links udev made for it ("/dev/serial/by-id/...", by-path, ...)
    std::string driver;             // the driver behind the tty ("ftdi_sio", "serial8250"); "" when none
    bool hasDevice = false;         // the tty sits on a device (virtual terminals and consoles do not)
    int uartType = -1;              // a serial-core port's sysfs "type" (0: no UART); -1 when absent
    bool usb = false;               // the device hangs on a USB interface
    std::string vendorId, productId, manufacturer, product, serial; // USB only; "" when unknown
    // The USB serial driver's latency timer in ms (its sysfs latency_timer); -1 when it has none.
    int latencyTimerMs = -1;
};

// Every tty device the database knows. Empty, with the reason in *error, when it cannot be read
// (or the platform has no such database).
std::vector<SerialPortFacts> ListSerialPortFacts(std::string* error);

enum class SerialPortChange { Added, Removed };
struct SerialPortEvent {
    SerialPortChange change = SerialPortChange::Added;
    SerialPortFacts facts; // for a removal, what the event still tells (node and links)
};

// Arrivals and removals of tty devices as the system announces them. The owner waits on Handle()
// in its own poll loop and takes the events when it is readable; nothing polls.
class SerialPortMonitor {
public:
    SerialPortMonitor();
    ~SerialPortMonitor();
    SerialPortMonitor(const SerialPortMonitor&) = delete;
    SerialPortMonitor& operator=(const SerialPortMonitor&) = delete;

    // False, with the reason, where the system announces nothing (then Handle() stays -1).
    bool Open(std::string* error);
    bool IsOpen() const;
    // What the platform's wait blocks on (a netlink socket on Linux); -1 when not open.
    intptr_t Handle() const;
    // The events that have arrived, without blocking.
    std::vector<SerialPortEvent> Take();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
