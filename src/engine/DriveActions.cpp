// The actions that drive the valve from the PC: serial setpoint, test function, auto-tune.
#include <cmath>

#include "engine/Action.h"
#include "engine/DeviceCommands.h"
#include "engine/DriveCommands.h"

namespace {
constexpr uint8_t APS_START = 1;

double Limited(double v, double max) {
    if (!std::isfinite(v) || v < 0) return 0;
    return v > max ? max : v;
}
} // namespace

uint8_t SerialSetpointByte(float percent) {
    return static_cast<uint8_t>(std::trunc(Limited(percent, SERIAL_SETPOINT_MAX) * 2));
}

uint8_t TestTimeByte(float seconds) {
    return static_cast<uint8_t>(std::trunc(Limited(seconds, TEST_TIME_MAX) * 10 + 0.05));
}

double TruncateToHalfPercent(double percent) {
    return std::trunc(Limited(percent, SERIAL_SETPOINT_MAX) * 2) / 2;
}

// The active flag and the value are read once, when the request is taken up (and again on a
// restart): the window writes both before it sets the request bit.
void ActionEngine::StepSerialSetpoint(uint32_t offset) {
    if (offset >= 3) {
        if (!setpointOn_) s_.SerialSetpointMayRun.store(0);
        Finish(CMD_SERIAL_SETPOINT, NOTIFY_SERIAL_SETPOINT);
        return;
    }
    if (offset == 0 && LinkIdle() && !s_.CancelRequested.load()) {
        QLN_TRACE_INFO(l_.trace, " Serial Setpoint ");
        TestFunctionData& tf = s_.testFunction;
        setpointOn_ = LoadShared(tf.SerialSetpointActive) != 0;
        setpointByte_ = setpointOn_ ? SerialSetpointByte(LoadShared(tf.SerialSetpoint)) : 0;
        if (setpointOn_)
            QLN_TRACE_INFO(l_.trace, " Send STS Set Transmit Setpoint ");
        else
            QLN_TRACE_INFO(l_.trace, " Send RTS Reset Transmit Setpoint ");
        // Until an RTS is acknowledged the valve may follow the PC: an STS whose reply was lost
        // still took effect, and an RTS that failed left the valve where it was.
        s_.SerialSetpointMayRun.store(1);
    }
    if (Exchange(offset, "STS/RTS", setpointOn_ ? CMD_STS : CMD_RTS, setpointByte_, 1) == Ex::Next) Advance();
}

// CCS sets the controller fields along with the test function in bits 6..7, so it carries the
// valve's own fields, read with CCR just before: the test function never changes the valve's
// controller, whatever project is open. No CCS goes out before that read has succeeded. RSS sends
// the time.
void ActionEngine::StepWriteTestFunction(uint32_t offset) {
    TestFunctionData& tf = s_.testFunction;
    if (offset >= 9) {
        Finish(CMD_WRITE_TEST_FUNCTION, NOTIFY_TEST_FUNCTION_WRITTEN);
        return;
    }
    if (offset == 0 && LinkIdle() && !s_.CancelRequested.load()) {
        QLN_TRACE_INFO(l_.trace, " Write Test Function ");
        // A restart after CCR was read in an earlier attempt may follow a CCS that reached the valve.
        if (retry_ == 0) s_.TestFunctionUnsent.store(1);
    }
    if (offset < 3) {
        if (Exchange(offset, "CCR", CMD_CCR, 0, 3) != Ex::Next) return;
        if (offset == 2) {
            valveController_ = l_.ReplyBuffer[1];
            s_.TestFunctionUnsent.store(0);
        }
        Advance();
        return;
    }
    const int32_t selection = LoadShared(tf.Selection);
    const bool ccs = offset < 6;
    const uint8_t data =
        ccs ? ControllerConfigByte(valveController_, selection) : TestTimeByte(LoadShared(tf.TestTime));
    if (Exchange(offset % 3, ccs ? "CCS" : "RSS", ccs ? CMD_CCS : CMD_RSS, data, 1) == Ex::Next) Advance();
}

// The CCR reply gives the controller fields of the valve's block and the test function it runs.
void ActionEngine::StepReadTestFunction(uint32_t offset) {
    TestFunctionData& tf = s_.testFunction;
    if (offset >= 3) {
        Finish(CMD_READ_TEST_FUNCTION, NOTIFY_TEST_FUNCTION_READ);
        return;
    }
    if (offset == 0 && LinkIdle() && !s_.CancelRequested.load()) {
        QLN_TRACE_INFO(l_.trace, " Read Test Function ");
        PublishValid(tf.ReadBackValid, 0);
    }
    if (Exchange(offset, "CCR", CMD_CCR, 0, 3) != Ex::Next) return;
    if (offset == 2) {
        ParamReadHold hold;
        ParamDecode(ParamTelegram::CCR, l_.ReplyBuffer[1], s_.params.ValveBlock, hold, tf);
        PublishValid(tf.ReadBackValid, 1);
    }
    Advance();
}

// The valve runs its auto-tune on its own once it has acknowledged the start.
void ActionEngine::StepAutoTune(uint32_t offset) {
    if (offset >= 3) {
        Finish(CMD_AUTOTUNE, NOTIFY_AUTOTUNE);
        return;
    }
    if (offset == 0 && LinkIdle() && !s_.CancelRequested.load())
        QLN_TRACE_INFO(l_.trace, " Write Autotune Function ");
    if (Exchange(offset, "APS", CMD_APS, APS_START, 1) == Ex::Next) Advance();
}
