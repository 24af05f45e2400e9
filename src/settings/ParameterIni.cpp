#include "settings/ParameterIni.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>

#include "settings/IniFile.h"

namespace {
#define ROW(section, key, type, def)                                                                         \
    IniParameterRow {                                                                                        \
        section, #key, IniValueType::type, def, offsetof(ParameterBlock, key)                                \
    }

constexpr const char* CONTROL = "CONTROL_PARAMETER";
constexpr const char* SETPOINT = "SETPOINT_PARAMETER";
constexpr const char* ANALOG = "ANALOG_IN_OUT_PARAMETER";
constexpr const char* AUTOSAFE_S = "AUTOSAFE_PARAMETER";
constexpr const char* DIGITAL = "DIGITAL_INPUT_PARAMETER";
constexpr const char* DISPLAY = "DISPLAY_KEYS_PARAMETER";
constexpr const char* PRESSURE = "PRESSURE_SWITCH_PARAMETER";
constexpr const char* ERROR_S = "ERROR_PARAMETER";

const std::array<IniParameterRow, kIniParameterCount> ROWS{
    ROW(CONTROL, PROPORTIONAL_GAIN, Fixed2, "1.00"),
    ROW(CONTROL, FORWARD_OFFSET, Int, "0"),
    ROW(CONTROL, INTEGRATION_TIME, Fixed2, "0.1"),
    ROW(CONTROL, FORWARD_GAIN, Fixed2, "1.00"),
    ROW(CONTROL, DERIVATION_TIME, Int, "0"),
    ROW(CONTROL, INTEGRATION_LIMIT, Int, "0"),
    ROW(CONTROL, DEAD_BAND, Fixed1, "0.1"),
    ROW(CONTROL, PWM_FREQUENCY, Int, "20"),
    ROW(CONTROL, CONTROL_CYCLE_TIME, Int, "1"),
    ROW(CONTROL, CONTROLLER_STRUCTURE, Int, "0"),
    ROW(CONTROL, I_VALUE, Int, "0"),
    ROW(CONTROL, I_SEARCH, Int, "0"),
    ROW(CONTROL, I_SEARCH_RAMPTIME, Int, "0"),
    ROW(CONTROL, I_SEARCH_FEEDBACK_THRESHOLD, Int, "0"),
    ROW(SETPOINT, SETPOINT_SIGNAL, Int, "0"),
    ROW(SETPOINT, SETPOINT_DIRECTION, Int, "0"),
    ROW(SETPOINT, SHUT_OFF, Int, "0"),
    ROW(SETPOINT, SHUT_OFF_LEVEL, Fixed1, "0.0"),
    ROW(SETPOINT, SETPOINT_ADJUSTMENT, Int, "0"),
    ROW(SETPOINT, SETPOINT_OFFSET, Int, "-50"),
    ROW(SETPOINT, SETPOINT_SPAN, Int, "50"),
    ROW(SETPOINT, SETPOINT_SELECTION, Int, "0"),
    ROW(SETPOINT, RAMP_FUNCTION, Int, "0"),
    ROW(SETPOINT, RAMP_RISE_TIME, Fixed1, "0.0"),
    ROW(SETPOINT, RAMP_FALL_TIME, Fixed1, "0.0"),
    ROW(ANALOG, ANALOG_OUT_SELECT, Int, "0"),
    ROW(ANALOG, FEEDBACK_SELECT, Int, "0"),
    ROW(ANALOG, AUTO_ZERO_FEEDBACK, Int, "1"),
    ROW(ANALOG, AUTO_ZERO_DP_FEEDBACK, Int, "1"),
    ROW(ANALOG, ANALOG_IN_2_SIGNAL, Int, "0"),
    ROW(ANALOG, ANALOG_IN_2_DIRECTION, Int, "0"),
    ROW(AUTOSAFE_S, AUTOSAFE, Int, "0"),
    ROW(AUTOSAFE_S, OVERTEMPERATURE, Int, "0"),
    ROW(AUTOSAFE_S, OVERTEMPERATURE_LIMIT, Int, "50"),
    ROW(AUTOSAFE_S, DELAY_TIME, DelaySeconds, "5"),
    ROW(AUTOSAFE_S, COIL_ON_TIME, CoilOnSeconds, "0.5"),
    ROW(AUTOSAFE_S, COIL_OFF_TIME, CoilOffSeconds, "2"),
    ROW(AUTOSAFE_S, OPTION_INPUT_PRESSURE_SENSOR, Int, "0"),
    ROW(AUTOSAFE_S, INPUT_PRESSURE_LIMIT, Int, "0"),
    ROW(AUTOSAFE_S, AUTOSAFE_SOURCE, Int, "0"),
    ROW(AUTOSAFE_S, CURRENT_LIMIT_LEVEL, Int, "100"),
    ROW(DIGITAL, SELECT_FUNCTION, Int, "0"),
    ROW(DIGITAL, SELECT_POLARITY, Int, "0"),
    ROW(DISPLAY, DISPLAY_SELECT, Int, "0"),
    ROW(DISPLAY, KEY_LOCK, Int, "0"),
    ROW(DISPLAY, KEY_FUNCTION, Int, "0"),
    ROW(DISPLAY, LED_GREEN, Int, "0"),
    ROW(DISPLAY, LED_YELLOW, Int, "0"),
    ROW(DISPLAY, LED_RED, Int, "0"),
    ROW(PRESSURE, PRESSURE_SWITCH_OUTPUT_SOURCE, Int, "0"),
    ROW(PRESSURE, OUTPUT_DELAY, Fixed1, "0.0"),
    ROW(PRESSURE, OUTPUT_MODE, Int, "0"),
    ROW(PRESSURE, WINDOW_SIZE, Fixed1, "3.0"),
    ROW(PRESSURE, LIMIT_SIZE, Fixed1, "0.0"),
    ROW(PRESSURE, LIMIT_HYSTERESIS, Fixed1, "0.0"),
    ROW(ERROR_S, ERROR_SELECT, Int, "0"),
    ROW(ERROR_S, SETPOINT_RANGE_DETECTION, Int, "0"),
};
#undef ROW

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

bool IsFloat(IniValueType t) {
    return t == IniValueType::Fixed1 || t == IniValueType::Fixed2;
}
} // namespace

