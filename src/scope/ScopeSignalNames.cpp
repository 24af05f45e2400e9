#include "scope/ScopeSignalNames.h"

#include <cstddef>
#include <span>

namespace {
constexpr int CH1[] = {154, 155};
constexpr int CH1_SLAVE[] = {338, 155};
constexpr int CH2[] = {156, 155, 158, 159};
constexpr int CH2_FLOW[] = {369, 155, 370, 371};
constexpr int CH3[] = {157, 165, 160, 337};
constexpr int CH3_SLAVE[] = {339, 340, 341, 337};
constexpr int CH4[] = {161, 162, 163, 164, 337};
// The slave's I-Value keeps its plain name.
constexpr int CH4_SLAVE[] = {342, 162, 344, 345, 337};
constexpr int BINARY[] = {146, 147, 148, 149, 150, 151, 152, 153};

// Each analog channel's list, and the variant it takes under flow control or as a slave.
struct AnalogLists {
    std::span<const int> normal, variant;
    bool variantForSlave; // false: the variant belongs to flow control
};
constexpr AnalogLists ANALOG[] = {
    {CH1, CH1_SLAVE, true},
    {CH2, CH2_FLOW, false},
    {CH3, CH3_SLAVE, true},
    {CH4, CH4_SLAVE, true},
};

int At(std::span<const int> list, int index) {
    return index >= 0 && static_cast<size_t>(index) < list.size() ? list[static_cast<size_t>(index)] : 0;
}
} // namespace

int AnalogSignalTextId(int channel, int index, bool flowControl, bool slave) {
    if (channel < 0 || channel >= 4) return 0;
    const AnalogLists& l = ANALOG[channel];
    const bool variant = l.variantForSlave ? slave : flowControl;
    return At(variant ? l.variant : l.normal, index);
}

int BinarySignalTextId(int index) {
    return At(BINARY, index);
}
