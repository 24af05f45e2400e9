#include "Acquisition.h"

#include <algorithm>
#include <cmath>

namespace valve {

void Acquisition::StartRoll(Micros now, Micros period) {
    mode_ = Mode::Roll;
    period_ = period;
    next_ = now + period;
    remaining_ = 0;
}

void Acquisition::StartRecording(Micros now, bool ramp, int seconds) {
    mode_ = ramp ? Mode::RampRecording : Mode::StepRecording;
    period_ = RECORDING_PERIOD;
    next_ = now + period_;
    remaining_ = seconds * RECORDS_PER_SECOND;
}

std::vector<Micros> Acquisition::Due(Micros now) {
    std::vector<Micros> times;
    while (Streaming() && next_ <= now) {
        times.push_back(next_);
        next_ += period_;
        if (Recording() && --remaining_ <= 0) mode_ = Mode::Off;
    }
    return times;
}

namespace {
uint8_t Unsigned(double percent) {
    return static_cast<uint8_t>(std::clamp(std::lround(percent * 2.55), 0L, 255L));
}
uint8_t Signed(double percent) {
    return static_cast<uint8_t>(std::clamp(128 + std::lround(percent * 1.275), 0L, 255L));
}

double Channel1(const Signals& s, int sel) {
    return sel == 1 ? s.analogIn2 : s.setpoint;
}

double Channel2(const Signals& s, int sel, bool flowControl) {
    switch (sel) {
    case 1:
        return s.analogIn2;
    case 2:
        return flowControl ? s.diffPressure : s.pwm1;
    case 3:
        return flowControl ? s.outletPressure : s.pwm2;
    default:
        return s.flow;
    }
}

double Channel3(const Signals& s, int sel) {
    switch (sel) {
    case 1:
        return s.pidOut;
    case 2:
        return s.controlOut;
    case 3:
        return 0; // none
    default:
        return s.deviation;
    }
}

double Channel4(const Signals& s, int sel) {
    switch (sel) {
    case 1:
        return s.i;
    case 2:
        return s.d;
    case 3:
        return s.forward;
    default:
        return s.p;
    }
}
} // namespace

Bytes EncodeSample(const Signals& s, uint8_t analogSelect, bool flowControl) {
    return {STX,
            Unsigned(Channel1(s, (analogSelect >> 6) & 1)),
            Unsigned(Channel2(s, (analogSelect >> 4) & 3, flowControl)),
            Signed(Channel3(s, (analogSelect >> 2) & 3)),
            Signed(Channel4(s, analogSelect & 3)),
            s.binary};
}

} // namespace valve
