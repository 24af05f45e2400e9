#include "system/SerialPorts.h"

#include <libudev.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>

#include "system/Files.h"

namespace {

constexpr const char* kById = "/dev/serial/by-id";

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* s) {
    return s ? s : "";
}

std::string Property(udev_device* d, const char* key) {
    return Text(udev_device_get_property_value(d, key));
}

std::string Attribute(udev_device* d, const char* name) {
    return Text(udev_device_get_sysattr_value(d, name));
}

std::vector<std::string> SplitOnSpaces(const std::string& s) {
    std::vector<std::string> words;
    std::istringstream in(s);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

// The by-id links that point to a node, for a device whose database entry keeps no DEVLINKS (udev
// not yet done with it, or a container without udev). The folder is read at the first such device,
// then once per listing; where every entry has its DEVLINKS it is never opened.
class ByIdFolder {
public:
    std::vector<std::string> LinksTo(const std::string& node) {
        if (!read_) Read();
        std::vector<std::string> found;
        for (const auto& [link, target] : links_)
            if (target == node) found.push_back(link);
        return found;
    }

private:
    void Read() {
        read_ = true;
        DIR* dir = ::opendir(kById);
        if (!dir) return;
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            const std::string link = std::string(kById) + "/" + e->d_name;
            // The one link read, not realpath(3): udev points each straight at its node.
            std::string target = LinkTarget(link);
            if (!target.empty()) links_.emplace_back(link, std::move(target));
        }
        ::closedir(dir);
    }

    bool read_ = false;
    std::vector<std::pair<std::string, std::string>> links_;
};

// A whole-number attribute; -1 when absent or not a number.
int NumberAttribute(udev_device* d, const char* name) {
    const std::string text = d ? Attribute(d, name) : "";
    if (text.empty()) return -1;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    return end == text.c_str() || v < INT_MIN || v > INT_MAX ? -1 : static_cast<int>(v);
}

// The USB identity from the usb_device above the tty, else from the properties udev's USB
// rules left on the tty itself.
void AddUsb(udev_device* tty, SerialPortFacts& f) {
    struct Field {
        std::string SerialPortFacts::*member;
        const char* attribute;
        const char* property;
    };
    static constexpr Field kFields[] = {
        {&SerialPortFacts::vendorId, "idVendor", "ID_VENDOR_ID"},
        {&SerialPortFacts::productId, "idProduct", "ID_MODEL_ID"},
        {&SerialPortFacts::manufacturer, "manufacturer", "ID_VENDOR"},
        {&SerialPortFacts::product, "product", "ID_MODEL"},
        {&SerialPortFacts::serial, "serial", "ID_SERIAL_SHORT"},
    };
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    f.usb = usb != nullptr || Property(tty, "ID_BUS") == "usb";
    if (!f.usb) return;
    for (const Field& field : kFields) {
        std::string value = usb ? Attribute(usb, field.attribute) : "";
        f.*field.member = value.empty() ? Property(tty, field.property) : value;
    }
}

SerialPortFacts FactsOf(udev_device* tty, ByIdFolder& byId) {
    SerialPortFacts f;
    f.node = Text(udev_device_get_devnode(tty));
    f.links = SplitOnSpaces(Property(tty, "DEVLINKS"));
    if (f.links.empty() && !f.node.empty()) f.links = byId.LinksTo(f.node);
    udev_device* parent = udev_device_get_parent(tty);
    f.hasDevice = parent != nullptr;
    // Newer kernels put the serial core's own port and controller devices (drivers "port" and
    // "ctrl") between a ttyS and its hardware; the driver that tells the user something is below.
    udev_device* hardware = parent;
    while (hardware && Text(udev_device_get_subsystem(hardware)) == "serial-base")
        hardware = udev_device_get_parent(hardware);
    f.driver = hardware ? Text(udev_device_get_driver(hardware)) : "";
    if (f.driver.empty()) f.driver = Property(tty, "ID_USB_DRIVER");
    f.uartType = NumberAttribute(tty, "type");
    AddUsb(tty, f);
    // The USB serial drivers that have a latency timer (ftdi_sio) show it on their port device.
    f.latencyTimerMs = NumberAttribute(
        udev_device_get_parent_with_subsystem_devtype(tty, "usb-serial", nullptr), "latency_timer");
    return f;
}

