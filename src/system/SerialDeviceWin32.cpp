// A serial port opened for overlapped I/O, without read time-outs: a read ends when it has all the
// bytes it asks for. The receiver keeps a read of one byte pending, which ends when the next byte
// arrives, and reads what the driver holds beyond it by its count; it blocks in
// WaitForMultipleObjects on that read, the waker's event and the watched handle, so no thread ever
// polls the port. (A pending WaitCommEvent would do the same on real ports, but fails on the
// pseudo-terminals that stand in for ports under wine.)
#include "system/SerialDevice.h"
#include "system/Win32.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
struct Port {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE readEvent = nullptr; // the pending read's completion (only the receiver reads)
    HANDLE sendEvent = nullptr; // the writes' completions (one writer at a time)
    OVERLAPPED readOv{};
    bool readPending = false;
    int readError = 0;    // the pending read failed: the port has gone
    uint8_t buffer[4096]; // what the last reads brought, from `pos` to `len`
    DWORD pos = 0, len = 0;
};

Port* PortOf(SerialHandle h) {
    return reinterpret_cast<Port*>(h);
}

// A port whose adapter was pulled answers "access denied" or "bad command" from then on.
int PortErrno() {
    const DWORD e = ::GetLastError();
    return e == ERROR_ACCESS_DENIED || e == ERROR_BAD_COMMAND ? ENODEV : ErrnoFromWin32(e);
}

HANDLE NewEvent() {
    return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void Release(Port* p) {
    for (HANDLE e : {p->readEvent, p->sendEvent})
        if (e) ::CloseHandle(e);
    if (p->file != INVALID_HANDLE_VALUE) ::CloseHandle(p->file);
    delete p;
}

// Takes the pending read's result when it has ended (`wait`: blocks until it has).
void Collect(Port* p, bool wait) {
    if (!p->readPending) return;
    DWORD n = 0;
    if (::GetOverlappedResult(p->file, &p->readOv, &n, wait ? TRUE : FALSE)) {
        p->readPending = false;
        p->pos = 0;
        p->len = n;
    } else if (::GetLastError() != ERROR_IO_INCOMPLETE) {
        p->readPending = false;
        p->readError = PortErrno();
    }
}

// Starts the read that ends with the next byte, unless one is pending or bytes are buffered.
void Arm(Port* p) {
    if (p->readPending || p->pos < p->len || p->readError) return;
    p->readOv = OVERLAPPED{};
    p->readOv.hEvent = p->readEvent;
    ::ResetEvent(p->readEvent);
    p->pos = p->len = 0;
    p->readPending = true;
    if (!::ReadFile(p->file, p->buffer, 1, nullptr, &p->readOv) && ::GetLastError() != ERROR_IO_PENDING) {
        p->readPending = false;
        p->readError = PortErrno();
        return;
    }
    Collect(p, false);
}

DWORD Buffered(const Port* p) {
    return p->len - p->pos;
}

int BytesQueued(Port* p, int* err) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(p->file, &errors, &stat)) {
        *err = PortErrno();
        return -1;
    }
    return static_cast<int>(stat.cbInQue + Buffered(p));
}

bool Write(Port* p, const uint8_t* buf, DWORD len, DWORD* done, int* err) {
    OVERLAPPED ov{};
    ov.hEvent = p->sendEvent;
    ::ResetEvent(ov.hEvent);
    *done = 0;
    if (!::WriteFile(p->file, buf, len, nullptr, &ov) && ::GetLastError() != ERROR_IO_PENDING) {
        *err = PortErrno();
        return false;
    }
    if (!::GetOverlappedResult(p->file, &ov, done, TRUE)) {
        *err = PortErrno();
        return false;
    }
    return true;
}
} // namespace

std::string DefaultSerialDevicePath(int comIndex) {
    return "\\\\.\\COM" + std::to_string(comIndex + 1);
}

SerialHandle OpenSerialDevice(const std::string& path, int* err) {
    // No sharing: the system refuses every other program while this one has the port.
    const HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A port that another program holds answers "access denied".
        const DWORD e = ::GetLastError();
        *err = e == ERROR_ACCESS_DENIED ? EBUSY : ErrnoFromWin32(e);
        return NO_SERIAL_DEVICE;
    }
    auto* p = new Port;
    p->file = file;
    p->readEvent = NewEvent();
    p->sendEvent = NewEvent();
    if (!p->readEvent || !p->sendEvent) {
        *err = LastErrno();
        Release(p);
        return NO_SERIAL_DEVICE;
    }
    return reinterpret_cast<SerialHandle>(p);
}

bool ConfigureSerialDevice(SerialHandle h, int baud, int* err) {
    if (baud != 9600 && baud != 19200 && baud != 57600) {
        *err = EINVAL;
        return false;
    }
    Port* p = PortOf(h);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(p->file, &dcb)) {
        *err = LastErrno();
        return false;
    }
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // The valve's interface takes no modem lines.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    // Reads wait for all they ask for (they ask for no more than is there, or for the next byte);
    // a write may take twice its time on the line plus half a second before it counts as stalled.
    COMMTIMEOUTS t{};
    t.WriteTotalTimeoutMultiplier = 2;
    t.WriteTotalTimeoutConstant = 500;
    if (!::SetCommState(p->file, &dcb) || !::SetCommTimeouts(p->file, &t) ||
        !::PurgeComm(p->file, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        *err = LastErrno();
        return false;
    }
    return true;
}

