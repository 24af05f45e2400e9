#include "link/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

namespace {
// The Linux tty layer buffers up to 64 KiB per port; there is no queue size to request.
constexpr int LINUX_TTY_QUEUE = 65536;
constexpr int WANTED_QUEUE = 16384;

bool IsVanished(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

speed_t SpeedOf(int baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 57600:
        return B57600;
    default:
        return B0;
    }
}

// Raw 8N1 without flow control and without any input or output processing; a read returns at
// once with what is queued (VMIN 0, VTIME 0).
bool ApplyLine(int fd, int baud) {
    if (baud == 0) {
        // Speed 0 would hang up the line instead of configuring it.
        errno = EINVAL;
        return false;
    }
    termios tio{};
    tio.c_cflag = CS8 | CLOCAL | CREAD;
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, SpeedOf(baud)) != 0 || cfsetospeed(&tio, SpeedOf(baud)) != 0) return false;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// The valve's interface takes no modem lines: DTR and RTS stay inactive, whatever the driver
// raised on open or on leaving speed 0. A pseudo-terminal has no modem lines and refuses the
// request (ENOTTY); neither that nor any other refusal keeps the port from being used.
void DropModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);
}

long ReadResult(LinkState& s, ssize_t n, size_t len) {
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return 0;
        if (IsVanished(errno)) MarkPortLost(s);
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
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0)) {
            const int err = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            fd = -1;
            errno = err;
        }
        if (fd < 0) {
            s.LastOpenErrno.store(errno);
            QLN_TRACE_INFO(s.trace, " Init Com Port, Handle error: %d", errno);
            return false;
        }
        s.PortFd.store(fd);
        if (!ApplyLine(fd, baud)) {
            s.LastOpenErrno.store(errno);
            QLN_TRACE_INFO(s.trace, " Init Com Port, CommState error: %d", errno);
            CloseComPort(s);
            return false;
        }
        DropModemLines(fd);
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
    const int fd = s.PortFd.exchange(-1);
    if (fd < 0) return 0;
    // The receiver must let go of the descriptor before its number is given to another file.
    s.PortCloses.fetch_add(1);
    WakeReceiver(s);
    QLN_TRACE_INFO(s.trace, " Close Com Port");
    // The terminal stays exclusive after the close while anyone else still has it open (the
    // virtual valve keeps its own end open), and then our own next open, at the next line speed,
    // would be refused to every user but root.
    (void)::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    return ::close(fd);
}

void ClearComPortInputBuffer(LinkState& s) {
    const int fd = s.PortFd.load();
    if (fd < 0) return;
    long total = 0;
    uint8_t scratch[100];
    for (;;) {
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0) break;
        const ssize_t n = ::read(fd, scratch, sizeof scratch);
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
    const int fd = s.PortFd.load();
    if (fd < 0) return 0;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        MarkPortLost(s);
        return -1;
    }
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) {
        if (IsVanished(errno)) MarkPortLost(s);
        return -1;
    }
    return waiting;
}

long PortRead(LinkState& s, uint8_t* buf, size_t len) {
    const int fd = s.PortFd.load();
    if (fd < 0) return -1;
    return ReadResult(s, ::read(fd, buf, len), len);
}

long PortReadInto(LinkState& s, const ReceiveRing::Span* spans, int count) {
    const int fd = s.PortFd.load();
    if (fd < 0) return -1;
    iovec iov[2];
    size_t len = 0;
    for (int i = 0; i < count && i < 2; ++i) {
        iov[i] = {spans[i].data, spans[i].size};
        len += spans[i].size;
    }
    return ReadResult(s, ::readv(fd, iov, std::min(count, 2)), len);
}

long PortWrite(LinkState& s, const uint8_t* buf, size_t len) {
    const int fd = s.PortFd.load();
    if (fd < 0) return -1;
    size_t done = 0;
    // The port is non-blocking; a write waits (politely) until the driver has taken everything,
    // as a write without time-out does.
    while (done < len) {
        const ssize_t n = ::write(fd, buf + done, len - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 100) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) continue;
            MarkPortLost(s);
            return done > 0 ? static_cast<long>(done) : -1;
        }
        if (n < 0 && IsVanished(errno)) MarkPortLost(s);
        return done > 0 ? static_cast<long>(done) : -1;
    }
    return static_cast<long>(done);
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
        struct stat st {};
        if (::stat(device.c_str(), &st) != 0) break;
        const struct group* g = ::getgrgid(st.st_gid);
        // The group of USB serial adapters on this system, for the udev rule.
        std::string adapterGroup;
        for (const char* name : {"dialout", "uucp", "tty"})
            if (adapterGroup.empty() && ::getgrnam(name)) adapterGroup = name;
        msg += " " + AccessAdvice(device, st.st_mode, g ? g->gr_name : std::to_string(st.st_gid),
                                  st.st_gid == 0, adapterGroup);
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
