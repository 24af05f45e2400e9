// The Serial Setpoint and Test Function dialogs' rules without widgets: fields, spins, enabling,
// what the test function dialog shows, and what the buttons leave in the shared state.
#include <gtest/gtest.h>

#include "dialogs/DriveDialogRules.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

namespace {
struct Shared {
    ManualClock clock;
    QlnState s{clock};
};
} // namespace

TEST(SerialSetpointRules, TypedValuesAreLimitedAndCutToHalfPercents) {
    const struct {
        const char* typed;
        const char* shown;
        int position;
    } cases[] = {{"37.8", "37.5", 75},      {"150", "100.0", 200}, {"-5", "0.0", 0},
                 {"12abc", "12.0", 12 * 2}, {"", "0.0", 0},        {"0.5", "0.5", 1},
                 {"99.99", "99.5", 199}};
    for (const auto& c : cases) {
        const FieldValue f = ReadSetpointField(c.typed);
        EXPECT_EQ(f.text, c.shown) << c.typed;
        EXPECT_EQ(f.position, c.position) << c.typed;
    }
    EXPECT_EQ(StepSetpointSpin(199, 1).position, 200);
    EXPECT_DOUBLE_EQ(StepSetpointSpin(199, 1).value, 100.0);
    EXPECT_EQ(StepSetpointSpin(200, 1).position, 200);
    EXPECT_EQ(StepSetpointSpin(0, -1).position, 0);
}

TEST(SerialSetpointRules, EnablingFollowsTheEngineAndTheActiveFlag) {
    // Idle and off: only Transmit and Close.
    EXPECT_TRUE(SerialSetpointEnable(0, false, false).input);
    EXPECT_FALSE(SerialSetpointEnable(0, false, false).off);
    EXPECT_TRUE(SerialSetpointEnable(0, false, false).close);
    // Idle and active: Off, but no Close.
    EXPECT_TRUE(SerialSetpointEnable(0, true, true).off);
    EXPECT_FALSE(SerialSetpointEnable(0, true, true).close);
    // After a failure the valve may still follow: Off, and Close (the line may be dead).
    EXPECT_TRUE(SerialSetpointEnable(0, false, true).off);
    EXPECT_TRUE(SerialSetpointEnable(0, false, true).close);
    // Busy: nothing can be sent; Close only by the active flag.
    for (bool active : {false, true}) {
        const SerialSetpointEnabling e = SerialSetpointEnable(CMD_SERIAL_SETPOINT, active, true);
        EXPECT_FALSE(e.input);
        EXPECT_FALSE(e.off);
        EXPECT_EQ(e.close, !active);
    }
}

// The engine decides between STS and RTS by the flag the moment it sees the request, so the flag
// and the value are in place before the bit, and a refused request leaves the flag as it was.
TEST(SerialSetpointRules, TransmitAndOffStoreFlagAndValueBeforeTheRequest) {
    Shared sh;
    TestFunctionData& tf = sh.s.testFunction;
    tf.SerialSetpoint = 12.5f;
    tf.SerialSetpointActive = 1; // left over: the dialog always opens with the flag cleared
    SerialSetpointControl c(sh.s);
    EXPECT_FALSE(c.Active());
    EXPECT_FALSE(c.Off(10)) << "nothing to switch off";
    EXPECT_EQ(sh.s.THREAD_CMD.load(), 0u);

    ASSERT_TRUE(c.Transmit(37.5));
    EXPECT_EQ(sh.s.THREAD_CMD.load(), uint32_t{CMD_SERIAL_SETPOINT});
    EXPECT_EQ(tf.SerialSetpointActive, 1);
    EXPECT_FLOAT_EQ(tf.SerialSetpoint, 37.5f);
    EXPECT_FALSE(c.Transmit(50)) << "the engine is busy";
    EXPECT_FLOAT_EQ(tf.SerialSetpoint, 37.5f);
    EXPECT_FALSE(c.Off(50));
    EXPECT_EQ(tf.SerialSetpointActive, 1) << "a refused Off changes nothing";

    sh.s.THREAD_CMD.store(0);
    ASSERT_TRUE(c.Off(37.5));
    EXPECT_EQ(tf.SerialSetpointActive, 0);
    EXPECT_EQ(sh.s.THREAD_CMD.load(), uint32_t{CMD_SERIAL_SETPOINT});

    // A communication error ends the active state; other codes do not.
    sh.s.THREAD_CMD.store(0);
    ASSERT_TRUE(c.Transmit(40));
    c.OnNotification(NOTIFY_SERIAL_SETPOINT);
    EXPECT_TRUE(c.Active());
    c.OnNotification(NOTIFY_REPLY_TIMEOUT);
    EXPECT_FALSE(c.Active());
}

