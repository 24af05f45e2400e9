#pragma once
#include <vector>

#include "FlowModel.h"
#include "ValveTypes.h"

namespace valve {

// The valve's sample stream: after TAS one record per sample period until PAS; after SAS one
// record every 4 ms for the acquisition time, then it stops by itself.
class Acquisition {
public:
    enum class Mode { Off, Roll, StepRecording, RampRecording };
    static constexpr Micros RECORDING_PERIOD{4000};
    static constexpr int RECORDS_PER_SECOND = 250;

    void StartRoll(Micros now, Micros period);
    void StartRecording(Micros now, bool ramp, int seconds);
    void Stop() { mode_ = Mode::Off; }

    Mode CurrentMode() const { return mode_; }
    bool Streaming() const { return mode_ != Mode::Off; }
    bool Recording() const { return mode_ == Mode::StepRecording || mode_ == Mode::RampRecording; }
    Micros NextSample() const { return next_; }

    // The times of the records due up to `now`, in order; a recording ends after its last one.
    std::vector<Micros> Due(Micros now);

private:
    Mode mode_ = Mode::Off;
    Micros period_{RECORDING_PERIOD};
    Micros next_{0};
    int remaining_ = 0; // recordings only
};

// The 6-byte sample record: STX, analog channels 1 and 2 (0..100 % as 0..255), analog channels
// 3 and 4 (-100..100 % around 128), the eight binary signals. `analogSelect` is the ACS byte;
// with the flow-control structure channel 2's signals 2 and 3 are the pressures.
Bytes EncodeSample(const Signals& s, uint8_t analogSelect, bool flowControl);

} // namespace valve
