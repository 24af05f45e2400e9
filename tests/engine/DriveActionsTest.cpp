// Serial setpoint, test function and auto-tune through the real engine threads and a real
// pseudo-terminal: the telegrams the valve receives, the trace entries, the notifications, and what
// a failure leaves behind.
#include <gtest/gtest.h>

#include "engine/FailureReport.h"
#include "support/EngineHarness.h"
#include "support/ScriptedValve.h"
#include "text/Texts.h"

using namespace qln_test;

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Telegram(uint8_t cmd, uint8_t data) {
    return {0x02, cmd, data, static_cast<uint8_t>(cmd + data)};
}

// The valve's command bytes, written out from the protocol description.
constexpr uint8_t STS = 37, RTS = 38, RSS = 86, CCS = 100, CCR = 101, APS = 145;

// A valve that acknowledges the drive telegrams and answers CCR with `ccr`; `refuse` gets NAK.
struct DriveValve {
    explicit DriveValve(uint8_t ccrValue = 0, uint8_t refused = 0) : ccr(ccrValue), refuse(refused) {}
    ScriptedValve::Behaviour Behaviour() {
        return [this](const Bytes& r) -> Bytes {
            const uint8_t cmd = r[1];
            if (cmd == refuse) return {0x15};
            if (cmd == CCR) return Framed({ccr});
            if (cmd == STS || cmd == RTS || cmd == RSS || cmd == CCS || cmd == APS) return {0x06};
            return model.Answer(r);
        };
    }
    ValveModel model;
    uint8_t ccr;
    uint8_t refuse;
};

// The requests after the rate test's VER.
std::vector<Bytes> AfterRateTest(const ScriptedValve& valve) {
    std::vector<Bytes> out;
    for (const auto& r : valve.Requests())
        if (r.bytes[1] != 0x23) out.push_back(r.bytes);
    return out;
}
} // namespace

TEST(DriveActions, SerialSetpointSendsStsWhileActiveAndRtsOtherwise) {
    DriveValve model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    TestFunctionData& tf = rig.s.testFunction;
    tf.SerialSetpoint = 37.5f;
    tf.SerialSetpointActive = 1;
    ASSERT_TRUE(rig.Request(CMD_SERIAL_SETPOINT, NOTIFY_SERIAL_SETPOINT));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.s.SerialSetpointMayRun.load(), 1) << "the valve now follows the PC";

    tf.SerialSetpointActive = 0;
    ASSERT_TRUE(rig.Request(CMD_SERIAL_SETPOINT, NOTIFY_SERIAL_SETPOINT));
    ASSERT_TRUE(rig.notifier.WaitForCount(2));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.s.SerialSetpointMayRun.load(), 0) << "the valve acknowledged RTS";

    EXPECT_EQ(AfterRateTest(valve), (std::vector<Bytes>{Telegram(STS, 75), Telegram(RTS, 0)}));
    const auto events = rig.notifier.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].sent && events[1].sent) << "the end of the action is sent, not posted";
    const std::string trace = rig.TraceText();
    EXPECT_EQ(CountOf(trace, " Serial Setpoint "), 2u) << trace;
    EXPECT_LT(trace.find(" Send STS Set Transmit Setpoint "),
              trace.find(" Send RTS Reset Transmit Setpoint "));
    EXPECT_NE(trace.find("THREAD_CMD: 0x2000 "), std::string::npos);
}

TEST(DriveActions, SetpointsAreCutToHalfPercentsAndKeptInsideTheValvesRange) {
    DriveValve model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();
    const std::pair<float, uint8_t> cases[] = {{0.0f, 0},     {0.7f, 1},     {60.0f, 120},
                                               {100.0f, 200}, {150.0f, 200}, {-5.0f, 0}};
    size_t n = 0;
    for (const auto& [percent, data] : cases) {
        rig.s.testFunction.SerialSetpoint = percent;
        rig.s.testFunction.SerialSetpointActive = 1;
        ASSERT_TRUE(rig.Request(CMD_SERIAL_SETPOINT, NOTIFY_SERIAL_SETPOINT));
        ASSERT_TRUE(rig.notifier.WaitForCount(++n));
        ASSERT_TRUE(rig.WaitIdle());
        EXPECT_EQ(AfterRateTest(valve).back(), Telegram(STS, data)) << percent;
    }
}