TEST(SerialSetpointRules, CloseReportsAChangedSetpointOnly) {
    Shared sh;
    sh.s.testFunction.SerialSetpoint = 20;
    {
        SerialSetpointControl c(sh.s);
        EXPECT_FALSE(c.Close()) << "opened and closed without a change";
    }
    SerialSetpointControl c(sh.s);
    c.SetSetpoint(StepSetpointSpin(40, 1).value);
    EXPECT_TRUE(c.Close());
    EXPECT_FLOAT_EQ(sh.s.testFunction.SerialSetpoint, 20.5f);
}

TEST(TestFunctionRules, TimeFieldAndSpinStayWithinTwentySeconds) {
    EXPECT_EQ(ReadTestTimeField("2.5").position, 25);
    EXPECT_EQ(ReadTestTimeField("2.3").position, 23) << "2.3f is a hair below 2.3";
    EXPECT_EQ(ReadTestTimeField("25").text, "20.0");
    EXPECT_EQ(ReadTestTimeField("x").text, "0.0");
    EXPECT_EQ(StepTestTimeSpin(200, 1).position, 200) << "a step up from 20.0 stays at 20.0";
    EXPECT_DOUBLE_EQ(StepTestTimeSpin(200, 1).value, 20.0);
    EXPECT_EQ(StepTestTimeSpin(0, -3).position, 0);
}

TEST(TestFunctionRules, RedMarksWhatTheValveRunsWhenItIsNotTheSelection) {
    // Not read yet: " -- " and nothing red.
    TestFunctionDisplay d = ShowTestFunction(2, 1, false);
    EXPECT_EQ(d.checked, 2);
    EXPECT_EQ(d.readBackText, 134u);
    EXPECT_EQ(d.red, -1);
    // The valve runs a ramp while step is selected.
    d = ShowTestFunction(2, 1, true);
    EXPECT_EQ(d.readBackText, 173u);
    EXPECT_EQ(d.red, 1);
    // The same function: nothing red.
    d = ShowTestFunction(3, 3, true);
    EXPECT_EQ(d.readBackText, 175u);
    EXPECT_EQ(d.red, -1);
    d = ShowTestFunction(1, 0, true);
    EXPECT_EQ(d.readBackText, 36u);
    EXPECT_EQ(d.red, 0);
    // A selection outside the list shows Off checked.
    EXPECT_EQ(ShowTestFunction(7, 0, false).checked, 0);
}

TEST(TestFunctionRules, OpensWithOneSecondAndRequestsOnlyIntoAnIdleWord) {
    Shared sh;
    TestFunctionControl c(sh.s);
    EXPECT_FLOAT_EQ(sh.s.testFunction.TestTime, 1.0f) << "a time of 0 becomes 1.0";
    const FieldValue f = c.TakeOver("2.55", 3);
    EXPECT_EQ(f.text, "2.5");
    EXPECT_EQ(sh.s.testFunction.Selection, 3);
    ASSERT_TRUE(c.Write());
    EXPECT_EQ(sh.s.THREAD_CMD.load(), uint32_t{CMD_WRITE_TEST_FUNCTION});
    EXPECT_FALSE(c.Read());
    EXPECT_EQ(sh.s.THREAD_CMD.load(), uint32_t{CMD_WRITE_TEST_FUNCTION});
}
