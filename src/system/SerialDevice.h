#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "system/Clock.h"
#include "system/Waker.h"

// A serial device as the link uses it. Failures return -1 (or false) and put the system's error
// code (errno values: EBUSY, EACCES, EAGAIN, ...) into *err, so the link judges them the same way
// on every platform.
using SerialHandle = intptr_t;
constexpr SerialHandle NO_SERIAL_DEVICE = -1;

// The device a port name COM1..COM8 (`comIndex` 0..7) stands for when the settings name none:
// "/dev/ttyS0".. here, "\\.\COM1".. where the system names its ports so.
std::string DefaultSerialDevicePath(int comIndex);
// The eight defaults, COM1..COM8.
inline std::array<std::string, 8> DefaultSerialDevicePaths() {
    std::array<std::string, 8> paths;
    for (int i = 0; i < 8; ++i)
        paths[static_cast<size_t>(i)] = DefaultSerialDevicePath(i);
    return paths;
}

// Opens the device for reading and writing, non-blocking, and for this program alone: a second
// program is refused with EBUSY even when it runs as root.
SerialHandle OpenSerialDevice(const std::string& path, int* err);
// Raw 8N1 at `baud` (9600, 19200 or 57600), no flow control, no processing, reads that return at
// once; DTR and RTS inactive (the valve's interface takes no modem lines).
bool ConfigureSerialDevice(SerialHandle h, int baud, int* err);
// Gives up the exclusive use and closes; 0, or -1 when the close failed.
int CloseSerialDevice(SerialHandle h);

// Bytes queued for reading, or -1.
int SerialInputQueued(SerialHandle h, int* err);
// The device reports a hang-up or an error now.
bool SerialHungUp(SerialHandle h);
// Bytes read (0: the line has ended), or -1; EAGAIN (or EINTR) when nothing is there now.
long ReadSerial(SerialHandle h, uint8_t* buf, size_t len, int* err);
struct SerialSpan {
    uint8_t* data;
    size_t size;
};
// One read into up to two pieces of memory (the free parts of a ring).
long ReadSerialInto(SerialHandle h, const SerialSpan* spans, int count, int* err);
// Writes everything, waiting politely while the driver's queue is full, as a write without
// time-out does. Returns the bytes written (all of them, or fewer after a failure), or -1 when
// none were; `*stalled` is set when the device stopped taking bytes or hung up.
long WriteSerial(SerialHandle h, const uint8_t* buf, size_t len, int* err, bool* stalled);
// Whether an error code means that the device has vanished (adapter unplugged, line hung up).
bool SerialDeviceGone(int err);

// What ended a wait for the serial device.
struct SerialWait {
    bool ended = false;   // false: the time ran out (or the wait failed)
    bool woken = false;   // the waker was raised (its raises have been taken)
    bool input = false;   // the device has bytes to read
    bool hungUp = false;  // the device reports a hang-up or an error
    bool watched = false; // the watched handle is readable (its owner takes what waits there)
};
// Blocks until the waker is raised, `port` (when not NO_SERIAL_DEVICE) has input (when `wantInput`)
// or hangs up, `watched` (when not -1, e.g. a SerialPortMonitor's handle) is readable, or
// `timeoutMs` have passed on the clock.
SerialWait WaitForSerial(IClock& clock, Waker& waker, SerialHandle port, bool wantInput, uint32_t timeoutMs,
                         intptr_t watched = -1);
