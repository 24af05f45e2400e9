#pragma once
#include <cstdint>
#include <string>

#include "engine/DeviceRecords.h"

// How the valve information is shown to the user (valve info dialog, qln-cli, printing).
std::string FormatPartNumber(const DeviceInfo& d);
// A BCD byte shown as its two hexadecimal digits: 0x15 shows as "15".
std::string FormatBcd(int32_t v);

struct OperationTime {
    int32_t days, hours, minutes;
};
// Minutes split into whole days, hours of the day and minutes of the hour (negative parts show 0).
OperationTime SplitOperationCounter(int32_t minutes);
