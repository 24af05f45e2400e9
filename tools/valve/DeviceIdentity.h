#pragma once
#include <array>

#include "ValveTypes.h"

namespace valve {

// What the valve knows about itself: part number, serial number, production date, firmware,
// hours in operation, and its electronics temperature, which rises after switch-on.
class DeviceIdentity {
public:
    static constexpr uint8_t FIRMWARE = 12;
    static constexpr uint32_t OPERATION_MINUTES_AT_START = 98765;
    static constexpr double START_TEMPERATURE = 24.0; // deg C
    static constexpr double WARM_TEMPERATURE = 38.0;
    static constexpr double WARM_UP_TIME = 600.0; // s, time constant

    explicit DeviceIdentity(uint32_t serial = 123457) : serial_(serial & 0xFFFFFF) {}

    // The ten data bytes of DIR: part number as six digits in nibbles, variant, serial number,
    // production year and week (BCD).
    std::array<uint8_t, 10> Record() const;
    uint32_t OperationMinutes(Micros now) const;
    double Temperature(Micros now) const;

private:
    uint32_t serial_;
};

} // namespace valve
