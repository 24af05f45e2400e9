#include "system/SerialLatency.h"

#include <libudev.h>

#include <cerrno>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

class LinuxSerialLatency : public SerialLatency {
public:
    bool OnUsb(SerialHandle h) override {
        struct stat st {};
        if (::fstat(static_cast<int>(h), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
        udev* u = udev_new();
        if (!u) return false;
        udev_device* tty = udev_device_new_from_devnum(u, 'c', st.st_rdev);
        // The USB device above the tty, as the port list finds an adapter's identity.
        const bool usb = tty && udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
        if (tty) udev_device_unref(tty);
        udev_unref(u);
        return usb;
    }

    bool RequestLowLatency(SerialHandle h, int* err) override {
        const int fd = static_cast<int>(h);
        serial_struct ss{};
        if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) {
            *err = errno;
            return false;
        }
        if (ss.flags & ASYNC_LOW_LATENCY) return true;
        // Everything else as the driver reported it: a user may change this flag only.
        ss.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) {
            *err = errno;
            return false;
        }
        return true;
    }
};

} // namespace

SerialLatency& SystemSerialLatency() {
    static LinuxSerialLatency latency;
    return latency;
}
