#pragma once
#include <optional>

#include "ValveTypes.h"

namespace valve {

// What drives the setpoint, highest priority first.
enum class SetpointSource { Recording, AutoTune, Serial, TestFunction, Input };

// The setpoint of a ramp or step recording: `begin` until `start`, then `end`, reached over
// `rampTime` (zero: at once).
struct RecordingProfile {
    double begin = 0;
    double end = 0;
    Micros start{0};
    Micros rampTime{0};
};

// The valve's setpoint in percent over time. The wired setpoint input of the demonstration valve
// is fed by a bench generator that alternates between two levels; the serial setpoint, the
// built-in test function, a recording's step or ramp and the auto-tune override it.
class SetpointProgram {
public:
    static constexpr double INPUT_LOW = 30.0;
    static constexpr double INPUT_HIGH = 60.0;
    static constexpr Micros INPUT_HALF_PERIOD{6'000'000};

    void SetSerial(double percent) { serial_ = percent; }
    void ClearSerial() { serial_.reset(); }
    bool SerialActive() const { return serial_.has_value(); }

    // selection: 0 off, 1 ramp, 2 step, 3 multistep; each segment lasts `segment`.
    void SetTestFunction(int selection, Micros segment, Micros now);
    void StartRecording(const RecordingProfile& p) { recording_ = p; }
    void EndRecording() { recording_.reset(); }
    void StartAutoTune(Micros now) { autoTuneSince_ = now; }
    void EndAutoTune() { autoTuneSince_.reset(); }

    SetpointSource Source() const;
    double At(Micros t) const;

private:
    double Input(Micros t) const;
    double TestFunction(Micros t) const;
    double Recording(Micros t) const;
    double AutoTune(Micros t) const;

    std::optional<double> serial_;
    std::optional<RecordingProfile> recording_;
    std::optional<Micros> autoTuneSince_;
    int testSelection_ = 0;
    Micros testSegment_{5'000'000};
    Micros testSince_{0};
};

} // namespace valve