// CCS also sets the controller: it carries the valve's own bits 0..5, read with CCR just before.
TEST(DriveActions, WriteTestFunctionKeepsTheValvesControllerFieldsThenSendsTheTime) {
    DriveValve model(0x65); // structure 5, range detection 0, auto zero 1, ramp running
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    ParameterBlock& edit = rig.s.params.EditBlock; // another project's controller: not sent
    edit.CONTROLLER_STRUCTURE = 3;
    edit.SETPOINT_RANGE_DETECTION = 2;
    rig.s.testFunction.Selection = 2; // step
    rig.s.testFunction.TestTime = 2.5f;
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_WRITE_TEST_FUNCTION, NOTIFY_TEST_FUNCTION_WRITTEN));
    ASSERT_TRUE(rig.WaitIdle());
    // 0x25 | 2 << 6
    EXPECT_EQ(AfterRateTest(valve),
              (std::vector<Bytes>{Telegram(CCR, 0), Telegram(CCS, 0xA5), Telegram(RSS, 25)}));
    EXPECT_NE(rig.TraceText().find(" Write Test Function "), std::string::npos);

    // Off clears bits 6..7; 20 s is the longest time; anything above is sent as 20 s.
    rig.s.testFunction.Selection = 0;
    rig.s.testFunction.TestTime = 25.0f;
    ASSERT_TRUE(rig.Request(CMD_WRITE_TEST_FUNCTION, NOTIFY_TEST_FUNCTION_WRITTEN));
    ASSERT_TRUE(rig.notifier.WaitForCount(2));
    ASSERT_TRUE(rig.WaitIdle());
    const auto sent = AfterRateTest(valve);
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[3], Telegram(CCR, 0));
    EXPECT_EQ(sent[4], Telegram(CCS, 0x25));
    EXPECT_EQ(sent[5], Telegram(RSS, 200));
}

// Without the valve's controller byte the test function is not written at all, and the report says so.
TEST(DriveActions, AWriteTestFunctionWhoseReadFailsSendsNoCcs) {
    DriveValve model(0, CCR);
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_WRITE_TEST_FUNCTION, NOTIFY_BAD_REPLY));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(AfterRateTest(valve), std::vector<Bytes>(4, Telegram(CCR, 0)))
        << "first try and three restarts";
    const std::string report = FailureReport(*rig.state, TextSource());
    EXPECT_NE(report.find("controller settings could not be read, so the test function was not written"),
              std::string::npos)
        << report;
}

TEST(DriveActions, ReadTestFunctionTakesTheSelectionAndTheValvesControllerFields) {
    // 0x95: structure 5, range detection 2, auto zero 0, test function 2 (step).
    DriveValve model(0x95);
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_READ_TEST_FUNCTION, NOTIFY_TEST_FUNCTION_READ));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(AfterRateTest(valve), (std::vector<Bytes>{Telegram(CCR, 0)}));
    EXPECT_EQ(rig.s.testFunction.ReadBack, 2);
    EXPECT_EQ(rig.s.testFunction.ReadBackValid, 1);
    const ParameterBlock& v = rig.s.params.ValveBlock;
    EXPECT_EQ(v.CONTROLLER_STRUCTURE, 5);
    EXPECT_EQ(v.SETPOINT_RANGE_DETECTION, 2);
    EXPECT_EQ(v.AUTO_ZERO_FEEDBACK, 0);
    EXPECT_NE(rig.TraceText().find(" Read Test Function "), std::string::npos);
}

TEST(DriveActions, AutoTuneSendsApsOne) {
    DriveValve model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_AUTOTUNE, NOTIFY_AUTOTUNE));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(AfterRateTest(valve), (std::vector<Bytes>{Telegram(APS, 1)}));
    EXPECT_NE(rig.TraceText().find(" Write Autotune Function "), std::string::npos);
}

// A refused RTS leaves the valve on the PC's setpoint: the failure says so, and how to end it.
TEST(DriveActions, ARefusedRtsEndsWithBadReplyAndTheReportSaysTheValveMayStillFollow) {
    DriveValve model(0, RTS);
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    rig.s.testFunction.SerialSetpointActive = 0;
    ASSERT_TRUE(rig.Request(CMD_SERIAL_SETPOINT, NOTIFY_BAD_REPLY));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(AfterRateTest(valve), std::vector<Bytes>(4, Telegram(RTS, 0)))
        << "first try and three restarts";
    const std::string trace = rig.TraceText();
    EXPECT_NE(trace.find("Action STS/RTS '0x26'"), std::string::npos) << trace;
    EXPECT_EQ(rig.s.SerialSetpointMayRun.load(), 1);
    const TextSource texts;
    const std::string report = FailureReport(*rig.state, texts);
    EXPECT_NE(report.find("may still follow the serial setpoint"), std::string::npos) << report;
    EXPECT_NE(report.find("refused"), std::string::npos) << report;
}
