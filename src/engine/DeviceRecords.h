#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// The valve information as read by Read Device Info. Project files store it whole, so the
// 480-byte layout is a file format.
struct DeviceInfo {
    int32_t ControllerFirmware;
    int32_t PartNumberDigit[6];
    int32_t PartNumberVariant;
    int32_t SerialNumber;
    int32_t ProductionYear;   // BCD
    int32_t ProductionWeek;   // BCD
    int32_t OperationCounter; // minutes
    int32_t CalibrationCounter;
    int32_t CalibrationYear;  // BCD
    int32_t CalibrationMonth; // BCD
    int32_t CalibrationDay;   // BCD
    int32_t CalibrationStatus;
    int32_t CalibrationTemperature; // degrees C
    int32_t ValveTemperature;       // degrees C
    uint8_t Valid;
    uint8_t ValidPad[3];
    uint8_t Reserved[400];
};
static_assert(sizeof(DeviceInfo) == 480);
static_assert(offsetof(DeviceInfo, PartNumberDigit) == 4);
static_assert(offsetof(DeviceInfo, PartNumberVariant) == 28);
static_assert(offsetof(DeviceInfo, SerialNumber) == 32);
static_assert(offsetof(DeviceInfo, ProductionYear) == 36);
static_assert(offsetof(DeviceInfo, ProductionWeek) == 40);
static_assert(offsetof(DeviceInfo, OperationCounter) == 44);
static_assert(offsetof(DeviceInfo, CalibrationCounter) == 48);
static_assert(offsetof(DeviceInfo, CalibrationYear) == 52);
static_assert(offsetof(DeviceInfo, CalibrationMonth) == 56);
static_assert(offsetof(DeviceInfo, CalibrationDay) == 60);
static_assert(offsetof(DeviceInfo, CalibrationStatus) == 64);
static_assert(offsetof(DeviceInfo, CalibrationTemperature) == 68);
static_assert(offsetof(DeviceInfo, ValveTemperature) == 72);
static_assert(offsetof(DeviceInfo, Valid) == 76);

// Who the valve is, as the valve history records it with each job: read by Read Identity into a
// record of its own, so that the valve information the user last read stays as it was.
struct ValveIdentity {
    int32_t SerialNumber;
    int32_t PartNumberDigit[6];
    int32_t PartNumberVariant;
    int32_t ControllerFirmware;
    int32_t Valid;
};

// The valve's live status. Flag values follow the status dialog: 1/2 as noted per field.
struct StatusInfo {
    int32_t Overvoltage;     // 2 set, 1 clear
    int32_t Undervoltage;    // 2 set, 1 clear
    int32_t Overtemperature; // 2 set, 1 clear
    int32_t DigitalOutput;   // 1 high, 2 low
    int32_t Jumper;          // 1 on, 2 off
    int32_t KeyLock;         // 2 enabled, 1 disabled
    int32_t ManualSetpoint;  // 2 enabled, 1 disabled
    int32_t Reserve;         // 2 enabled, 1 disabled
    int32_t LedRed;          // 0..3
    int32_t LedGreen;
    int32_t LedYellow;
    int32_t Valid;
};

// Test function, serial setpoint and auto-tune values that travel with the engine's actions.
struct TestFunctionData {
    int32_t Selection; // 0 off, 1 ramp, 2 step, 3 multistep
    float TestTime;    // seconds
    int32_t ReadBack;  // selection reported by the valve
    int32_t ReadBackValid;
    float SerialSetpoint; // percent
    int32_t SerialSetpointActive;
};

// Publishing a record: the flag is stored last with release order and loaded first with acquire
// order, so a reader that sees it set sees the whole record.
inline void PublishValid(uint8_t& flag, uint8_t v) {
    std::atomic_ref<uint8_t>(flag).store(v, std::memory_order_release);
}
inline uint8_t LoadValid(uint8_t& flag) {
    return std::atomic_ref<uint8_t>(flag).load(std::memory_order_acquire);
}
inline void PublishValid(int32_t& flag, int32_t v) {
    std::atomic_ref<int32_t>(flag).store(v, std::memory_order_release);
}
inline int32_t LoadValid(int32_t& flag) {
    return std::atomic_ref<int32_t>(flag).load(std::memory_order_acquire);
}
