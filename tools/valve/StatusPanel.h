#pragma once
#include "ValveTypes.h"

namespace valve {

// What the status byte and the front LEDs show.
struct PanelInputs {
    uint8_t binary = 0; // the binary signals of the flow loop
    bool overtemperature = false;
    bool keyLock = false;
    bool manualSetpoint = false; // setpoint from the serial line
    bool recentTraffic = false;  // a telegram arrived within the last seconds
    uint8_t ledConfig = 0;       // the CER byte: function of the green, yellow and red LED
};

// LED states of the LER byte.
enum LedState : uint8_t { LED_OFF = 0, LED_ON = 1, LED_BLINK = 3 };

// STR: bit 7 overvoltage, 6 undervoltage, 5 overtemperature, 4 digital output, 3 jumper, 2 key
// lock, 1 manual setpoint, 0 reserve.
uint8_t StatusByte(const PanelInputs& in);
// LER: green in bits 0..1, yellow 2..3, red 4..5, each as its function in the CER byte asks.
uint8_t LedByte(const PanelInputs& in);

} // namespace valve
