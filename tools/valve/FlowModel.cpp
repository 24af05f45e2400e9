#include "FlowModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace valve {

namespace {
constexpr double DT = 0.001;
constexpr double RATE_FILTER = 0.005; // s, smoothing of the D part
// After a long time without a look at the loop it has settled; integrating the last seconds is
// enough.
constexpr Micros SETTLE_SPAN{3'000'000};
constexpr double INLET_PRESSURE = 62.0;
constexpr double INLET_SWING = 3.0;
constexpr double INLET_PERIOD = 17.0; // s
constexpr double FLOW_NOISE = 0.3;
constexpr double PRESSURE_NOISE = 0.4;
constexpr double SECOND_STAGE_START = 20.0;

double Seconds(Micros t) {
    return static_cast<double>(t.count()) * 1e-6;
}
} // namespace

void FlowModel::AdvanceTo(Micros t, const SetpointProgram& setpoint) {
    if (t - time_ > SETTLE_SPAN) time_ = t - SETTLE_SPAN;
    while (time_ + STEP <= t) {
        time_ += STEP;
        Step(setpoint.At(time_));
    }
}

void FlowModel::Settle(double setpoint) {
    for (auto t = Micros{0}; t < SETTLE_SPAN; t += STEP)
        Step(setpoint);
}

void FlowModel::Step(double w) {
    const ControlParams& c = params_;
    const double e = w - flow_;
    const double eCtl = std::fabs(e) <= c.deadBand ? 0.0 : e;
    const bool withI = c.structure != 0 && c.structure != 2 && c.integrationTime > 0;
    const bool withD = c.structure != 0 && c.structure != 1;

    const double p = c.kp * eCtl;
    const double d = withD ? -c.kp * c.derivationMs * 1e-3 * flowRate_ : 0.0;
    const double forward = c.forwardGain * w + c.forwardOffset;
    double integral = integral_;
    if (withI)
        integral = std::clamp(integral + c.kp * eCtl * DT / c.integrationTime, -c.integrationLimit,
                              c.integrationLimit);
    else
        integral = 0;
    double u = forward + p + integral + d;
    // Conditional integration: the I part does not wind up against a saturated output.
    if ((u > 100.0 && integral > integral_) || (u < 0.0 && integral < integral_)) integral = integral_;
    integral_ = integral;
    u = std::clamp(forward + p + integral_ + d, 0.0, 100.0);
    const bool shut = c.shutOff && w < c.shutOffLevel;
    if (shut) {
        u = 0;
        integral_ = 0;
    }

    const double previous = flow_;
    flow_ += (u - flow_) * DT / FLOW_TIME_CONSTANT;
    flowRate_ += ((flow_ - previous) / DT - flowRate_) * DT / RATE_FILTER;
    errorFor_ = std::fabs(e) > 2 * c.window ? errorFor_ + DT : 0.0;
    if (flow_ >= c.limit)
        limitOn_ = true;
    else if (flow_ < c.limit - c.limitHysteresis)
        limitOn_ = false;

    const double inlet = InletPressure();
    const double dp = flow_ * flow_ / 100.0 * 0.8;
    state_ = Signals{w,
                     flow_,
                     inlet,
                     u,
                     std::max(0.0, u - SECOND_STAGE_START) * 1.25,
                     dp,
                     std::max(0.0, inlet - dp),
                     e,
                     p + integral_ + d,
                     u,
                     p,
                     integral_,
                     d,
                     forward,
                     0};
    state_.binary = Binary(w, u);
}

uint8_t FlowModel::Binary(double w, double u) const {
    const ControlParams& c = params_;
    const bool inWindow = std::fabs(w - flow_) <= c.window;
    const bool error = errorFor_ > ERROR_DELAY;
    uint8_t bits = 0;
    if (inWindow != c.outputInverse) bits |= BIN_DIGITAL_OUTPUT;
    if (c.shutOff && w < c.shutOffLevel) bits |= BIN_SHUT_OFF;
    if (c.autosafe && error) bits |= BIN_AUTOSAFE;
    if (limitOn_) bits |= BIN_LIMIT_SWITCH;
    if ((time_ / DIGITAL_INPUT_HALF_PERIOD) % 2 == 1) bits |= BIN_DIGITAL_INPUT;
    if (u >= 100.0) bits |= BIN_RANGE;
    if (error) bits |= BIN_ERROR;
    if (InletPressure() >= c.inputPressureLimit) bits |= BIN_INLET_PRESSURE;
    return bits;
}

double FlowModel::InletPressure() const {
    return INLET_PRESSURE + INLET_SWING * std::sin(2 * std::numbers::pi * Seconds(time_) / INLET_PERIOD);
}

// Triangular noise in -amplitude..amplitude from a xorshift generator.
double FlowModel::Noise(double amplitude) {
    auto next = [this] {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        return static_cast<double>(noise_) / 4294967295.0;
    };
    return (next() + next() - 1.0) * amplitude;
}

Signals FlowModel::Sample() {
    Signals s = state_;
    s.flow += Noise(FLOW_NOISE);
    s.analogIn2 += Noise(PRESSURE_NOISE);
    s.deviation = s.setpoint - s.flow;
    return s;
}

} // namespace valve
