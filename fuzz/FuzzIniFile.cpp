// Any settings file: parsing never crashes, and what is written back reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    IniFile ini;
    ini.Parse(text);
    (void)ini.GetString("SERIAL-PORT", "PORT", "COM1");
    (void)ini.Keys("DEVICES");
    ini.Set("SERIAL-PORT", "PORT", "COM3");
    const std::string once = ini.Serialize();
    IniFile again;
    again.Parse(once);
    if (again.Get("SERIAL-PORT", "PORT") != ini.Get("SERIAL-PORT", "PORT")) std::abort();
    return 0;
}
