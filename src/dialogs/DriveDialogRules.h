#pragma once
#include <cstdint>
#include <string>

#include "dialogs/ParameterPageRules.h"

struct QlnState;

// The rules of the Serial Setpoint and Test Function dialogs that need no widget: reading their
// fields, their spins, which control is enabled, what the test function dialog shows, and what
// each button does to the shared values and the request word.

// "%1.1f" with a '.' whatever the locale.
std::string FormatTenth(double value);

// ---- Serial Setpoint ---------------------------------------------------------------------------
// The edit's text read as on leaving it: the shared field reader with the limits 0 and 100, then
// the value cut to the valve's 0.5 % steps; the spin position is the value x 2.
struct FieldValue {
    double value;
    int position;
    std::string text;
};
FieldValue ReadSetpointField(const std::string& text);
// The spin position of a setpoint (x 2, truncated); a damaged value from a file gives 0.
int SetpointSpinPosition(double percent);
// One spin click: the position stays in 0..200, the setpoint is position x 0.5.
SpinStep StepSetpointSpin(int position, int delta);

struct SerialSetpointEnabling {
    bool input; // spin, edit and Transmit
    bool off;   // the Off button
    bool close; // Close, Escape and the window's close box
};
// While the engine is busy nothing may be sent. Off while the user has the valve follow the serial
// setpoint (`asked`) and while it may still follow it after a failed STS or RTS (`mayFollow`).
// Closing only while the user has not asked for it, whatever the engine does: after a failure the
// line may be dead and Off impossible, so the dialog can close then (it asks first).
SerialSetpointEnabling SerialSetpointEnable(uint32_t threadCmd, bool asked, bool mayFollow);

// The Serial Setpoint dialog without its widgets. The window thread owns it; the engine reads the
// setpoint and the active flag when it takes up the request, so both are stored before the
// request bit is set.
class SerialSetpointControl {
public:
    // Opens with the active flag cleared and remembers the setpoint. A valve that may still follow
    // the PC after a failure is shown active all the same (MayFollow).
    explicit SerialSetpointControl(QlnState& state);

    double Setpoint() const;
    // What the dialog shows as ON: Asked or MayFollow.
    bool Active() const;
    // The active flag: the user's Transmit, not switched off since.
    bool Asked() const;
    // Since an STS or RTS was taken up, no RTS has been acknowledged: the valve may follow the PC.
    // Only an acknowledged RTS ends this.
    bool MayFollow() const;
    SerialSetpointEnabling Enabling() const;
    // The spin or the edit changed the value.
    void SetSetpoint(double percent);
    // Both return true when they requested the serial-setpoint action.
    bool Transmit(double percent);
    bool Off(double percent);
    // A communication error clears the active flag; the valve may still follow (MayFollow).
    void OnNotification(uint32_t code);
    // Clears the active flag; true when the setpoint differs from the one at opening (the
    // project is then modified). Call it only when closing is allowed.
    bool Close();

private:
    bool Request(int32_t active, double percent);

    QlnState& s_;
    float atOpening_;
};

// ---- Test Function -----------------------------------------------------------------------------
// The time edit read as on leaving it: limits 0 and 20, spin position the whole part of time x 10.
FieldValue ReadTestTimeField(const std::string& text);
// The spin position of a time (x 10, truncated).
int TestTimeSpinPosition(double seconds);
// One spin click: the position stays in 0..200, the time is position x 0.1.
SpinStep StepTestTimeSpin(int position, int delta);

struct TestFunctionDisplay {
    int checked;           // radio checked: 0 off, 1 ramp, 2 step, 3 multistep
    unsigned readBackText; // text id of what the valve runs (" -- " until a read completed)
    int red;               // the radio of what the valve runs when it is not the one selected, or -1
};
TestFunctionDisplay ShowTestFunction(int32_t selection, int32_t readBack, bool readBackValid);

// The Test Function dialog without its widgets.
class TestFunctionControl {
public:
    // A test time of exactly 0 becomes 1.0 s.
    explicit TestFunctionControl(QlnState& state);

    bool Busy() const;
    float TestTime() const;
    int32_t Selection() const;
    TestFunctionDisplay Display() const;
    // A radio button was clicked; nothing is sent.
    void Select(int32_t selection);
    // The controls taken over (time from the edit's text, then the selection); returns the field
    // as the edit should show it.
    FieldValue TakeOver(const std::string& timeText, int32_t selection);
    // Request the write or the read (after taking the controls over) when the engine is idle.
    bool Write();
    bool Read();

private:
    QlnState& s_;
};
