#pragma once
#include <atomic>
#include <cstdint>

#include "engine/DeviceRecords.h"

// Driving the valve from the PC: the serial setpoint, the built-in test function and the
// auto-tune. The window (or qln-cli) writes the values of TestFunctionData, then requests the
// action; the engine reads them when it takes the request up.

constexpr uint8_t CMD_STS = 37;  // serial setpoint, data = percent x 2
constexpr uint8_t CMD_RTS = 38;  // back to the valve's own setpoint source
constexpr uint8_t CMD_RSS = 86;  // ramp/step time, data = seconds x 10
constexpr uint8_t CMD_CCS = 100; // controller configuration with the test function in bits 6..7
constexpr uint8_t CMD_CCR = 101;
constexpr uint8_t CMD_APS = 145; // data 1 starts the auto-tune

constexpr double SERIAL_SETPOINT_MAX = 100.0;
constexpr double TEST_TIME_MAX = 20.0;

// The STS data byte: the setpoint in half percent, truncated (37.5 % -> 75). Out-of-range and
// non-finite values are limited to 0..100 %, so the valve never gets a byte it would refuse.
uint8_t SerialSetpointByte(float percent);
// The RSS data byte: the time in tenths of a second (2.5 s -> 25), limited to 0..20 s.
uint8_t TestTimeByte(float seconds);
// A typed setpoint cut down to the valve's 0.5 % steps (37.8 -> 37.5), limited to 0..100.
double TruncateToHalfPercent(double percent);

enum TestFunction : int32_t { TEST_OFF = 0, TEST_RAMP = 1, TEST_STEP = 2, TEST_MULTISTEP = 3 };

// The window thread and the engine both touch the values of TestFunctionData; these keep each
// access whole.
template <class T> T LoadShared(T& value) {
    return std::atomic_ref<T>(value).load();
}
template <class T> void StoreShared(T& value, T v) {
    std::atomic_ref<T>(value).store(v);
}
