#include "SetpointProgram.h"

#include <algorithm>
#include <array>

namespace valve {

namespace {
constexpr int TEST_RAMP = 1;
constexpr int TEST_STEP = 2;
constexpr int TEST_MULTISTEP = 3;
constexpr double TEST_STEP_LOW = 20.0;
constexpr double TEST_STEP_HIGH = 80.0;
constexpr std::array<double, 8> MULTISTEP_LEVELS{0, 25, 50, 75, 100, 75, 50, 25};
// The auto-tune excites the loop with a square wave around half flow.
constexpr double AUTO_TUNE_CENTRE = 50.0;
constexpr double AUTO_TUNE_SWING = 10.0;
constexpr Micros AUTO_TUNE_HALF_PERIOD{400'000};
constexpr Micros MIN_TEST_SEGMENT{100'000};

double Fraction(Micros part, Micros whole) {
    return static_cast<double>(part.count()) / static_cast<double>(whole.count());
}
} // namespace

void SetpointProgram::SetTestFunction(int selection, Micros segment, Micros now) {
    if (selection != testSelection_) testSince_ = now;
    testSelection_ = selection;
    testSegment_ = std::max(segment, MIN_TEST_SEGMENT);
}

SetpointSource SetpointProgram::Source() const {
    if (recording_) return SetpointSource::Recording;
    if (autoTuneSince_) return SetpointSource::AutoTune;
    if (serial_) return SetpointSource::Serial;
    if (testSelection_ >= TEST_RAMP && testSelection_ <= TEST_MULTISTEP) return SetpointSource::TestFunction;
    return SetpointSource::Input;
}

double SetpointProgram::At(Micros t) const {
    switch (Source()) {
    case SetpointSource::Recording:
        return Recording(t);
    case SetpointSource::AutoTune:
        return AutoTune(t);
    case SetpointSource::Serial:
        return *serial_;
    case SetpointSource::TestFunction:
        return TestFunction(t);
    case SetpointSource::Input:
        break;
    }
    return Input(t);
}

double SetpointProgram::Input(Micros t) const {
    return (t / INPUT_HALF_PERIOD) % 2 == 0 ? INPUT_LOW : INPUT_HIGH;
}

double SetpointProgram::TestFunction(Micros t) const {
    const Micros run = std::max(t - testSince_, Micros{0});
    const auto segment = run / testSegment_;
    switch (testSelection_) {
    case TEST_RAMP: { // up over one segment, down over the next
        const double f = Fraction(run % testSegment_, testSegment_) * 100.0;
        return segment % 2 == 0 ? f : 100.0 - f;
    }
    case TEST_STEP:
        return segment % 2 == 0 ? TEST_STEP_LOW : TEST_STEP_HIGH;
    default:
        return MULTISTEP_LEVELS[static_cast<size_t>(segment) % MULTISTEP_LEVELS.size()];
    }
}

double SetpointProgram::Recording(Micros t) const {
    const RecordingProfile& p = *recording_;
    if (t < p.start) return p.begin;
    if (p.rampTime <= Micros{0} || t - p.start >= p.rampTime) return p.end;
    return p.begin + (p.end - p.begin) * Fraction(t - p.start, p.rampTime);
}

double SetpointProgram::AutoTune(Micros t) const {
    const auto half = (t - *autoTuneSince_) / AUTO_TUNE_HALF_PERIOD;
    return AUTO_TUNE_CENTRE + (half % 2 == 0 ? AUTO_TUNE_SWING : -AUTO_TUNE_SWING);
}

} // namespace valve
