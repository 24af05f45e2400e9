// The action engine through its real threads against the built-in simulated valve, and the
// dispatcher's handling of requests and steps it does not know.
#include <gtest/gtest.h>

#include "engine/Action.h"
#include "support/EngineHarness.h"
#include "text/Texts.h"

using namespace qln_test;

namespace {
// Position of `needle` in the trace, or npos; for checking the order of entries.
size_t At(const std::string& trace, const std::string& needle) {
    return trace.find(needle);
}

class ActionEngineTestMode : public ::testing::Test {
protected:
    void SetUp() override {
        rig.UseTestMode();
        rig.Start();
    }
    EngineRig rig;
};
} // namespace

TEST_F(ActionEngineTestMode, ReadParameterRunsTheBaudRateTestFirstThenDecodesEveryReply) {
    ParameterBlock& v = rig.s.params.ValveBlock;
    // Fields whose reply 0x40 is out of range must keep what they held.
    v.SETPOINT_SIGNAL = 1;
    v.SHUT_OFF = 1;
    v.PARAMETER_SET = 1;
    v.OVERTEMPERATURE = 1;

    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(rig.WaitIdle());

    const std::string trace = rig.TraceText();
    const size_t dispatch = At(trace, "THREAD_CMD: 0x10001 ");
    const size_t baud = At(trace, " Send Baudrate Test ");
    const size_t found = At(trace, " Baudrate Test successfull ");
    const size_t read = At(trace, "Read Parameter");
    ASSERT_NE(dispatch, std::string::npos) << trace;
    ASSERT_NE(read, std::string::npos);
    EXPECT_LT(dispatch, baud);
    EXPECT_LT(baud, found);
    EXPECT_LT(found, read);
    EXPECT_NE(At(trace, "THREAD_CMD: 0x1 "), std::string::npos) << "the read is dispatched after the test";
    // The simulated valve answers 0x40 to every parameter read but SHR (63), which gets 0x1B.
    EXPECT_EQ(CountOf(trace, "'024040'"), 35u);
    EXPECT_EQ(CountOf(trace, "'021B1B'"), 1u);

    EXPECT_EQ(rig.link.BaudIndex.load(), 2) << "the simulated valve answers at the first rate";
    EXPECT_EQ(rig.s.deviceInfo.ControllerFirmware, 23);

    EXPECT_EQ(v.BLOCK_VALID, 1);
    EXPECT_FLOAT_EQ(v.PROPORTIONAL_GAIN, 0.64f);
    EXPECT_FLOAT_EQ(v.INTEGRATION_TIME, 3.2f);
    EXPECT_EQ(v.DERIVATION_TIME, 64);
    EXPECT_FLOAT_EQ(v.DEAD_BAND, 6.4f);
    EXPECT_EQ(v.FORWARD_OFFSET, 64);
    EXPECT_FLOAT_EQ(v.FORWARD_GAIN, 0.64f);
    EXPECT_EQ(v.PWM_FREQUENCY, 640);
    EXPECT_EQ(v.CURRENT_LIMIT_LEVEL, 640);
    EXPECT_FLOAT_EQ(v.LIMIT_SIZE, 32.0f);
    EXPECT_FLOAT_EQ(v.LIMIT_HYSTERESIS, 2.7f);
    EXPECT_EQ(v.SETPOINT_OFFSET, 14);
    EXPECT_EQ(v.AUTO_ZERO_VALUE, -64);
    EXPECT_EQ(v.AUTO_ZERO_DP_VALUE, -64);
    EXPECT_EQ(v.SETPOINT_SIGNAL, 1);
    EXPECT_EQ(v.SHUT_OFF, 1);
    // CAR 0x40: bit 6 set means the custom set; every flag clear.
    EXPECT_EQ(v.PARAMETER_SET, 0);
    EXPECT_EQ(v.OVERTEMPERATURE, 0);
    // CCR 0x40: structure 0, test function 1 in bits 6..7.
    EXPECT_EQ(v.CONTROLLER_STRUCTURE, 0);
    EXPECT_EQ(rig.s.testFunction.ReadBack, 1);
    EXPECT_EQ(rig.s.testFunction.ReadBackValid, 1);

    const auto events = rig.notifier.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].sent) << "an action's end is sent, not posted";
}

