#include "Registers.h"

namespace valve {

namespace {
constexpr RegisterDef DEFINITIONS[] = {
    {"PRS", REG_SAMPLE_PERIOD, nullptr, 0, 4, 4, 255},  {"ACS", REG_ANALOG_SELECT, "ACR", 43, 0x00, 0, 0x7F},
    {"ATS", REG_ACQUISITION_TIME, "ATR", 34, 8, 1, 60}, {"SBS", REG_SETPOINT_BEGIN, "SBR", 30, 20, 0, 200},
    {"SES", REG_SETPOINT_END, "SER", 32, 180, 0, 200},  {"RSS", REG_RAMP_TIME, nullptr, 0, 50, 0, 255},
    {"CTS", REG_OUTSIDE_TEMP, "CTR", 84, 23, 0, 255},   {"OLS", REG_SPAN_P2_LOW, "OLR", 92, 0xBC, 0, 255},
    {"OHS", REG_SPAN_P2_HIGH, "OHR", 94, 0x0A, 0, 255}, {"PLS", REG_SPAN_DP_LOW, "PLR", 88, 0xD0, 0, 255},
    {"PHS", REG_SPAN_DP_HIGH, "PHR", 90, 0x07, 0, 255}, {"ORS", REG_OFFSET_P2_PWM, "OPR", 148, 40, 0, 255},
    {"ODS", REG_OFFSET_DP_PWM, "ODR", 150, 42, 0, 255},
};
} // namespace

Registers::Registers() {
    for (const RegisterDef& s : DEFINITIONS)
        values_[s.writeCmd] = s.initial;
}

std::span<const RegisterDef> Registers::All() {
    return DEFINITIONS;
}

const RegisterDef* Registers::OfWrite(uint8_t cmd) {
    for (const RegisterDef& s : DEFINITIONS)
        if (s.writeCmd == cmd) return &s;
    return nullptr;
}

const RegisterDef* Registers::OfRead(uint8_t cmd) {
    for (const RegisterDef& s : DEFINITIONS)
        if (s.readName != nullptr && s.readCmd == cmd) return &s;
    return nullptr;
}

bool Registers::Write(uint8_t writeCmd, uint8_t data) {
    const RegisterDef* s = OfWrite(writeCmd);
    if (s == nullptr || data < s->min || data > s->max) return false;
    values_[writeCmd] = data;
    return true;
}

} // namespace valve
