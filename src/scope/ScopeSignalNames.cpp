#include "scope/ScopeSignalNames.h"

#include <algorithm>

namespace {
// Each list padded with 0 after its last entry.
constexpr int MASTER[4][5] = {
    {154, 155},                // Setpoint, Analog Input 2
    {156, 155, 158, 159},      // Flow, Analog Input 2, PWM Out, PWM Out2
    {157, 165, 160, 337},      // Control Deviation, PID-Out, Control Out, none
    {161, 162, 163, 164, 337}, // P-Value, I-Value, D-Value, Forward Control, none
};
// The slave names; I-Value keeps its own name.
constexpr int SLAVE[4][5] = {
    {338, 155},
    {156, 155, 158, 159},
    {339, 340, 341, 337},
    {342, 162, 344, 345, 337},
};
// Flow, Analog Input 2, Diff. Pressure(dP), Out. Pressure(P2).
constexpr int FLOW_CONTROL_CHANNEL_2[4] = {369, 155, 370, 371};
constexpr int BINARY[BINARY_SIGNAL_COUNT] = {146, 147, 148, 149, 150, 151, 152, 153};
} // namespace

int AnalogSignalTextId(int channel, int index, bool flowControl, bool slave) {
    const int c = std::clamp(channel, 0, 3);
    const int i = std::clamp(index, 0, ANALOG_SIGNAL_COUNT[c] - 1);
    if (c == 1 && flowControl) return FLOW_CONTROL_CHANNEL_2[i];
    return slave ? SLAVE[c][i] : MASTER[c][i];
}

int BinarySignalTextId(int index) {
    return BINARY[std::clamp(index, 0, BINARY_SIGNAL_COUNT - 1)];
}
