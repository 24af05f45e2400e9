#include "params/ParameterBlock.h"

#include <cstdio>
#include <cstring>

namespace {
using T = FieldType;
#define F(name, type, unit, fmt, mn, mx, st, def)                                                            \
    { #name, offsetof(ParameterBlock, name), type, unit, fmt, mn, mx, st, def }
const std::array<ParameterField, 62> FIELDS = {{
    F(BLOCK_VALID, T::Int, "", "%d", 0, 1, 1, 0),
    F(PARAMETER_SET, T::Int, "", "", 0, 1, 1, 0),
    F(FORWARD_OFFSET, T::Int, "%", "%d", 0, 80, 1, 0),
    F(FORWARD_GAIN, T::Float, "", "%1.2f", 0.0, 2.5, 0.01, 1.0),
    F(PROPORTIONAL_GAIN, T::Float, "", "%1.2f", 0.01, 2.0, 0.01, 1.0),
    F(INTEGRATION_TIME, T::Float, "s", "%1.2f", 0.05, 10.0, 0.05, 0.1),
    F(INTEGRATION_LIMIT, T::Int, "%", "%d", 0, 100, 1, 0),
    F(DEAD_BAND, T::Float, "%", "%1.1f", 0.1, 10.0, 0.1, 0.1),
    F(DERIVATION_TIME, T::Int, "ms", "%d", 0, 255, 1, 0),
    F(PWM_FREQUENCY, T::Int, "Hz", "%d", 20, 2000, 10, 20),
    F(CONTROL_CYCLE_TIME, T::Int, "ms", "%d", 1, 100, 1, 1),
    F(CONTROLLER_STRUCTURE, T::Int, "", "", 0, 7, 1, 0),
    F(SETPOINT_SIGNAL, T::Int, "", "", 0, 2, 1, 0),
    F(SETPOINT_DIRECTION, T::Int, "", "", 0, 1, 1, 0),
    F(SHUT_OFF, T::Int, "", "", 0, 1, 1, 0),
    F(SHUT_OFF_LEVEL, T::Float, "%", "%1.1f", 0.0, 10.0, 0.1, 0.0),
    F(SETPOINT_ADJUSTMENT, T::Int, "", "", 0, 1, 1, 0),
    F(SETPOINT_OFFSET, T::Int, "%", "%d", -50, 50, 1, -50),
    F(SETPOINT_SPAN, T::Int, "%", "%d", 10, 150, 1, 50),
    F(SETPOINT_SELECTION, T::Int, "", "", 0, 1, 1, 0),
    F(RAMP_FUNCTION, T::Int, "", "", 0, 3, 1, 0),
    F(RAMP_RISE_TIME, T::Float, "s", "%1.1f", 0.0, 20.0, 0.1, 0.0),
    F(RAMP_FALL_TIME, T::Float, "s", "%1.1f", 0.0, 20.0, 0.1, 0.0),
    F(ANALOG_OUT_SELECT, T::Int, "", "", 0, 7, 1, 0),
    F(FEEDBACK_SELECT, T::Int, "", "", 0, 1, 1, 0),
    F(AUTO_ZERO_FEEDBACK, T::Int, "", "", 0, 1, 1, 1),
    F(AUTO_ZERO_VALUE, T::Int, "", "%d", -128, 127, 1, 0),
    F(ANALOG_IN_2_SIGNAL, T::Int, "", "", 0, 2, 1, 0),
    F(ANALOG_IN_2_DIRECTION, T::Int, "", "", 0, 1, 1, 0),
    F(AUTOSAFE, T::Int, "", "", 0, 1, 1, 0),
    F(OVERTEMPERATURE, T::Int, "", "", 0, 1, 1, 0),
    F(OVERTEMPERATURE_LIMIT, T::Int, "degrees C", "%d", 50, 120, 1, 50),
    F(AUTOSAFE_SOURCE, T::Int, "", "", 0, 1, 1, 0),
    F(CURRENT_LIMIT_LEVEL, T::Int, "mA", "%d", 100, 2000, 10, 100),
    F(OPTION_INPUT_PRESSURE_SENSOR, T::Int, "", "", 0, 3, 1, 0),
    F(INPUT_PRESSURE_LIMIT, T::Int, "%", "%d", 0, 100, 1, 0),
    F(DELAY_TIME, T::Int, "", "", 0, 7, 1, 0),
    F(COIL_ON_TIME, T::Int, "", "", 0, 3, 1, 0),
    F(COIL_OFF_TIME, T::Int, "", "", 0, 7, 1, 0),
    F(SELECT_FUNCTION, T::Int, "", "", 0, 7, 1, 0),
    F(SELECT_POLARITY, T::Int, "", "", 0, 1, 1, 0),
    F(DISPLAY_SELECT, T::Int, "", "", 0, 7, 1, 0),
    F(KEY_LOCK, T::Int, "", "", 0, 1, 1, 0),
    F(KEY_FUNCTION, T::Int, "", "", 0, 3, 1, 0),
    F(LED_YELLOW, T::Int, "", "", 0, 3, 1, 0),
    F(LED_GREEN, T::Int, "", "", 0, 3, 1, 0),
    F(LED_RED, T::Int, "", "", 0, 3, 1, 0),
    F(PRESSURE_SWITCH_OUTPUT_SOURCE, T::Int, "", "", 0, 3, 1, 0),
    F(OUTPUT_DELAY, T::Float, "s", "%1.1f", 0.0, 10.0, 0.1, 0.0),
    F(OUTPUT_MODE, T::Int, "", "", 0, 1, 1, 0),
    F(WINDOW_SIZE, T::Float, "%", "%1.1f", 3.0, 20.0, 0.1, 3.0),
    F(LIMIT_SIZE, T::Float, "%", "%1.1f", 0.0, 100.0, 0.5, 0.0),
    F(LIMIT_HYSTERESIS, T::Float, "%", "%1.1f", 0.0, 10.0, 0.1, 0.0),
    F(ERROR_SELECT, T::Int, "", "", 0, 7, 1, 0),
    F(SETPOINT_RANGE_DETECTION, T::Int, "", "", 0, 3, 1, 0),
    F(I_VALUE, T::Int, "", "", 0, 1, 1, 0),
    F(SLAVE_GAIN, T::Float, "", "%1.2f", 0.01, 1.0, 0.01, 0.0),
    F(I_SEARCH, T::Int, "", "", 0, 1, 1, 0),
    F(I_SEARCH_RAMPTIME, T::Int, "ms", "%d", 0, 255, 1, 0),
    F(I_SEARCH_FEEDBACK_THRESHOLD, T::Int, "%", "%d", 0, 100, 1, 0),
    F(AUTO_ZERO_DP_FEEDBACK, T::Int, "", "", 0, 1, 1, 1),
    F(AUTO_ZERO_DP_VALUE, T::Int, "", "%d", -128, 127, 1, 0),
}};
#undef F
} // namespace

const std::array<ParameterField, 62>& ParameterFields() {
    return FIELDS;
}

const ParameterField* FindParameterField(const std::string& name) {
    for (const auto& f : FIELDS)
        if (name == f.name) return &f;
    return nullptr;
}

// The record is accessed by offset through memcpy: the slots are little-endian on every target we
// build for, and memcpy keeps the compiler's aliasing rules intact.
int32_t GetInt(const ParameterBlock& b, uint16_t offset) {
    int32_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&b) + offset, 4);
    return v;
}

