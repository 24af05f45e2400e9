#include "settings/ComSettings.h"

#include "settings/IniFile.h"

#include <climits>

namespace {
constexpr const char* kSection = "SERIAL-PORT";
constexpr const char* kPortKey = "PORT";
constexpr const char* kDevicesSection = "DEVICES";
constexpr const char* kComNames[kComPortCount] = {"COM1", "COM2", "COM3", "COM4",
                                                  "COM5", "COM6", "COM7", "COM8"};
} // namespace

const char* ComName(int portIndex) {
    return (portIndex >= 0 && portIndex < kComPortCount) ? kComNames[portIndex] : kComNames[0];
}

std::string DefaultDevicePath(int portIndex) {
    if (portIndex < 0 || portIndex >= kComPortCount) portIndex = 0;
    return "/dev/ttyS" + std::to_string(portIndex);
}

std::string ComSettingsPath(const std::string& folder) {
    if (folder.empty()) return kComSettingsFile;
    if (folder.back() == '/') return folder + kComSettingsFile;
    return folder + "/" + kComSettingsFile;
}

ComSettings ReadComSettings(const std::string& folder, std::string* error) {
    ComSettings settings;
    IniFile ini;
    if (!ini.Load(ComSettingsPath(folder), error)) return settings;

    const std::string port = ini.GetString(kSection, kPortKey, "COM1", 99);
    for (int i = 0; i < kComPortCount; ++i)
        if (port == kComNames[i]) settings.PortIndex = i;

    for (int i = 0; i < kComPortCount; ++i) {
        std::optional<std::string> device = ini.Get(kDevicesSection, kComNames[i]);
        // A path with a NUL would be opened cut short, i.e. as some other device; one longer than
        // any path cannot be opened at all. Either way the user's intent is unknown.
        if (!device || device->empty() || device->find('\0') != std::string::npos ||
            device->size() >= PATH_MAX)
            continue;
        settings.DevicePath[static_cast<size_t>(i)] = std::move(*device);
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
