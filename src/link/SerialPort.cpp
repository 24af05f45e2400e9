#include "link/SerialPort.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/DeviceAccess.h"
#include "system/Files.h"

namespace {
// The Linux tty layer buffers up to 64 KiB per port; there is no queue size to request.
constexpr int LINUX_TTY_QUEUE = 65536;
constexpr int WANTED_QUEUE = 16384;

// A USB adapter would hold every short reply back for its latency timer; one that cannot be
// switched to low latency is still used as it is, so a refusal goes into the trace only.
void AskForLowLatency(LinkState& s, SerialHandle fd) {
    if (!s.latency->OnUsb(fd)) return;
    int err = 0;
    if (s.latency->RequestLowLatency(fd, &err))
        QLN_TRACE_INFO(s.trace, " Low latency on");
    else
        QLN_TRACE_INFO(s.trace, " Low latency refused: %d", err);
}

long ReadResult(LinkState& s, long n, int err, size_t len) {
    if (n < 0) {
        if (err == EAGAIN || err == EINTR) return 0;
        if (SerialDeviceGone(err)) MarkPortLost(s);
        return -1;
    }
    if (n == 0 && len > 0) {
        // The port said bytes were waiting, yet the read ends: the line has hung up.
        MarkPortLost(s);
        return -1;
    }
    return n;
}
} // namespace

void MarkPortLost(LinkState& s) {
    if (s.PortLost.exchange(1) == 0) {
        s.PortOpen.store(0);
        QLN_TRACE_INFO(s.trace, " Com Port lost, device gone");
    }
    // The supervisor stops waiting for a reply that cannot come; the receiver stops listening.
    WakeSupervisor(s);
    WakeReceiver(s);
}

bool PortDeviceBack(const LinkState& s) {
    const int32_t port = s.PortIndex.load();
    return s.PortLost.load() != 0 && (s.uTestMode.load() & 1) == 0 && port >= 0 &&
           port < static_cast<int32_t>(s.DevicePath.size()) &&
           PathExists(s.DevicePath[static_cast<size_t>(port)]);
}

int BaudRateOf(int32_t baudIndex) {
    switch (baudIndex) {
    case 1:
        return 9600;
    case 2:
        return 19200;
    case 3:
        return 57600;
    default:
        return 0;
    }
}

int32_t BaudIndexOfRate(int baud) {
    for (int32_t i = 1; i <= 3; ++i)
        if (BaudRateOf(i) == baud) return i;
    return 0;
}

int32_t BaudIndexToRemember(const LinkState& s) {
    const int32_t found = s.FoundBaudIndex.load();
    if (found == 0 || (s.uTestMode.load() & 1) != 0) return 0;
    return found == s.PreferredBaudIndex.load() ? 0 : found;
}

const std::string& PortDevicePath(const LinkState& s) {
    return s.DevicePath[static_cast<size_t>(s.PortIndex.load() & 7)];
}

bool InitComPort(LinkState& s) {
    const int32_t baudIndex = s.BaudIndex.load();
    switch (baudIndex) {
    case 0:
        QLN_TRACE_INFO(s.trace, " Init Com Port, unknown Baudrate");
        break;
    case 1:
        QLN_TRACE_INFO(s.trace, " Init Com Port, Baudrate 9600");
        break;
    case 2:
        QLN_TRACE_INFO(s.trace, " Init Com Port, Baudrate 19200");
        break;
    case 3:
        QLN_TRACE_INFO(s.trace, " Init Com Port, Baudrate 57600");
        break;
    default:
        QLN_TRACE_INFO(s.trace, " Init Com Port, not supported Baudrate: %d", baudIndex);
        return false;
    }
    const int baud = BaudRateOf(baudIndex);
    const int32_t portIndex = s.PortIndex.load();
    if (portIndex < 0 || portIndex > 7) {
        QLN_TRACE_INFO(s.trace, " Init Com Port, not supported Com: %d", portIndex);
        return false;
    }
    s.PortLost.store(0);

    // In test mode the simulated valve answers; no device is opened at all.
    if ((s.uTestMode.load() & 1) == 0) {
        const std::string& path = s.DevicePath[static_cast<size_t>(portIndex)];
        int err = 0;
        const SerialHandle fd = OpenSerialDevice(path, &err);
        if (fd < 0) {
            s.LastOpenErrno.store(err);
            QLN_TRACE_INFO(s.trace, " Init Com Port, Handle error: %d", err);
            return false;
        }
        s.PortFd.store(fd);
        if (!ConfigureSerialDevice(fd, baud, &err)) {
            s.LastOpenErrno.store(err);
            QLN_TRACE_INFO(s.trace, " Init Com Port, CommState error: %d", err);
            CloseComPort(s);
            return false;
        }
        AskForLowLatency(s, fd);
        QLN_TRACE_INFO(s.trace, " RxQueue: %d bytes", LINUX_TTY_QUEUE);
        if (LINUX_TTY_QUEUE < WANTED_QUEUE)
            QLN_TRACE_INFO(s.trace, " New RxQueue: %d bytes", LINUX_TTY_QUEUE);
    }
    ClearComPortInputBuffer(s);
    ClearRcvQueue(s);
    // The reason of an earlier failed open no longer describes the port.
    s.LastOpenErrno.store(0);
    s.PortOpen.store(1);
    QLN_TRACE_INFO(s.trace, " Init Com Port, ok with Baudrate: %d", baud);
    // A telegram may be waiting for the port; the receiver listens to the new descriptor.
    WakeTransmitter(s);
    WakeReceiver(s);
    return true;
}