float GetFloat(const ParameterBlock& b, uint16_t offset) {
    float v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&b) + offset, 4);
    return v;
}

void SetInt(ParameterBlock& b, uint16_t offset, int32_t v) {
    std::memcpy(reinterpret_cast<uint8_t*>(&b) + offset, &v, 4);
}

void SetFloat(ParameterBlock& b, uint16_t offset, float v) {
    std::memcpy(reinterpret_cast<uint8_t*>(&b) + offset, &v, 4);
}

double GetValue(const ParameterBlock& b, const ParameterField& f) {
    return f.type == FieldType::Float ? static_cast<double>(GetFloat(b, f.offset)) : GetInt(b, f.offset);
}

std::string FormatValue(const ParameterBlock& b, const ParameterField& f) {
    char buf[64];
    if (f.type == FieldType::Float)
        std::snprintf(buf, sizeof buf, f.format, static_cast<double>(GetFloat(b, f.offset)));
    else
        std::snprintf(buf, sizeof buf, "%d", GetInt(b, f.offset));
    return buf;
}

ParameterBlock DefaultParameterBlock() {
    ParameterBlock b{};
    for (const auto& f : FIELDS) {
        if (f.type == FieldType::Float)
            SetFloat(b, f.offset, static_cast<float>(f.def));
        else
            SetInt(b, f.offset, static_cast<int32_t>(f.def));
    }
    return b;
}

