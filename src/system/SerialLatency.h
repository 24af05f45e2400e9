#pragma once
#include "system/SerialDevice.h"

// A USB serial adapter holds a few received bytes back until its latency timer runs out (16 ms by
// default on the common chips) before it passes them on; the valve's replies are a few bytes each,
// so every exchange would wait for that timer. The driver's low-latency mode passes them on at
// once. The link asks for it through this interface, so that tests see what it asked for.
class SerialLatency {
public:
    virtual ~SerialLatency() = default;
    // Whether the open device sits on a USB adapter.
    virtual bool OnUsb(SerialHandle h) = 0;
    // Switches the driver's low-latency mode on; false, with the system's error code in *err, when
    // the device has no such mode or refuses it.
    virtual bool RequestLowLatency(SerialHandle h, int* err) = 0;
};

// The system's own: Linux asks the device database and sets ASYNC_LOW_LATENCY (TIOCGSERIAL,
// TIOCSSERIAL), which a user who may open the port may set. Windows keeps the timer in the
// driver's own port settings, out of a program's reach: no device counts as USB there.
SerialLatency& SystemSerialLatency();