int CloseSerialDevice(SerialHandle h) {
    Port* p = PortOf(h);
    if (p->readPending) {
        // The pending read's OVERLAPPED must outlive it.
        ::CancelIoEx(p->file, &p->readOv);
        DWORD n = 0;
        (void)::GetOverlappedResult(p->file, &p->readOv, &n, TRUE);
    }
    const BOOL closed = ::CloseHandle(p->file);
    p->file = INVALID_HANDLE_VALUE;
    Release(p);
    return closed ? 0 : -1;
}

int SerialInputQueued(SerialHandle h, int* err) {
    Collect(PortOf(h), false);
    return BytesQueued(PortOf(h), err);
}

bool SerialHungUp(SerialHandle h) {
    Port* p = PortOf(h);
    Collect(p, false);
    int err = 0;
    return p->readError != 0 || BytesQueued(p, &err) < 0;
}

// Reads what the driver holds behind the buffered bytes, by its count, so that the read ends at once.
void TopUp(Port* p) {
    if (p->readPending || p->readError || p->len == sizeof p->buffer) return;
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(p->file, &errors, &stat) || stat.cbInQue == 0) return;
    if (p->pos == p->len) p->pos = p->len = 0;
    const DWORD want = std::min<DWORD>(stat.cbInQue, sizeof p->buffer - p->len);
    p->readOv = OVERLAPPED{};
    p->readOv.hEvent = p->readEvent;
    ::ResetEvent(p->readEvent);
    DWORD n = 0;
    if ((::ReadFile(p->file, p->buffer + p->len, want, nullptr, &p->readOv) ||
         ::GetLastError() == ERROR_IO_PENDING) &&
        ::GetOverlappedResult(p->file, &p->readOv, &n, TRUE))
        p->len += n;
    else
        p->readError = PortErrno();
}

long ReadSerial(SerialHandle h, uint8_t* buf, size_t len, int* err) {
    Port* p = PortOf(h);
    Collect(p, false);
    TopUp(p);
    Arm(p);
    if (Buffered(p) == 0) {
        // A port never ends like a pipe: nothing there yet, or the port has gone.
        *err = p->readError ? p->readError : EAGAIN;
        return -1;
    }
    const size_t n = std::min<size_t>(len, Buffered(p));
    std::memcpy(buf, p->buffer + p->pos, n);
    p->pos += static_cast<DWORD>(n);
    return static_cast<long>(n);
}

long ReadSerialInto(SerialHandle h, const SerialSpan* spans, int count, int* err) {
    long total = 0;
    for (int i = 0; i < count && i < 2; ++i) {
        if (spans[i].size == 0) continue;
        const long n = ReadSerial(h, spans[i].data, spans[i].size, err);
        if (n < 0) return total > 0 ? total : -1;
        total += n;
        if (static_cast<size_t>(n) < spans[i].size) break; // no more there now
    }
    return total;
}

long WriteSerial(SerialHandle h, const uint8_t* buf, size_t len, int* err, bool* stalled) {
    *stalled = false;
    size_t done = 0;
    while (done < len) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(len - done < (1u << 20) ? len - done : (1u << 20));
        const bool ok = Write(PortOf(h), buf + done, want, &n, err);
        done += n;
        if (ok && n == want) continue;
        // The write's time-out ran out (the device takes no more) or the device refused.
        if (ok) *err = EAGAIN;
        *stalled = true;
        break;
    }
    return done > 0 ? static_cast<long>(done) : (len == 0 ? 0 : -1);
}

bool SerialDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

SerialWait WaitForSerial(IClock& clock, Waker& waker, SerialHandle port, bool wantInput, uint32_t timeoutMs,
                         intptr_t watched) {
    SerialWait w;
    Port* p = port != NO_SERIAL_DEVICE ? PortOf(port) : nullptr;
    pollfd fds[3] = {
        {waker.Handle(), POLLIN, 0}, {-1, 0, 0}, {watched, static_cast<short>(watched != -1), 0}};
    if (p) {
        Collect(p, false);
        if (wantInput) Arm(p);
        if (p->readError || (wantInput && Buffered(p) > 0)) {
            w.ended = true;
            w.input = Buffered(p) > 0;
            w.hungUp = p->readError != 0;
            return w;
        }
        if (p->readPending) fds[1] = {reinterpret_cast<intptr_t>(p->readEvent), POLLIN, 0};
    }
    if (clock.Poll(fds, 3, timeoutMs) <= 0) return w;
    w.ended = true;
    if (fds[0].revents) {
        waker.Take();
        w.woken = true;
    }
    w.watched = fds[2].revents != 0;
    if (p && fds[1].revents) {
        Collect(p, false);
        w.input = wantInput && Buffered(p) > 0;
        w.hungUp = p->readError != 0;
    }
    return w;
}
