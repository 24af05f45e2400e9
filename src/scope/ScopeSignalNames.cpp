#include "scope/ScopeSignalNames.h"

namespace {
constexpr int NONE = 337;
// Per analog channel: the master's names, the slave's, and channel 2's flow-control names.
constexpr int ANALOG[4][5] = {
    {154, 155, 0, 0, 0}, {156, 155, 158, 159, 0}, {157, 165, 160, NONE, 0}, {161, 162, 163, 164, NONE}};
constexpr int ANALOG_SLAVE[4][5] = {
    {338, 155, 0, 0, 0}, {156, 155, 158, 159, 0}, {339, 340, 341, NONE, 0}, {342, 162, 344, 345, NONE}};
constexpr int FLOW_CONTROL_CHANNEL_2[4] = {369, 155, 370, 371};
constexpr int COUNTS[4] = {2, 4, 4, 5};
constexpr int BINARY[BINARY_SIGNAL_COUNT] = {146, 147, 148, 149, 150, 151, 152, 153};
} // namespace

int AnalogSignalCount(int channel) {
    return channel >= 0 && channel < 4 ? COUNTS[channel] : 0;
}

int AnalogSignalTextId(int channel, int index, bool flowControl, bool slave) {
    if (index < 0 || index >= AnalogSignalCount(channel)) return 0;
    if (channel == 1 && flowControl) return FLOW_CONTROL_CHANNEL_2[index];
    return (slave ? ANALOG_SLAVE : ANALOG)[channel][index];
}

int BinarySignalTextId(int index) {
    return index >= 0 && index < BINARY_SIGNAL_COUNT ? BINARY[index] : 0;
}
