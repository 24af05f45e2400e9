#pragma once

// The names of the signals a scope channel can show, as text ids of the string table. The set-up
// record stores an index into each channel's list; a project file or a valve can hold any number,
// so an index outside its list gives 0 (no text) and the caller shows the number instead.

// Analog channel 0..3 (channels 1 to 4). Under flow control the second channel measures pressures
// instead of the PWM outputs; a slave valve names its own signals with "(S)".
int AnalogSignalTextId(int channel, int index, bool flowControl, bool slave);
// Binary channels 1 to 4 share one list.
int BinarySignalTextId(int index);