namespace {
struct FieldOptions {
    const char* name;
    const char* options; // the selection texts, index order, separated by '|'
};

const FieldOptions OPTIONS[] = {
    {"PARAMETER_SET", "Custom|Factory"},
    {"CONTROLLER_STRUCTURE",
     "P-Controller|PI-Controller|PD-Controller|PID-Controller|3 Range Pulse Controller|"
     "3 Range Proportional Pulse Controller|Cascaded control|Flow control"},
    {"SETPOINT_SIGNAL", "0 - 10 V|0 - 20 mA|4 - 20 mA"},
    {"SETPOINT_DIRECTION", "Normal (0 - 100%)|Inverse (100% - 0)"},
    {"SHUT_OFF", "Off|On"},
    {"SETPOINT_ADJUSTMENT", "Normal (0 - 100%)|Custom"},
    {"SETPOINT_SELECTION", "Setpoint 1|Analog Input 2"},
    {"RAMP_FUNCTION", "No Ramp|Rising Ramp|Falling Ramp|Rising + Falling Ramp"},
    {"FEEDBACK_SELECT", "Internal Sensor|Analog In 2"},
    {"AUTO_ZERO_FEEDBACK", "Off|On"},
    {"ANALOG_IN_2_SIGNAL", "0 - 10 V|0 - 20 mA|4 - 20 mA"},
    {"ANALOG_IN_2_DIRECTION", "Normal (0 - 100%)|Inverse (100% - 0)"},
    {"AUTOSAFE", "Off|On"},
    {"OVERTEMPERATURE", "Off|On"},
    {"AUTOSAFE_SOURCE", "Outside Window|Overcurrent"},
    {"OPTION_INPUT_PRESSURE_SENSOR", "Disabled|Autosafe|Outlet Pressure Decrease|Coil OFF"},
    {"DELAY_TIME", "5 s|10 s|15 s|20 s|25 s|30 s|35 s|40 s"},
    {"COIL_ON_TIME", "0.5 s|1.0 s|2.0 s|4.0 s"},
    {"COIL_OFF_TIME", "2 s|4 s|6 s|8 s|10 s|12 s|14 s|16 s"},
    {"SELECT_FUNCTION",
     "Disabled|Manual / Setpoint 1|Analog In 2 / Setpoint 1|Analog In 2 / Flow|Hold / Setpoint|"
     "Zero / Setpoint|Max / Setpoint|Auto-Tune"},
    {"SELECT_POLARITY", "high active|low active"},
    {"DISPLAY_SELECT", "Pressure in bar|Pressure in psi|Pressure in MPa|Flow in l/min|Flow in m\xC2\xB3/min|"
                       "Flow in cf/min|Analog In 2 in %|Analog Out in %"},
    {"KEY_LOCK", "Off|On"},
    {"KEY_FUNCTION", "Disabled|Manual Setpoint|Menu|Reserve"},
    {"LED_YELLOW", "Disabled|Communication|Manual Setpoint|Autosafe"},
    {"LED_GREEN", "Disabled|Digital OUT|Supply Volt.|Overtemp."},
    {"LED_RED", "Disabled|ERROR Signal|Range Signal|Und.-Over. Volt."},
    {"PRESSURE_SWITCH_OUTPUT_SOURCE",
     "Inside Window|Inside Window + under Alert Threshold|ERROR|ERROR + Outside Window"},
    {"OUTPUT_MODE", "Normal (high active)|Inverse (low active)"},
    {"ERROR_SELECT",
     "Off|Range|Inactive (Manual)|Overtemperature|Alert Threshold|Range + Inactive|"
     "Range + Inactive + Overtemperature|Range + Inactive + Overtemperature + Alert Threshold"},
    {"SETPOINT_RANGE_DETECTION", "Off|> 20 mA|< 4 mA|> 20 mA + < 4 mA"},
    {"I_VALUE", "Hold|Reset"},
    {"I_SEARCH", "On|Off"},
    {"AUTO_ZERO_DP_FEEDBACK", "Off|On"},
};
} // namespace

std::string OptionText(const ParameterField& f, int32_t value) {
    for (const auto& o : OPTIONS) {
        if (std::strcmp(o.name, f.name) != 0) continue;
        const char* p = o.options;
        for (int32_t i = 0; i < value && p; ++i) {
            p = std::strchr(p, '|');
            if (p) ++p;
        }
        if (value < 0 || !p) return "";
        const char* end = std::strchr(p, '|');
        return end ? std::string(p, end) : std::string(p);
    }
    return "";
}
