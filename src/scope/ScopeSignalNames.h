#pragma once

// The names of the scope's signals, as text ids: what each analog channel's list holds, with
// the flow-control names of channel 2 and the slave names of a cascaded slave, and the one list of
// the binary channels. An index outside a list gives the list's last entry, so a value from a
// file always names something.

constexpr int ANALOG_SIGNAL_COUNT[4] = {2, 4, 4, 5};
constexpr int BINARY_SIGNAL_COUNT = 8;
// The controller structure whose channel 2 shows flow-control names.
constexpr int FLOW_CONTROL_STRUCTURE = 7;

// Channel 0..3, index into its list; `flowControl` when the working set's controller structure
// is flow control, `slave` when the set-up's master/slave field is slave.
int AnalogSignalTextId(int channel, int index, bool flowControl, bool slave);
int BinarySignalTextId(int index);
