#pragma once
#include "SetpointProgram.h"
#include "ValveTypes.h"

namespace valve {

// The controller settings the model takes from the selected parameter set.
struct ControlParams {
    int structure = 7; // 0 P, 1 PI, 2 PD, 3 PID, 4/5 pulse controllers, 6 cascaded, 7 flow
    double kp = 1.0;
    double integrationTime = 0.25; // s; 0 switches the I part off
    double derivationMs = 0;
    double deadBand = 0.2;         // % of deviation the controller ignores
    double integrationLimit = 100; // % the I part may reach either way
    double forwardOffset = 0;      // %
    double forwardGain = 0.5;      // x setpoint
    bool shutOff = true;
    double shutOffLevel = 1.0; // % setpoint below which the valve closes
    double window = 5.0;       // % deviation for the digital output
    double limit = 95.0;       // % flow for the limit switch
    double limitHysteresis = 2.0;
    bool outputInverse = false;
    bool autosafe = false;
    double inputPressureLimit = 20.0; // % inlet pressure
};

// Every quantity a sample can report, in percent; the binary signals one per bit.
struct Signals {
    double setpoint = 0;
    double flow = 0;
    double analogIn2 = 0; // inlet pressure sensor
    double pwm1 = 0;
    double pwm2 = 0;
    double diffPressure = 0;
    double outletPressure = 0;
    double deviation = 0;
    double pidOut = 0;
    double controlOut = 0;
    double p = 0;
    double i = 0;
    double d = 0;
    double forward = 0;
    uint8_t binary = 0;
};

// Binary signal bits of a sample record.
enum BinarySignal : uint8_t {
    BIN_DIGITAL_OUTPUT = 0x01,
    BIN_SHUT_OFF = 0x02,
    BIN_AUTOSAFE = 0x04,
    BIN_LIMIT_SWITCH = 0x08,
    BIN_DIGITAL_INPUT = 0x10,
    BIN_RANGE = 0x20,
    BIN_ERROR = 0x40,
    BIN_INLET_PRESSURE = 0x80,
};

// The valve's flow loop: a PID controller with forward control drives the valve opening, and the
// flow follows the opening as a first-order lag. Integrated in steps of one control cycle.
class FlowModel {
public:
    static constexpr Micros STEP{1000};
    static constexpr double FLOW_TIME_CONSTANT = 0.12; // s
    static constexpr double ERROR_DELAY = 0.5;         // s outside twice the window
    static constexpr Micros DIGITAL_INPUT_HALF_PERIOD{5'000'000};

    explicit FlowModel(uint32_t seed = 1) : noise_(seed == 0 ? 1 : seed) {}

    void SetParams(const ControlParams& p) { params_ = p; }
    // Runs the loop with a constant setpoint until it has settled, without moving its time.
    void Settle(double setpoint);
    // Runs the loop up to t with the setpoint the program gives at each step.
    void AdvanceTo(Micros t, const SetpointProgram& setpoint);
    Micros Time() const { return time_; }
    // The state without measurement noise.
    const Signals& State() const { return state_; }
    // The state as the valve's sensors report it, with a little noise.
    Signals Sample();

private:
    void Step(double w);
    uint8_t Binary(double w, double u) const;
    double InletPressure() const;
    double Noise(double amplitude);

    ControlParams params_;
    Signals state_;
    Micros time_{0};
    double flow_ = 0;
    double integral_ = 0;
    double flowRate_ = 0; // filtered d(flow)/dt for the D part
    double errorFor_ = 0;
    bool limitOn_ = false;
    uint32_t noise_;
};

} // namespace valve
