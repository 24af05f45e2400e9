#include "dialogs/DriveDialogRules.h"

#include <charconv>
#include <cmath>

#include "engine/DriveCommands.h"
#include "engine/QlnState.h"

namespace {
constexpr int SETPOINT_POSITIONS = 200; // 0.5 % each
constexpr int TIME_POSITIONS = 200;     // 0.1 s each
constexpr unsigned TEXT_NO_VALUE = 134;
constexpr unsigned TEST_FUNCTION_TEXTS[] = {36, 173, 174, 175};

int Clamp(int v, int high) {
    return v < 0 ? 0 : (v > high ? high : v);
}

// The whole part of value x scale, with a hair of tolerance: 2.3f is 2.2999999, and its spin
// position is 23, not 22.
int Position(double value, double scale) {
    if (!std::isfinite(value)) return 0;
    return static_cast<int>(std::trunc(std::fmax(-1e9, std::fmin(1e9, value * scale + 1e-4))));
}

bool RequestWhenIdle(QlnState& s, uint32_t bit) {
    uint32_t idle = 0;
    if (!s.THREAD_CMD.compare_exchange_strong(idle, bit)) return false;
    WakeEngine(s.link);
    return true;
}
} // namespace

std::string FormatTenth(double value) {
    if (!std::isfinite(value)) value = 0;
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 1);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0.0");
}

// ---- Serial Setpoint ---------------------------------------------------------------------------

FieldValue ReadSetpointField(const std::string& text) {
    std::string t = text;
    float v = 0;
    ValidateFloatEdit(t, v, 0, static_cast<float>(SERIAL_SETPOINT_MAX));
    const double value = TruncateToHalfPercent(v);
    return {value, SetpointSpinPosition(value), FormatTenth(value)};
}

int SetpointSpinPosition(double percent) {
    return Clamp(Position(percent, 2), SETPOINT_POSITIONS);
}

SpinStep StepSetpointSpin(int position, int delta) {
    const int p = Clamp(position + delta, SETPOINT_POSITIONS);
    return {p, p * 0.5};
}

SerialSetpointEnabling SerialSetpointEnable(uint32_t threadCmd, bool asked, bool mayFollow) {
    const bool idle = threadCmd == 0;
    return {idle, idle && (asked || mayFollow), !asked};
}

SerialSetpointControl::SerialSetpointControl(QlnState& state)
    : s_(state), atOpening_(LoadShared(state.testFunction.SerialSetpoint)) {
    StoreShared(s_.testFunction.SerialSetpointActive, 0);
}

double SerialSetpointControl::Setpoint() const {
    return LoadShared(s_.testFunction.SerialSetpoint);
}

bool SerialSetpointControl::Active() const {
    return Asked() || MayFollow();
}

bool SerialSetpointControl::Asked() const {
    return LoadShared(s_.testFunction.SerialSetpointActive) != 0;
}

bool SerialSetpointControl::MayFollow() const {
    return s_.SerialSetpointMayRun.load() != 0;
}

SerialSetpointEnabling SerialSetpointControl::Enabling() const {
    return SerialSetpointEnable(s_.THREAD_CMD.load(), Asked(), MayFollow());
}

void SerialSetpointControl::SetSetpoint(double percent) {
    StoreShared(s_.testFunction.SerialSetpoint, static_cast<float>(percent));
}

bool SerialSetpointControl::Transmit(double percent) {
    return Request(1, percent);
}

bool SerialSetpointControl::Off(double percent) {
    return Active() && Request(0, percent);
}

// The value and the flag go first, the request bit last: the engine decides between STS and RTS
// by the flag as soon as it sees the bit.
bool SerialSetpointControl::Request(int32_t active, double percent) {
    if (s_.THREAD_CMD.load() != 0) return false;
    TestFunctionData& tf = s_.testFunction;
    const int32_t before = LoadShared(tf.SerialSetpointActive);
    StoreShared(tf.SerialSetpoint, static_cast<float>(percent));
    StoreShared(tf.SerialSetpointActive, active);
    if (RequestWhenIdle(s_, CMD_SERIAL_SETPOINT)) return true;
    StoreShared(tf.SerialSetpointActive, before);
    return false;
}

void SerialSetpointControl::OnNotification(uint32_t code) {
    if (RequestFailed(code)) StoreShared(s_.testFunction.SerialSetpointActive, 0);
}

bool SerialSetpointControl::Close() {
    StoreShared(s_.testFunction.SerialSetpointActive, 0);
    return LoadShared(s_.testFunction.SerialSetpoint) != atOpening_;
}

// ---- Test Function -----------------------------------------------------------------------------

FieldValue ReadTestTimeField(const std::string& text) {
    std::string t = text;
    float v = 0;
    ValidateFloatEdit(t, v, 0, static_cast<float>(TEST_TIME_MAX));
    return {v, TestTimeSpinPosition(v), t};
}

int TestTimeSpinPosition(double seconds) {
    return Clamp(Position(seconds, 10), TIME_POSITIONS);
}

SpinStep StepTestTimeSpin(int position, int delta) {
    const int p = Clamp(position + delta, TIME_POSITIONS);
    return {p, p * 0.1};
}

TestFunctionDisplay ShowTestFunction(int32_t selection, int32_t readBack, bool readBackValid) {
    TestFunctionDisplay d{selection >= TEST_RAMP && selection <= TEST_MULTISTEP ? selection : TEST_OFF,
                          TEXT_NO_VALUE, -1};
    if (!readBackValid || readBack < TEST_OFF || readBack > TEST_MULTISTEP) return d;
    d.readBackText = TEST_FUNCTION_TEXTS[readBack];
    if (readBack != selection) d.red = readBack;
    return d;
}

TestFunctionControl::TestFunctionControl(QlnState& state) : s_(state) {
    if (LoadShared(s_.testFunction.TestTime) == 0.0f) StoreShared(s_.testFunction.TestTime, 1.0f);
}

bool TestFunctionControl::Busy() const {
    return s_.THREAD_CMD.load() != 0;
}

float TestFunctionControl::TestTime() const {
    return LoadShared(s_.testFunction.TestTime);
}

int32_t TestFunctionControl::Selection() const {
    return LoadShared(s_.testFunction.Selection);
}

TestFunctionDisplay TestFunctionControl::Display() const {
    TestFunctionData& tf = s_.testFunction;
    const bool valid = LoadValid(tf.ReadBackValid) != 0;
    return ShowTestFunction(Selection(), valid ? tf.ReadBack : 0, valid);
}

void TestFunctionControl::Select(int32_t selection) {
    StoreShared(s_.testFunction.Selection, selection);
}

FieldValue TestFunctionControl::TakeOver(const std::string& timeText, int32_t selection) {
    const FieldValue time = ReadTestTimeField(timeText);
    StoreShared(s_.testFunction.TestTime, static_cast<float>(time.value));
    Select(selection);
    return time;
}

// The CCS keeps the valve's own controller settings: the engine reads them first.
bool TestFunctionControl::Write() {
    if (Busy()) return false;
    return RequestWhenIdle(s_, CMD_WRITE_TEST_FUNCTION);
}

bool TestFunctionControl::Read() {
    return RequestWhenIdle(s_, CMD_READ_TEST_FUNCTION);
}