std::string Reason(const char* what, int err) {
    return std::string(what) + (err ? std::string(": ") + std::strerror(err) : "");
}

} // namespace

std::vector<SerialPortFacts> ListSerialPortFacts(std::string* error) {
    std::vector<SerialPortFacts> facts;
    auto fail = [&](const char* what, int err) {
        if (error) *error = Reason(what, err);
        return std::vector<SerialPortFacts>{};
    };
    UdevPtr<udev> u(udev_new());
    if (!u) return fail("the device database (udev) cannot be opened", errno);
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u.get()));
    if (!e) return fail("the device database (udev) cannot be searched", errno);
    int r = udev_enumerate_add_match_subsystem(e.get(), "tty");
    if (r >= 0) r = udev_enumerate_scan_devices(e.get());
    if (r < 0) return fail("the device database (udev) cannot list the serial devices", -r);
    ByIdFolder byId;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        UdevPtr<udev_device> d(udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        // A device that went away while the list was read is simply not there.
        if (d) facts.push_back(FactsOf(d.get(), byId));
    }
    return facts;
}

struct SerialPortMonitor::Impl {
    UdevPtr<udev> u;
    UdevPtr<udev_monitor> monitor;
    int fd = -1;
};

SerialPortMonitor::SerialPortMonitor() : impl_(std::make_unique<Impl>()) {}
SerialPortMonitor::~SerialPortMonitor() = default;

bool SerialPortMonitor::Open(std::string* error) {
    auto fail = [&](const char* what, int err) {
        if (error) *error = Reason(what, err);
        impl_ = std::make_unique<Impl>();
        return false;
    };
    impl_->u.reset(udev_new());
    if (!impl_->u) return fail("the device database (udev) cannot be opened", errno);
    impl_->monitor.reset(udev_monitor_new_from_netlink(impl_->u.get(), "udev"));
    if (!impl_->monitor) return fail("the system's device announcements cannot be received", errno);
    int r = udev_monitor_filter_add_match_subsystem_devtype(impl_->monitor.get(), "tty", nullptr);
    if (r >= 0) r = udev_monitor_enable_receiving(impl_->monitor.get());
    if (r < 0) return fail("the system's device announcements cannot be received", -r);
    const int fd = udev_monitor_get_fd(impl_->monitor.get());
    // Take() reads until nothing is left; a blocking socket would hang it on the last read.
    const int flags = fd < 0 ? -1 : ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return fail("the system's device announcements cannot be received", errno);
    impl_->fd = fd;
    return true;
}

bool SerialPortMonitor::IsOpen() const {
    return impl_->fd >= 0;
}

intptr_t SerialPortMonitor::Handle() const {
    return impl_->fd;
}

std::vector<SerialPortEvent> SerialPortMonitor::Take() {
    struct ActionRow {
        const char* action;
        SerialPortChange change;
    };
    // "change", "bind" and the like leave the set of devices as it is.
    static constexpr ActionRow kActions[] = {{"add", SerialPortChange::Added},
                                             {"remove", SerialPortChange::Removed}};
    std::vector<SerialPortEvent> events;
    if (!IsOpen()) return events;
    ByIdFolder byId;
    while (UdevPtr<udev_device> d{udev_monitor_receive_device(impl_->monitor.get())}) {
        const std::string action = Text(udev_device_get_action(d.get()));
        for (const ActionRow& row : kActions)
            if (action == row.action) events.push_back({row.change, FactsOf(d.get(), byId)});
    }
    return events;
}
