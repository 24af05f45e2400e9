#include "system/SerialLatency.h"

#include <cerrno>

namespace {

// The FTDI driver keeps its latency timer in the port's advanced settings (Device Manager), where
// the user sets it; a program has no request for it.
class Win32SerialLatency : public SerialLatency {
public:
    bool OnUsb(SerialHandle) override { return false; }
    bool RequestLowLatency(SerialHandle, int* err) override {
        *err = ENOTSUP;
        return false;
    }
};

} // namespace

SerialLatency& SystemSerialLatency() {
    static Win32SerialLatency latency;
    return latency;
}
