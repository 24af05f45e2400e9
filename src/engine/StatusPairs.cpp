#include "engine/StatusPairs.h"

namespace {
const StatusPair PAIRS[] = {
    {&StatusInfo::Overvoltage, "overvoltage", 183, "Overvoltage", 19, "NO", 119, "YES"},
    {&StatusInfo::Undervoltage, "undervoltage", 184, "Undervoltage", 19, "NO", 119, "YES"},
    {&StatusInfo::Overtemperature, "overtemperature", 185, "Overtemperature", 19, "NO", 119, "YES"},
    {&StatusInfo::DigitalOutput, "digital_output", 186, "Digital Out", 104, "High", 105, "Low"},
    {&StatusInfo::Jumper, "jumper", 187, "Jumper", 35, "ON", 36, "OFF"},
    {&StatusInfo::KeyLock, "key_lock", 188, "Key Lock", 181, "Disabled", 182, "Enabled"},
    {&StatusInfo::ManualSetpoint, "manual_setpoint", 189, "Manual Setpoint", 181, "Disabled", 182, "Enabled"},
    {&StatusInfo::Reserve, "reserve", 190, "Reserve", 181, "Disabled", 182, "Enabled"},
};
} // namespace

std::span<const StatusPair> StatusPairs() {
    return PAIRS;
}
