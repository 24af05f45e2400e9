#include "settings/ParameterIni.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>

#include "settings/IniFile.h"

namespace {
size_t SkipBlanks(const std::string& t) {
    size_t i = 0;
    while (i < t.size() &&
           (t[i] == ' ' || t[i] == '\t' || t[i] == '\n' || t[i] == '\r' || t[i] == '\f' || t[i] == '\v'))
        ++i;
    return i;
}

int32_t ClampToInt32(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

} // namespace

std::string ParameterIniPath(const std::string& folder) {
    return folder.empty() ? std::string(kParameterIniFile) : folder + "/" + kParameterIniFile;
}

int32_t IniToInt(const std::string& text) {
    size_t i = SkipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    // Saturate instead of overflowing: a value of twenty digits is limited, not wrapped.
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (v < (int64_t{1} << 40)) v = v * 10 + (text[i] - '0');
    return ClampToInt32(negative ? -v : v);
}

double IniToDouble(const std::string& text) {
    size_t i = SkipBlanks(text);
    if (i < text.size() && text[i] == '+') ++i;
    double v = 0;
    const auto r = std::from_chars(text.data() + i, text.data() + text.size(), v);
    // "inf" and "nan" would go on into the project and the valve; they are not numbers a user means.
    if (r.ec != std::errc() || !std::isfinite(v)) return 0;
    return v;
}

std::string IniFixed(double value, int decimals) {
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
}

void ReadParameterIni(const IniFile& ini, ParameterBlock& block, VisibilityFlagArray& flags) {
    const auto rows = IniParameters();
    for (size_t i = 0; i < rows.size(); ++i) {
        const ParameterDescription& row = rows[i];
        const char* section = PageSection(row.page);
        flags[i] = ini.GetString(section, row.name, "SHOW") == "SHOW" ? 1 : 0;
        const std::string text = ini.GetString(section, std::string("VALUE_") + row.name, row.iniDefault);
        switch (row.ini) {
        case IniConv::NotInFile:
        case IniConv::Int:
            SetInt(block, row.offset, IniToInt(text));
            break;
        case IniConv::Fixed1:
        case IniConv::Fixed2:
            SetFloat(block, row.offset, static_cast<float>(IniToDouble(text)));
            break;
        case IniConv::DelaySeconds:
            SetInt(block, row.offset, ClampToInt32((int64_t{IniToInt(text)} - 5) / 5));
            break;
        case IniConv::CoilOffSeconds:
            SetInt(block, row.offset, ClampToInt32((int64_t{IniToInt(text)} - 2) / 2));
            break;
        case IniConv::CoilOnSeconds: {
            // The file's seconds are compared exactly; anything else is the first entry.
            const double s = IniToDouble(text);
            int32_t index = 0;
            for (int32_t k = 1; k < ChoiceCount(row); ++k)
                if (s == IndexSeconds(row.ini, k)) index = k;
            SetInt(block, row.offset, index);
            break;
        }
        }
    }
    block.PARAMETER_SET = 0;
}

void StoreParameterIni(IniFile& ini, const ParameterBlock& block, const VisibilityFlagArray& flags) {
    const auto rows = IniParameters();
    for (size_t i = 0; i < rows.size(); ++i) {
        const ParameterDescription& row = rows[i];
        const char* section = PageSection(row.page);
        ini.Set(section, row.name, flags[i] == 1 ? "SHOW" : "HIDE");
        const int64_t index = row.type == FieldType::Float ? 0 : GetInt(block, row.offset);
        std::string value;
        switch (row.ini) {
        case IniConv::NotInFile:
        case IniConv::Int:
            value = std::to_string(index);
            break;
        case IniConv::Fixed1:
            value = IniFixed(GetFloat(block, row.offset), 1);
            break;
        case IniConv::Fixed2:
            value = IniFixed(GetFloat(block, row.offset), 2);
            break;
        case IniConv::DelaySeconds:
        case IniConv::CoilOffSeconds:
            value = std::to_string(static_cast<int64_t>(IndexSeconds(row.ini, index)));
            break;
        case IniConv::CoilOnSeconds:
            value = IniFixed(IndexSeconds(row.ini, index), 1);
            break;
        }
        ini.Set(section, std::string("VALUE_") + row.name, value);
    }
}

bool ReadParameterIniFile(const std::string& folder, ParameterBlock& block, VisibilityFlagArray& flags,
                          std::string* error) {
    IniFile ini;
    const bool ok = ini.Load(ParameterIniPath(folder), error);
    ReadParameterIni(ini, block, flags);
    return ok;
}

bool WriteParameterIniFile(const std::string& folder, const ParameterBlock& block,
                           const VisibilityFlagArray& flags, std::string* error) {
    IniFile ini;
    const std::string path = ParameterIniPath(folder);
    if (!ini.Load(path, error)) return false;
    StoreParameterIni(ini, block, flags);
    return ini.Save(path, error);
}
