#include "DeviceIdentity.h"

#include <cmath>

namespace valve {

namespace {
constexpr uint8_t PART_NUMBER[3] = {0x42, 0x71, 0x50}; // 4 2 7 1 5 0
constexpr uint16_t VARIANT = 0x0102;
constexpr uint8_t PRODUCTION_YEAR = 0x21; // BCD
constexpr uint8_t PRODUCTION_WEEK = 0x37; // BCD
constexpr uint32_t COUNTER_MASK = 0xFFFFFF;

double Seconds(Micros t) {
    return static_cast<double>(t.count()) * 1e-6;
}
} // namespace

std::array<uint8_t, 10> DeviceIdentity::Record() const {
    return {PART_NUMBER[0],
            PART_NUMBER[1],
            PART_NUMBER[2],
            static_cast<uint8_t>(VARIANT >> 8),
            static_cast<uint8_t>(VARIANT & 0xFF),
            static_cast<uint8_t>(serial_ >> 16),
            static_cast<uint8_t>(serial_ >> 8),
            static_cast<uint8_t>(serial_),
            PRODUCTION_YEAR,
            PRODUCTION_WEEK};
}

uint32_t DeviceIdentity::OperationMinutes(Micros now) const {
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(now).count();
    return (OPERATION_MINUTES_AT_START + static_cast<uint32_t>(minutes)) & COUNTER_MASK;
}

double DeviceIdentity::Temperature(Micros now) const {
    const double t = Seconds(now);
    return WARM_TEMPERATURE - (WARM_TEMPERATURE - START_TEMPERATURE) * std::exp(-t / WARM_UP_TIME);
}

} // namespace valve