int CloseComPort(LinkState& s) {
    s.PortOpen.store(0);
    const SerialHandle fd = s.PortFd.exchange(NO_SERIAL_DEVICE);
    if (fd < 0) return 0;
    // The receiver must let go of the descriptor before its number is given to another file.
    s.PortCloses.fetch_add(1);
    WakeReceiver(s);
    QLN_TRACE_INFO(s.trace, " Close Com Port");
    return CloseSerialDevice(fd);
}

void ClearComPortInputBuffer(LinkState& s) {
    const SerialHandle fd = s.PortFd.load();
    if (fd < 0) return;
    long total = 0;
    uint8_t scratch[100];
    for (;;) {
        int err = 0;
        if (SerialInputQueued(fd, &err) <= 0) break;
        const long n = ReadSerial(fd, scratch, sizeof scratch, &err);
        if (n <= 0) break;
        total += n;
    }
    QLN_TRACE_INFO(s.trace, "ClearComPortInputBuffer: %ld", total);
}

void ClearRcvQueue(LinkState& s) {
    s.Ring.Clear();
    QLN_TRACE_INFO(s.trace, "ClearRcvQueue");
}

int PortBytesWaiting(LinkState& s) {
    const SerialHandle fd = s.PortFd.load();
    if (fd < 0) return 0;
    if (SerialHungUp(fd)) {
        MarkPortLost(s);
        return -1;
    }
    int err = 0;
    const int waiting = SerialInputQueued(fd, &err);
    if (waiting < 0 && SerialDeviceGone(err)) MarkPortLost(s);
    return waiting;
}

long PortRead(LinkState& s, uint8_t* buf, size_t len) {
    const SerialHandle fd = s.PortFd.load();
    if (fd < 0) return -1;
    int err = 0;
    const long n = ReadSerial(fd, buf, len, &err);
    return ReadResult(s, n, err, len);
}

long PortReadInto(LinkState& s, const ReceiveRing::Span* spans, int count) {
    const SerialHandle fd = s.PortFd.load();
    if (fd < 0) return -1;
    SerialSpan pieces[2]{};
    size_t len = 0;
    for (int i = 0; i < count && i < 2; ++i) {
        pieces[i] = {spans[i].data, spans[i].size};
        len += spans[i].size;
    }
    int err = 0;
    const long n = ReadSerialInto(fd, pieces, count, &err);
    return ReadResult(s, n, err, len);
}

long PortWrite(LinkState& s, const uint8_t* buf, size_t len) {
    const SerialHandle fd = s.PortFd.load();
    if (fd < 0) return -1;
    int err = 0;
    bool stalled = false;
    const long n = WriteSerial(fd, buf, len, &err, &stalled);
    if (n < static_cast<long>(len) && (stalled || SerialDeviceGone(err))) MarkPortLost(s);
    return n;
}

int LastOpenError(const LinkState& s) {
    return s.LastOpenErrno.load();
}

std::string AccessAdvice(const std::string& device, unsigned mode, const std::string& groupName,
                         bool rootGroup, const std::string& adapterGroup) {
    // Joining the device's group helps only when that group may read and write it; joining root's
    // group would be no advice at all.
    if (!rootGroup && (mode & 060) == 060)
        return "Your user may not use it. Add yourself to the group " + groupName +
               " that may use it (sudo usermod -aG " + groupName + " $USER), then log out and in again.";
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", mode & 07777);
    const std::string name = device.substr(device.rfind('/') + 1);
    const std::string group = adapterGroup.empty() ? "dialout" : adapterGroup;
    return std::string("Only root may open it (group ") + groupName + ", mode " + octal +
           "). Grant access with a udev rule, e.g. a file /etc/udev/rules.d/70-qln-serial.rules holding "
           "KERNEL==\"" +
           name + "\", GROUP=\"" + group +
           "\", MODE=\"0660\", then reconnect the adapter and add "
           "yourself to the group " +
           group + " (sudo usermod -aG " + group + " $USER).";
}

std::string PortOpenAdvice(int err, const std::string& device) {
    std::string msg = "Cannot open serial port " + device + ": " + std::strerror(err) + ".";
    switch (err) {
    case EACCES:
    case EPERM: {
        const std::optional<DeviceOwner> owner = DeviceOwnerOf(device);
        if (!owner) break;
        msg +=
            " " + AccessAdvice(device, owner->mode, owner->groupName, owner->rootGroup, SerialAdapterGroup());
        break;
    }
    case EBUSY:
        msg += " Another program is using the port. Close it and try again.";
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        msg += " Check that the adapter is plugged in and that QLN_com.ini maps the COM port to the right "
               "device ([DEVICES] COM1=/dev/ttyUSB0).";
        break;
    default:
        break;
    }
    return msg;
}
