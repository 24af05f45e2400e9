#include "system/SerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

namespace {
int Fd(SerialHandle h) {
    return static_cast<int>(h);
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

long Result(ssize_t n, int* err) {
    if (n < 0) *err = errno;
    return static_cast<long>(n);
}
} // namespace

std::string DefaultSerialDevicePath(int comIndex) {
    return "/dev/ttyS" + std::to_string(comIndex);
}

SerialHandle OpenSerialDevice(const std::string& path, int* err) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // flock keeps out every program that asks first; TIOCEXCL also keeps out one that does not.
    if (fd >= 0 && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0)) {
        const int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        fd = -1;
        errno = e;
    }
    if (fd < 0) *err = errno;
    return fd;
}

bool ConfigureSerialDevice(SerialHandle h, int baud, int* err) {
    if (SpeedOf(baud) == B0) {
        // Speed 0 would hang up the line instead of configuring it.
        *err = EINVAL;
        return false;
    }
    termios tio{};
    tio.c_cflag = CS8 | CLOCAL | CREAD;
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, SpeedOf(baud)) != 0 || cfsetospeed(&tio, SpeedOf(baud)) != 0 ||
        tcsetattr(Fd(h), TCSANOW, &tio) != 0) {
        *err = errno;
        return false;
    }
    // DTR and RTS stay inactive, whatever the driver raised on open or on leaving speed 0. A
    // pseudo-terminal has no modem lines and refuses the request (ENOTTY); neither that nor any
    // other refusal keeps the port from being used.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(Fd(h), TIOCMBIC, &lines);
    return true;
}

int CloseSerialDevice(SerialHandle h) {
    // The terminal stays exclusive after the close while anyone else still has it open (the
    // virtual valve keeps its own end open), and then our own next open, at the next line speed,
    // would be refused to every user but root.
    (void)::ioctl(Fd(h), TIOCNXCL);
    ::flock(Fd(h), LOCK_UN);
    return ::close(Fd(h));
}

int SerialInputQueued(SerialHandle h, int* err) {
    int waiting = 0;
    if (::ioctl(Fd(h), FIONREAD, &waiting) != 0) {
        *err = errno;
        return -1;
    }
    return waiting;
}

bool SerialHungUp(SerialHandle h) {
    pollfd p{Fd(h), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

long ReadSerial(SerialHandle h, uint8_t* buf, size_t len, int* err) {
    return Result(::read(Fd(h), buf, len), err);
}

long ReadSerialInto(SerialHandle h, const SerialSpan* spans, int count, int* err) {
    iovec iov[2];
    for (int i = 0; i < count && i < 2; ++i)
        iov[i] = {spans[i].data, spans[i].size};
    return Result(::readv(Fd(h), iov, std::min(count, 2)), err);
}

long WriteSerial(SerialHandle h, const uint8_t* buf, size_t len, int* err, bool* stalled) {
    size_t done = 0;
    *stalled = false;
    while (done < len) {
        const ssize_t n = ::write(Fd(h), buf + done, len - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        *err = n < 0 ? errno : 0;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{Fd(h), POLLOUT, 0};
            if (::poll(&p, 1, 100) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) continue;
            *stalled = true;
        }
        return done > 0 ? static_cast<long>(done) : -1;
    }
    return static_cast<long>(done);
}

bool SerialDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

SerialWait WaitForSerial(IClock& clock, Waker& waker, SerialHandle port, bool wantInput, uint32_t timeoutMs,
                         intptr_t watched) {
    // Without POLLIN the port still reports a hang-up.
    pollfd fds[3] = {{static_cast<int>(waker.Handle()), POLLIN, 0}};
    size_t count = 1;
    pollfd* portFd = nullptr;
    pollfd* watchedFd = nullptr;
    if (port != NO_SERIAL_DEVICE) {
        portFd = &fds[count++];
        *portFd = {Fd(port), static_cast<short>(wantInput ? POLLIN : 0), 0};
    }
    if (watched >= 0) {
        watchedFd = &fds[count++];
        *watchedFd = {static_cast<int>(watched), POLLIN, 0};
    }
    SerialWait w;
    if (clock.Poll(fds, count, timeoutMs) <= 0) return w;
    w.ended = true;
    if (fds[0].revents) {
        // Takes the raises so far: the waiter looks afresh at what they announced.
        waker.Take();
        w.woken = true;
    }
    if (watchedFd) w.watched = watchedFd->revents != 0;
    if (!portFd) return w;
    w.input = (portFd->revents & POLLIN) != 0;
    w.hungUp = (portFd->revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return w;
}
