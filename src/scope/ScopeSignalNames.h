#pragma once

// The names of the signals a scope channel can show, as text ids: the lists of the four analog
// channels and the eight binary signals. With the flow-control structure analog channel 2 shows
// the pressures; a slave valve's controller signals carry an "(S)".

// How many signals analog channel `channel` (0..3) can show.
int AnalogSignalCount(int channel);
constexpr int BINARY_SIGNAL_COUNT = 8;
// The controller structure with which analog channel 2 shows the pressures.
constexpr int FLOW_CONTROL_STRUCTURE = 7;

// The text id of signal `index` of analog channel `channel` (0..3), or 0 outside the list.
int AnalogSignalTextId(int channel, int index, bool flowControl, bool slave);
// The text id of binary signal `index` (0..7), or 0 outside the list.
int BinarySignalTextId(int index);
