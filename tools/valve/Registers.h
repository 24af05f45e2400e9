#pragma once
#include <array>

#include "ValveTypes.h"

namespace valve {

// A setting the valve simply keeps: the write command stores the data byte (within its range,
// otherwise the valve refuses it with NAK), the read command, where there is one, returns it.
struct RegisterDef {
    const char* writeName;
    uint8_t writeCmd;
    const char* readName; // nullptr: the setting cannot be read back
    uint8_t readCmd;
    uint8_t initial;
    uint8_t min;
    uint8_t max;
};

// Write commands of the registers, for the code that uses their values.
enum RegisterCmd : uint8_t {
    REG_SETPOINT_BEGIN = 29,   // SBS, setpoint x 2
    REG_SETPOINT_END = 31,     // SES, setpoint x 2
    REG_ACQUISITION_TIME = 33, // ATS, s
    REG_SAMPLE_PERIOD = 39,    // PRS, ms
    REG_ANALOG_SELECT = 42,    // ACS
    REG_OUTSIDE_TEMP = 83,     // CTS, deg C
    REG_RAMP_TIME = 86,        // RSS, s x 10: ramp of a recording and segment of the test function
    REG_SPAN_DP_LOW = 87,      // PLS
    REG_SPAN_DP_HIGH = 89,     // PHS
    REG_SPAN_P2_LOW = 91,      // OLS
    REG_SPAN_P2_HIGH = 93,     // OHS
    REG_OFFSET_P2_PWM = 147,   // ORS
    REG_OFFSET_DP_PWM = 149,   // ODS
};

class Registers {
public:
    Registers();

    static std::span<const RegisterDef> All();
    static const RegisterDef* OfWrite(uint8_t cmd);
    static const RegisterDef* OfRead(uint8_t cmd);

    // false: out of range, nothing stored.
    bool Write(uint8_t writeCmd, uint8_t data);
    uint8_t Get(uint8_t writeCmd) const { return values_[writeCmd]; }

private:
    std::array<uint8_t, 256> values_{};
};

} // namespace valve