const std::array<IniParameterRow, kIniParameterCount>& IniParameterRows() {
    return ROWS;
}

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
    for (size_t i = 0; i < ROWS.size(); ++i) {
        const IniParameterRow& row = ROWS[i];
        flags[i] = ini.GetString(row.section, row.key, "SHOW") == "SHOW" ? 1 : 0;
        const std::string text = ini.GetString(row.section, std::string("VALUE_") + row.key, row.def);
        switch (row.type) {
        case IniValueType::Int:
            SetInt(block, row.offset, IniToInt(text));
            break;
        case IniValueType::Fixed1:
        case IniValueType::Fixed2:
            SetFloat(block, row.offset, static_cast<float>(IniToDouble(text)));
            break;
        case IniValueType::DelaySeconds:
            SetInt(block, row.offset, ClampToInt32((int64_t{IniToInt(text)} - 5) / 5));
            break;
        case IniValueType::CoilOffSeconds:
            SetInt(block, row.offset, ClampToInt32((int64_t{IniToInt(text)} - 2) / 2));
            break;
        case IniValueType::CoilOnSeconds: {
            const double s = IniToDouble(text);
            SetInt(block, row.offset, s == 1.0 ? 1 : s == 2.0 ? 2 : s == 4.0 ? 3 : 0);
            break;
        }
        }
    }
    block.PARAMETER_SET = 0;
}

void StoreParameterIni(IniFile& ini, const ParameterBlock& block, const VisibilityFlagArray& flags) {
    for (size_t i = 0; i < ROWS.size(); ++i) {
        const IniParameterRow& row = ROWS[i];
        ini.Set(row.section, row.key, flags[i] == 1 ? "SHOW" : "HIDE");
        std::string value;
        const int64_t index = IsFloat(row.type) ? 0 : GetInt(block, row.offset);
        switch (row.type) {
        case IniValueType::Int:
            value = std::to_string(index);
            break;
        case IniValueType::Fixed1:
            value = IniFixed(GetFloat(block, row.offset), 1);
            break;
        case IniValueType::Fixed2:
            value = IniFixed(GetFloat(block, row.offset), 2);
            break;
        case IniValueType::DelaySeconds:
            value = std::to_string(5 + 5 * index);
            break;
        case IniValueType::CoilOffSeconds:
            value = std::to_string(2 + 2 * index);
            break;
        case IniValueType::CoilOnSeconds:
            // 0.5 * 2^index; an index far outside the list must not overflow the text.
            value = IniFixed(index < -60 || index > 60 ? 0.5 : std::ldexp(0.5, static_cast<int>(index)), 1);
            break;
        }
        ini.Set(row.section, std::string("VALUE_") + row.key, value);
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