TEST_F(ActionEngineTestMode, DeviceInfoStatusWriteAndCounterResetsComplete) {
    ASSERT_TRUE(rig.Request(CMD_READ_DEVICE_INFO, NOTIFY_DEVICE_INFO));
    const DeviceInfo& d = rig.s.deviceInfo;
    EXPECT_EQ(d.Valid, 1);
    EXPECT_EQ(d.ControllerFirmware, 23);
    EXPECT_EQ(d.SerialNumber, 329223);
    EXPECT_EQ(d.OperationCounter, 4386);
    EXPECT_EQ(d.ValveTemperature, -23);
    EXPECT_EQ(d.CalibrationTemperature, 27);
    const int32_t digits[6] = {0, 0, 0, 1, 0, 2};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(d.PartNumberDigit[i], digits[i]) << "digit " << i + 1;
    EXPECT_EQ(d.PartNumberVariant, 0x0304);
    EXPECT_EQ(d.ProductionYear, 8);
    EXPECT_EQ(d.ProductionWeek, 9);
    EXPECT_EQ(d.CalibrationCounter, 0x33);
    EXPECT_EQ(d.CalibrationStatus, 0x77);

    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_TRUE(rig.Request(CMD_READ_STATUS, NOTIFY_STATUS));
    const StatusInfo& st = rig.s.statusInfo;
    EXPECT_EQ(st.Valid, 1);
    EXPECT_EQ(st.Overvoltage, 1);
    EXPECT_EQ(st.DigitalOutput, 2);
    EXPECT_EQ(st.Jumper, 2);
    EXPECT_EQ(st.KeyLock, 1);
    EXPECT_EQ(st.LedRed, 3);
    EXPECT_EQ(st.LedGreen, 3);
    EXPECT_EQ(st.LedYellow, 3);

    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_TRUE(rig.Request(CMD_WRITE_PARAMETER, NOTIFY_PARAMETERS_WRITTEN));
    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_TRUE(rig.Request(CMD_RESET_OPERATION_COUNTER, NOTIFY_OPERATION_COUNTER_RESET));
    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_TRUE(rig.Request(CMD_RESET_CALIBRATION_COUNTER, NOTIFY_CALIBRATION_COUNTER_RESET));
    ASSERT_TRUE(rig.WaitIdle());

    const std::string trace = rig.TraceText();
    EXPECT_EQ(CountOf(trace, " Send Baudrate Test "), 1u) << "the rate is found once";
    EXPECT_NE(trace.find(" Write Parameter "), std::string::npos);
    EXPECT_EQ(CountOf(trace, "'06'"), 34u) << "every write acknowledged";
    EXPECT_EQ(rig.notifier.Codes(),
              (std::vector<uint32_t>{NOTIFY_DEVICE_INFO, NOTIFY_STATUS, NOTIFY_PARAMETERS_WRITTEN,
                                     NOTIFY_OPERATION_COUNTER_RESET, NOTIFY_CALIBRATION_COUNTER_RESET}));
}

TEST_F(ActionEngineTestMode, UnknownRequestBitIsDroppedWithAMessage) {
    constexpr uint32_t unknownBit = 0x2000000;
    RequestAction(rig.s, unknownBit);
    ASSERT_TRUE(WaitUntil([&] { return !rig.notifier.Messages().empty(); }));
    ASSERT_TRUE(rig.WaitIdle());

    const auto messages = rig.notifier.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Unknown THREAD_CMD: 0x2000000 ");
    EXPECT_EQ(messages[0].caption, LoadText(IDS_APP_TITLE));
    EXPECT_EQ(rig.s.ACTION_STEP.load(), 0u);
    EXPECT_TRUE(rig.notifier.Codes().empty());
    // The baud-rate test still runs first: the word is only known to be unknown afterwards.
    EXPECT_NE(rig.TraceText().find("Unknown THREAD_CMD: 0x2000000 "), std::string::npos);
}

TEST(ActionEngineDispatch, StepOutsideEveryActionIsReportedAndReset) {
    ManualClock clock;
    auto state = std::make_unique<QlnState>(clock);
    QlnState& s = *state;
    TempDir dir;
    s.link.trace.TraceEnabled.store(1);
    s.link.trace.OpenTrace(dir.File("debug.txt"), LoadText(IDS_APP_TITLE), 0);
    RecordingNotifier notifier;
    ActionEngine engine(s, notifier);

    s.THREAD_CMD.store(CMD_READ_PARAMETER); // a pass with an idle word would reset the step itself
    s.ACTION_STEP.store(0x400);
    engine.Pass();

    EXPECT_EQ(s.ACTION_STEP.load(), 0u);
    const auto messages = notifier.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Wrong Action-Step: x400");
    EXPECT_EQ(messages[0].caption, LoadText(IDS_APP_TITLE));
    s.link.trace.CloseTrace();
    EXPECT_NE(ReadWholeFile(dir.File("debug.txt")).find("Wrong Action-Step: x400"), std::string::npos);
}
