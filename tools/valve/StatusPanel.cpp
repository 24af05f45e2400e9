#include "StatusPanel.h"

#include "FlowModel.h"

namespace valve {

namespace {
constexpr uint8_t STATUS_OVERTEMPERATURE = 0x20;
constexpr uint8_t STATUS_DIGITAL_OUTPUT = 0x10;
constexpr uint8_t STATUS_JUMPER = 0x08; // the bench valve has its service jumper on
constexpr uint8_t STATUS_KEY_LOCK = 0x04;
constexpr uint8_t STATUS_MANUAL_SETPOINT = 0x02;

enum GreenFunction { GREEN_DIGITAL_OUT = 1, GREEN_SUPPLY = 2, GREEN_OVERTEMPERATURE = 3 };
enum YellowFunction { YELLOW_COMMUNICATION = 1, YELLOW_MANUAL_SETPOINT = 2, YELLOW_AUTOSAFE = 3 };
enum RedFunction { RED_ERROR = 1, RED_RANGE = 2, RED_VOLTAGE = 3 };

uint8_t OnIf(bool b) {
    return b ? LED_ON : LED_OFF;
}

uint8_t Green(const PanelInputs& in) {
    switch (in.ledConfig & 3) {
    case GREEN_DIGITAL_OUT:
        return OnIf(in.binary & BIN_DIGITAL_OUTPUT);
    case GREEN_SUPPLY:
        return LED_ON;
    case GREEN_OVERTEMPERATURE:
        return in.overtemperature ? LED_BLINK : LED_OFF;
    default:
        return LED_OFF;
    }
}

uint8_t Yellow(const PanelInputs& in) {
    switch ((in.ledConfig >> 2) & 3) {
    case YELLOW_COMMUNICATION:
        return in.recentTraffic ? LED_BLINK : LED_OFF;
    case YELLOW_MANUAL_SETPOINT:
        return OnIf(in.manualSetpoint);
    case YELLOW_AUTOSAFE:
        return in.binary & BIN_AUTOSAFE ? LED_BLINK : LED_OFF;
    default:
        return LED_OFF;
    }
}

uint8_t Red(const PanelInputs& in) {
    switch ((in.ledConfig >> 4) & 3) {
    case RED_ERROR:
        return OnIf(in.binary & BIN_ERROR);
    case RED_RANGE:
        return OnIf(in.binary & BIN_RANGE);
    case RED_VOLTAGE: // supply in range
    default:
        return LED_OFF;
    }
}
} // namespace

uint8_t StatusByte(const PanelInputs& in) {
    uint8_t b = STATUS_JUMPER;
    if (in.overtemperature) b |= STATUS_OVERTEMPERATURE;
    if (in.binary & BIN_DIGITAL_OUTPUT) b |= STATUS_DIGITAL_OUTPUT;
    if (in.keyLock) b |= STATUS_KEY_LOCK;
    if (in.manualSetpoint) b |= STATUS_MANUAL_SETPOINT;
    return b;
}

uint8_t LedByte(const PanelInputs& in) {
    return static_cast<uint8_t>(Green(in) | Yellow(in) << 2 | Red(in) << 4);
}

} // namespace valve
