#include "settings/ComSettings.h"

#include <algorithm>
#include <cctype>

#include "settings/IniFile.h"
#include "system/Files.h"

namespace {
constexpr const char* kSection = "SERIAL-PORT";
constexpr const char* kPortKey = "PORT";
constexpr const char* kDevicesSection = "DEVICES";
constexpr const char* kSpeedsSection = "SPEEDS";
constexpr int kSpeeds[] = {19200, 57600};
constexpr const char* kScopeSection = "SCOPE";
constexpr const char* kStepFiguresKey = "STEP_FIGURES";
constexpr const char* kComNames[kComPortCount] = {"COM1", "COM2", "COM3", "COM4",
                                                  "COM5", "COM6", "COM7", "COM8"};
// A value as it can be shown in one line: control bytes and junk become '?', long values are cut.
std::string Printable(const std::string& v) {
    std::string out;
    for (char c : v.substr(0, 40))
        out += (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) ? '?' : c;
    return v.size() > 40 ? out + "..." : out;
}
} // namespace

const char* ComName(int portIndex) {
    return (portIndex >= 0 && portIndex < kComPortCount) ? kComNames[portIndex] : kComNames[0];
}

std::string DefaultDevicePath(int portIndex) {
    if (portIndex < 0 || portIndex >= kComPortCount) portIndex = 0;
    return DefaultSerialDevicePath(portIndex);
}

std::string ComSettingsPath(const std::string& folder) {
    if (folder.empty()) return kComSettingsFile;
    if (folder.back() == '/') return folder + kComSettingsFile;
    return folder + "/" + kComSettingsFile;
}

ComSettings ReadComSettings(const std::string& folder, std::string* error) {
    ComSettings settings;
    IniFile ini;
    const std::string path = ComSettingsPath(folder);
    if (!ini.Load(path, error)) return settings;

    const std::optional<std::string> port = ini.Get(kSection, kPortKey);
    bool known = false;
    for (int i = 0; i < kComPortCount; ++i)
        if (port && *port == kComNames[i]) {
            settings.PortIndex = i;
            known = true;
        }
    for (int i = 0; i < kComPortCount; ++i) {
        std::optional<std::string> device = ini.Get(kDevicesSection, kComNames[i]);
        // A path with a NUL would be opened cut short, i.e. as some other device; one longer than
        // any path cannot be opened at all. Either way the user's intent is unknown.
        if (!device || device->empty() || device->find('\0') != std::string::npos ||
            device->size() >= PathLengthLimit())
            continue;
        settings.DevicePath[static_cast<size_t>(i)] = std::move(*device);
        settings.Named[static_cast<size_t>(i)] = true;
    }
    // Keys are found regardless of case, so of two spellings of one path only the first counts.
    for (const std::string& device : ini.Keys(kSpeedsSection)) {
        const std::optional<std::string> value = ini.Get(kSpeedsSection, device);
        for (int baud : kSpeeds)
            if (value == std::to_string(baud)) settings.Speeds[device] = baud;
    }
    settings.HistoryDatabase = ini.Get("HISTORY", "DATABASE").value_or("");
    // A line that asks for recording is not let off by a value spelt otherwise than 1.
    const std::string required = ini.Get("HISTORY", "REQUIRED").value_or("");
    settings.HistoryRequired = !required.empty() && required != "0";
    settings.StepFigures = ini.Get(kScopeSection, kStepFiguresKey).value_or("1") != "0";
    if (!known && PathExists(path)) {
        const std::string what =
            !port ? "names no port ([SERIAL-PORT] PORT=COM1 .. COM8 is missing)"
                  : "names the port '" + Printable(*port) + "', which is none of COM1 .. COM8";
        settings.warning = path + " " + what + "; COM1 (" + settings.DevicePath[0] + ") is used instead.";
    }

    return settings;
}

bool WriteComSettings(const std::string& folder, int portIndex, std::string* error) {
    const std::string path = ComSettingsPath(folder);
    IniFile ini;
    if (!ini.Load(path, error)) return false;
    ini.Set(kSection, kPortKey, ComName(portIndex));
    return ini.Save(path, error);
}

bool WriteComDevice(const std::string& folder, int portIndex, const std::string& device, std::string* error) {
    // Reading trims the value, so a path with blanks at its ends would come back as another one.
    const bool blankEnd = !device.empty() && (std::isspace(static_cast<unsigned char>(device.front())) ||
                                              std::isspace(static_cast<unsigned char>(device.back())));
    IniFile ini;
    const std::string path = ComSettingsPath(folder);
    if (portIndex < 0 || portIndex >= kComPortCount || device.empty() || blankEnd ||
        device.size() >= PathLengthLimit() || !ini.Set(kDevicesSection, kComNames[portIndex], device)) {
        if (error)
            *error = "'" + Printable(device) + "' cannot be stored as the device of " + ComName(portIndex);
        return false;
    }
    if (!ini.Load(path, error)) return false;
    ini.Set(kDevicesSection, kComNames[portIndex], device);
    return ini.Save(path, error);
}

bool WriteStepFigures(const std::string& folder, bool shown, std::string* error) {
    const std::string path = ComSettingsPath(folder);
    IniFile ini;
    if (!ini.Load(path, error)) return false;
    ini.Set(kScopeSection, kStepFiguresKey, shown ? "1" : "0");
    return ini.Save(path, error);
}

int RememberedSpeed(const ComSettings& settings, const std::string& devicePath) {
    const auto it = settings.Speeds.find(devicePath);
    return it == settings.Speeds.end() ? 0 : it->second;
}

bool WriteRememberedSpeed(const std::string& folder, const std::string& devicePath, int baud,
                          std::string* error) {
    if (baud != kSpeeds[0] && baud != kSpeeds[1]) {
        if (error) *error = std::to_string(baud) + " is no line speed of the valve";
        return false;
    }
    const std::string path = ComSettingsPath(folder);
    const bool existed = PathExists(path);
    IniFile ini;
    if (!ini.Load(path, error)) return false;
    // The file reads keys without their blanks at either end.
    if (devicePath.empty() || std::isspace(static_cast<unsigned char>(devicePath.front())) ||
        std::isspace(static_cast<unsigned char>(devicePath.back())))
        return true;
    const std::optional<std::string> old = ini.Get(kSpeedsSection, devicePath);
    const std::vector<std::string> keys = ini.Keys(kSpeedsSection);
    // Found, but under another spelling: another path but for letter case, whose entry Set would change.
    if (old && std::find(keys.begin(), keys.end(), devicePath) == keys.end()) return true;
    const std::string value = std::to_string(baud);
    if (old == value) return true;
    if (!existed) ini.Set(kSection, kPortKey, ComName(0));
    if (!ini.Set(kSpeedsSection, devicePath, value)) return true;
    return ini.Save(path, error);
}
