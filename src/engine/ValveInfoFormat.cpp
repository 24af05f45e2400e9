#include "engine/ValveInfoFormat.h"

#include "engine/QlnState.h"

#include <algorithm>
#include <cstdio>

namespace {
std::string PartNumberText(const int32_t (&n)[6], int32_t partNumberVariant) {
    char variant[10] = {};
    std::snprintf(variant, sizeof variant, "%04X", static_cast<unsigned>(partNumberVariant & 0xFFFF));
    char buf[64];
    if (variant[1] == '0' && variant[2] == '0' && variant[3] == '0')
        std::snprintf(buf, sizeof buf, "471-52%X %X%X%X%X%X%c", n[0] & 15, n[1] & 15, n[2] & 15, n[3] & 15,
                      n[4] & 15, n[5] & 15, variant[0]);
    else
        std::snprintf(buf, sizeof buf, "471-52%X %X%X%X%X%X%c-%c%c%c", n[0] & 15, n[1] & 15, n[2] & 15,
                      n[3] & 15, n[4] & 15, n[5] & 15, variant[0], variant[1], variant[2], variant[3]);
    return buf;
}
} // namespace

std::string FormatPartNumber(const DeviceInfo& d) {
    return PartNumberText(d.PartNumberDigit, d.PartNumberVariant);
}

std::string FormatPartNumber(const ValveIdentity& id) {
    return PartNumberText(id.PartNumberDigit, id.PartNumberVariant);
}

std::string FormatBcd(int32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(v) & 0xFF);
    return buf;
}

OperationTime SplitOperationCounter(int32_t minutes) {
    return {std::max(0, minutes / 1440), std::max(0, (minutes % 1440) / 60), std::max(0, minutes % 60)};
}

namespace {
std::string Printf(const char* format, int32_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}
} // namespace

std::array<std::string, VI_FIELD_COUNT> ValveInfoTexts(const DeviceInfo& d, bool valid,
                                                       const std::string& none) {
    std::array<std::string, VI_FIELD_COUNT> t;
    if (!valid) {
        t.fill(none);
        return t;
    }
    const OperationTime op = SplitOperationCounter(d.OperationCounter);
    t[VI_FIRMWARE] = Printf("%02d", d.ControllerFirmware);
    t[VI_PART_NUMBER] = FormatPartNumber(d);
    t[VI_SERIAL_NUMBER] = Printf("%d", d.SerialNumber);
    t[VI_PRODUCTION_YEAR] = FormatBcd(d.ProductionYear);
    t[VI_PRODUCTION_WEEK] = FormatBcd(d.ProductionWeek);
    t[VI_OPERATION_DAYS] = Printf("%02d", op.days);
    t[VI_OPERATION_HOURS] = Printf("%02d", op.hours);
    t[VI_OPERATION_MINUTES] = Printf("%02d", op.minutes);
    t[VI_CALIBRATION_YEAR] = FormatBcd(d.CalibrationYear);
    t[VI_CALIBRATION_MONTH] = FormatBcd(d.CalibrationMonth);
    t[VI_CALIBRATION_DAY] = FormatBcd(d.CalibrationDay);
    t[VI_CALIBRATION_STATUS] = Printf("%d", d.CalibrationStatus);
    t[VI_CALIBRATION_COUNTER] = Printf("%d", d.CalibrationCounter);
    t[VI_CALIBRATION_TEMPERATURE] = Printf("%d", d.CalibrationTemperature);
    t[VI_VALVE_TEMPERATURE] = Printf("%d", d.ValveTemperature);
    return t;
}

bool SnapshotDeviceInfo(uint32_t threadCmd, DeviceInfo& shared, DeviceInfo& copy) {
    copy = DeviceInfo{};
    // Both actions write the record (the baud-rate test stores the firmware version).
    if (threadCmd & (CMD_READ_DEVICE_INFO | CMD_BAUDRATE_TEST)) return false;
    if (!LoadValid(shared.Valid)) return false;
    copy.ControllerFirmware = shared.ControllerFirmware;
    for (int i = 0; i < 6; ++i)
        copy.PartNumberDigit[i] = shared.PartNumberDigit[i];
    copy.PartNumberVariant = shared.PartNumberVariant;
    copy.SerialNumber = shared.SerialNumber;
    copy.ProductionYear = shared.ProductionYear;
    copy.ProductionWeek = shared.ProductionWeek;
    copy.OperationCounter = shared.OperationCounter;
    copy.CalibrationCounter = shared.CalibrationCounter;
    copy.CalibrationYear = shared.CalibrationYear;
    copy.CalibrationMonth = shared.CalibrationMonth;
    copy.CalibrationDay = shared.CalibrationDay;
    copy.CalibrationStatus = shared.CalibrationStatus;
    copy.CalibrationTemperature = shared.CalibrationTemperature;
    copy.ValveTemperature = shared.ValveTemperature;
    copy.Valid = 1;
    return true;
}
