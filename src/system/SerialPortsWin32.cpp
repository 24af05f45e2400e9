// The serial ports the system names COM1, COM2, ...: the DOS device names it keeps. Windows
// announces arrivals to windows only, so there is no monitor here; the port list is read afresh.
#include "system/SerialPorts.h"
#include "system/Win32.h"

#include <cwctype>
#include <vector>

namespace {
bool IsComName(const std::wstring& name) {
    if (name.size() < 4 || name.compare(0, 3, L"COM") != 0) return false;
    for (size_t i = 3; i < name.size(); ++i)
        if (!std::iswdigit(name[i])) return false;
    return true;
}

// What the name stands for ("\Device\Serial0"): the driver's device, shown as the driver.
std::string TargetOf(const std::wstring& name) {
    wchar_t target[1024] = {};
    if (!::QueryDosDeviceW(name.c_str(), target, 1024)) return "";
    return Utf8FromWide(target);
}
} // namespace

std::vector<SerialPortFacts> ListSerialPortFacts(std::string* error) {
    std::vector<wchar_t> names(65536);
    for (;;) {
        if (::QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size())) != 0) break;
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() > (1u << 22)) {
            if (error) *error = "the system's device names cannot be read";
            return {};
        }
        names.resize(names.size() * 2);
    }
    std::vector<SerialPortFacts> ports;
    for (const wchar_t* n = names.data(); *n; n += std::wcslen(n) + 1) {
        std::wstring name(n);
        for (wchar_t& c : name)
            c = static_cast<wchar_t>(std::towupper(c));
        if (!IsComName(name)) continue;
        SerialPortFacts f;
        f.node = "\\\\.\\" + Utf8FromWide(name.c_str());
        f.driver = TargetOf(name);
        if (f.driver.empty()) f.driver = "serial";
        f.hasDevice = true;
        ports.push_back(std::move(f));
    }
    return ports;
}

struct SerialPortMonitor::Impl {};

SerialPortMonitor::SerialPortMonitor() = default;
SerialPortMonitor::~SerialPortMonitor() = default;

bool SerialPortMonitor::Open(std::string* error) {
    if (error) *error = "this system announces no serial port arrivals to a console program";
    return false;
}

bool SerialPortMonitor::IsOpen() const {
    return false;
}

intptr_t SerialPortMonitor::Handle() const {
    return -1;
}

std::vector<SerialPortEvent> SerialPortMonitor::Take() {
    return {};
}
