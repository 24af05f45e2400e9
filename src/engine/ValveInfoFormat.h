#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "engine/DeviceRecords.h"

// How the valve information is shown to the user (valve info dialog, qln-cli, printing).
std::string FormatPartNumber(const DeviceInfo& d);
std::string FormatPartNumber(const ValveIdentity& id);
// A BCD byte shown as its two hexadecimal digits: 0x15 shows as "15".
std::string FormatBcd(int32_t v);

struct OperationTime {
    int32_t days, hours, minutes;
};
// Minutes split into whole days, hours of the day and minutes of the hour (negative parts show 0).
OperationTime SplitOperationCounter(int32_t minutes);

// The fifteen fields of the valve info dialog, in the order it shows them.
enum ValveInfoField : unsigned {
    VI_FIRMWARE,
    VI_PART_NUMBER,
    VI_SERIAL_NUMBER,
    VI_PRODUCTION_YEAR,
    VI_PRODUCTION_WEEK,
    VI_OPERATION_DAYS,
    VI_OPERATION_HOURS,
    VI_OPERATION_MINUTES,
    VI_CALIBRATION_YEAR,
    VI_CALIBRATION_MONTH,
    VI_CALIBRATION_DAY,
    VI_CALIBRATION_STATUS,
    VI_CALIBRATION_COUNTER,
    VI_CALIBRATION_TEMPERATURE,
    VI_VALVE_TEMPERATURE,
    VI_FIELD_COUNT
};
// Every field as shown; `none` (text 134, " -- ") in each while the record is not valid.
std::array<std::string, VI_FIELD_COUNT> ValveInfoTexts(const DeviceInfo& d, bool valid,
                                                       const std::string& none);

// Copies the shared record for showing. The engine writes it only while a valve info read or a
// baud-rate test is requested; while one is, the copy counts as not valid (the read clears the
// flag anyway). Otherwise the flag is loaded first (acquire) and the fields only when it is set.
// Returns whether the copy is valid.
bool SnapshotDeviceInfo(uint32_t threadCmd, DeviceInfo& shared, DeviceInfo& copy);
