// The action engine through its real threads and a real pseudo-terminal, against a valve the
// test scripts: rate search, telegram order and contents, retries, time-outs, vanished devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "engine/DeviceCommands.h"
#include "support/EngineHarness.h"
#include "support/ScriptedValve.h"

using namespace qln_test;

namespace {
std::vector<uint8_t> Telegram(uint8_t cmd, uint8_t data) {
    return {0x02, cmd, data, static_cast<uint8_t>(cmd + data)};
}

// The write commands of a full parameter write: each read command but AZR (85) and ZPR (127), less
// one.
std::vector<uint8_t> WriteCommands() {
    std::vector<uint8_t> out;
    for (uint8_t read : ParameterReadCommands())
        if (read != 85 && read != 127) out.push_back(static_cast<uint8_t>(read - 1));
    return out;
}

size_t CountCommand(const std::vector<uint8_t>& cmds, uint8_t cmd) {
    return static_cast<size_t>(std::count(cmds.begin(), cmds.end(), cmd));
}

// A working block in which every written field holds a value the valve can store exactly.
ParameterBlock SampleEditBlock() {
    ParameterBlock b{};
    b.PROPORTIONAL_GAIN = 1.23f;
    b.INTEGRATION_TIME = 2.5f;
    b.DERIVATION_TIME = 7;
    b.DEAD_BAND = 0.3f;
    b.FORWARD_OFFSET = 12;
    b.FORWARD_GAIN = 0.45f;
    b.INTEGRATION_LIMIT = 80;
    b.PWM_FREQUENCY = 1500;
    b.CONTROL_CYCLE_TIME = 3;
    b.CONTROLLER_STRUCTURE = 3;
    b.SETPOINT_RANGE_DETECTION = 2;
    b.AUTO_ZERO_FEEDBACK = 1;
    b.SETPOINT_SIGNAL = 2;
    b.OVERTEMPERATURE = 1;
    b.FEEDBACK_SELECT = 0;
    b.ANALOG_IN_2_DIRECTION = 1;
    b.SETPOINT_SELECTION = 0;
    b.SETPOINT_DIRECTION = 1;
    b.AUTOSAFE = 1;
    b.PARAMETER_SET = 1;
    b.SETPOINT_ADJUSTMENT = 1;
    b.SHUT_OFF = 1;
    b.SHUT_OFF_LEVEL = 2.5f;
    b.SETPOINT_OFFSET = -20;
    b.SETPOINT_SPAN = 90;
    b.PRESSURE_SWITCH_OUTPUT_SOURCE = 3;
    b.RAMP_FUNCTION = 2;
    b.SELECT_POLARITY = 1;
    b.SELECT_FUNCTION = 5;
    b.RAMP_RISE_TIME = 1.5f;
    b.RAMP_FALL_TIME = 2.0f;
    b.ANALOG_OUT_SELECT = 4;
    b.ERROR_SELECT = 6;
    b.OPTION_INPUT_PRESSURE_SENSOR = 2;
    b.ANALOG_IN_2_SIGNAL = 1;
    b.OVERTEMPERATURE_LIMIT = 85;
    b.AUTOSAFE_SOURCE = 1;
    b.KEY_LOCK = 0;
    b.I_VALUE = 1;
    b.I_SEARCH = 0;
    b.AUTO_ZERO_DP_FEEDBACK = 1;
    b.DISPLAY_SELECT = 3;
    b.CURRENT_LIMIT_LEVEL = 800;
    b.INPUT_PRESSURE_LIMIT = 40;
    b.DELAY_TIME = 5;
    b.COIL_OFF_TIME = 3;
    b.COIL_ON_TIME = 2;
    b.LED_GREEN = 1;
    b.LED_YELLOW = 2;
    b.LED_RED = 3;
    b.KEY_FUNCTION = 1;
    b.OUTPUT_DELAY = 1.2f;
    b.OUTPUT_MODE = 1;
    b.WINDOW_SIZE = 5.5f;
    b.LIMIT_SIZE = 3.5f;
    b.I_SEARCH_RAMPTIME = 20;
    b.I_SEARCH_FEEDBACK_THRESHOLD = 15;
    b.LIMIT_HYSTERESIS = 0.8f;
    return b;
}

bool NotWritten(const std::string& name) {
    for (const char* n : {"BLOCK_VALID", "AUTO_ZERO_VALUE", "AUTO_ZERO_DP_VALUE", "SLAVE_GAIN"})
        if (name == n) return true;
    return false;
}

// The text of the first error notification, or "".
std::string ErrorTextOf(const RecordingNotifier& n, uint32_t code) {
    for (const auto& e : n.Events())
        if (e.code == code) return e.text;
    return "";
}
} // namespace

// ---- rate search and the parameter telegrams ------------------------------------------------

TEST(ActionEngineLine, ValveAnsweringOnlyAt57600IsFoundAfterATryAt19200AndReadInTableOrder) {
    ValveModel model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), B57600, &rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.link.BaudIndex.load(), 3);

    const auto requests = valve.Requests();
    ASSERT_EQ(requests.size(), 2u + 36u);
    EXPECT_EQ(requests[0].bytes, Telegram(0x23, 0));
    EXPECT_EQ(requests[0].speed, B19200);
    EXPECT_FALSE(requests[0].answered);
    EXPECT_EQ(requests[1].bytes, Telegram(0x23, 0));
    EXPECT_EQ(requests[1].speed, B57600);

    std::vector<uint8_t> reads;
    for (size_t i = 2; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].bytes, Telegram(requests[i].bytes[1], 0)) << "read " << i - 2 << " is framed";
        reads.push_back(requests[i].bytes[1]);
    }
    EXPECT_EQ(reads, ParameterReadCommands()) << "the valve's documented command bytes";

    const ParameterBlock& v = rig.s.params.ValveBlock;
    EXPECT_EQ(v.BLOCK_VALID, 1);
    EXPECT_FLOAT_EQ(v.PROPORTIONAL_GAIN, model.Value(2) * 0.01f);
    EXPECT_EQ(v.DERIVATION_TIME, model.Value(6));
    EXPECT_EQ(v.SETPOINT_OFFSET, model.Value(14) - 50);
    EXPECT_EQ(rig.s.deviceInfo.ControllerFirmware, 5);

    const std::string trace = rig.TraceText();
    EXPECT_EQ(CountOf(trace, "Receive Timeout max retry"), 1u);
    EXPECT_LT(trace.find(" Init Com Port, ok with Baudrate: 19200"),
              trace.find(" Init Com Port, ok with Baudrate: 57600"));

    // The rate is known now: the next read goes straight to the parameters.
    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(rig.notifier.WaitForCount(2));
    ASSERT_TRUE(rig.WaitIdle());
    const auto cmds = valve.Commands();
    ASSERT_EQ(cmds.size(), 2u + 2 * 36u);
    EXPECT_EQ(std::vector<uint8_t>(cmds.begin() + 38, cmds.end()), ParameterReadCommands());
}

TEST(ActionEngineLine, AGivenLineSpeedIsTheOnlyOneTried) {
    ValveModel model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), B57600, &rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.link.FixedBaudIndex.store(3);
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_READ_STATUS, NOTIFY_STATUS));
    ASSERT_TRUE(rig.WaitIdle());
    const auto requests = valve.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].bytes, Telegram(0x23, 0));
    EXPECT_EQ(requests[0].speed, B57600) << "no try at 19200 first";
    EXPECT_TRUE(requests[0].answered);
    const std::string trace = rig.TraceText();
    EXPECT_EQ(CountOf(trace, " Send Baudrate Test "), 1u);
    EXPECT_EQ(CountOf(trace, " Baudrate Test successfull "), 1u);
    EXPECT_EQ(CountOf(trace, " Init Com Port, Baudrate 19200"), 0u);
    EXPECT_EQ(rig.link.BaudIndex.load(), 3);
}

TEST(ActionEngineLine, AValveSilentAtTheGivenLineSpeedIsABaudrateErrorAfterOneProbe) {
    ValveModel model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), B57600, &rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.link.FixedBaudIndex.store(2);
    rig.Start();

    const uint32_t t0 = rig.NowMs();
    ASSERT_TRUE(rig.Request(CMD_READ_STATUS, NOTIFY_BAUDRATE_ERROR));
    const uint32_t elapsed = rig.NowMs() - t0;
    ASSERT_TRUE(rig.WaitIdle());
    const auto requests = valve.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].speed, B19200);
    EXPECT_FALSE(requests[0].answered);
    EXPECT_GE(elapsed, 300u);
    EXPECT_LT(elapsed, 800u);
    EXPECT_EQ(rig.notifier.Codes(), (std::vector<uint32_t>{NOTIFY_BAUDRATE_ERROR}));
    EXPECT_EQ(rig.link.BaudIndex.load(), 0);
    EXPECT_EQ(rig.link.PortOpen.load(), 0);
    EXPECT_EQ(CountOf(rig.TraceText(), "Receive Timeout max retry"), 1u);
}

TEST(ActionEngineLine, WriteParameterSendsTheWorkingBlockInTableOrderAndItReadsBackEqual) {
    ValveModel model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    const ParameterBlock edit = SampleEditBlock();
    rig.s.params.EditBlock = edit;
    rig.s.testFunction.Selection = 2;
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_WRITE_PARAMETER, NOTIFY_PARAMETERS_WRITTEN));
    ASSERT_TRUE(rig.WaitIdle());
    const auto requests = valve.Requests();
    // The 34 write telegrams of SampleEditBlock (test function 2), worked out by hand from the
    // conversions: e.g. CCS = structure 3 | range 2 << 3 | auto zero 1 << 5 | test function 2 << 6.
    const std::vector<std::pair<uint8_t, uint8_t>> expected = {
        {1, 123},   {3, 50},    {5, 7},    {7, 3},   {50, 12},   {52, 45}, {54, 80}, {56, 150}, {58, 3},
        {100, 179}, {17, 2},    {96, 181}, {23, 1},  {48, 25},   {13, 30}, {15, 90}, {98, 187}, {9, 15},
        {66, 20},   {102, 180}, {19, 1},   {68, 85}, {106, 117}, {72, 80}, {74, 40}, {70, 157}, {104, 121},
        {64, 12},   {25, 1},    {11, 55},  {60, 7},  {76, 20},   {44, 15}, {62, 8}};
    ASSERT_EQ(requests.size(), 1u + expected.size());
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(requests[1 + k].bytes, Telegram(expected[k].first, expected[k].second)) << "write " << k;
    // Spot checks of the data bytes against the documented conversions.
    EXPECT_EQ(model.Value(2), 123) << "gain 1.23";
    EXPECT_EQ(model.Value(8), 3) << "dead band 0.3";
    EXPECT_EQ(model.Value(14), 30) << "offset -20";
    EXPECT_EQ(model.Value(57), 150) << "PWM 1500 Hz";
    EXPECT_EQ(model.Value(101), 3 | (2 << 3) | (1 << 5) | (2 << 6))
        << "controller configuration with test function";

    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(rig.WaitIdle());
    const ParameterBlock& v = rig.s.params.ValveBlock;
    for (const ParameterDescription& f : ParameterTable()) {
        if (NotWritten(f.name)) continue;
        if (f.type == FieldType::Float)
            EXPECT_FLOAT_EQ(GetFloat(v, f.offset), GetFloat(edit, f.offset)) << f.name;
        else
            EXPECT_EQ(GetInt(v, f.offset), GetInt(edit, f.offset)) << f.name;
    }
    EXPECT_EQ(rig.s.testFunction.ReadBack, 2);
}

TEST(ActionEngineLine, WriteRunsBeforeReadWhenBothAreRequestedAtOnce) {
    ValveModel model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.s.params.EditBlock = SampleEditBlock();
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER | CMD_WRITE_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.notifier.Codes(),
              (std::vector<uint32_t>{NOTIFY_PARAMETERS_WRITTEN, NOTIFY_PARAMETERS_READ}));

    const auto cmds = valve.Commands();
    ASSERT_EQ(cmds.size(), 1u + 34u + 36u);
    EXPECT_EQ(cmds[0], 0x23);
    const auto writes = WriteCommands();
    ASSERT_EQ(writes.size(), 34u);
    for (size_t k = 0; k < 34; ++k)
        EXPECT_EQ(cmds[1 + k], writes[k]) << "telegram " << 1 + k;
    EXPECT_EQ(std::vector<uint8_t>(cmds.begin() + 35, cmds.end()), ParameterReadCommands());
    EXPECT_FLOAT_EQ(rig.s.params.ValveBlock.PROPORTIONAL_GAIN, 1.23f) << "the read sees what was written";
}

TEST(ActionEngineLine, DeviceInfoAndStatusDecodeTheValvesRecords) {
    ValveModel model;
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_READ_DEVICE_INFO, NOTIFY_DEVICE_INFO));
    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_TRUE(rig.Request(CMD_READ_STATUS, NOTIFY_STATUS));
    ASSERT_TRUE(rig.WaitIdle());

    EXPECT_EQ(valve.Commands(), (std::vector<uint8_t>{0x23, 112, 35, 113, 82, 84, 108, 110}));
    const DeviceInfo& d = rig.s.deviceInfo;
    const int32_t digits[6] = {3, 0, 1, 2, 3, 4};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(d.PartNumberDigit[i], digits[i]);
    EXPECT_EQ(d.PartNumberVariant, 0x1000);
    EXPECT_EQ(d.SerialNumber, 256);
    EXPECT_EQ(d.ProductionYear, 0x15);
    EXPECT_EQ(d.ProductionWeek, 0x22);
    EXPECT_EQ(d.OperationCounter, 1440);
    EXPECT_EQ(d.ValveTemperature, 25);
    EXPECT_EQ(d.Valid, 1);
    const StatusInfo& st = rig.s.statusInfo;
    EXPECT_EQ(st.Overvoltage, 2);
    EXPECT_EQ(st.DigitalOutput, 1);
    EXPECT_EQ(st.KeyLock, 2);
    EXPECT_EQ(st.LedRed, 3);
    EXPECT_EQ(st.LedYellow, 2);
    EXPECT_EQ(st.LedGreen, 1);
}

// ---- failed exchanges ---------------------------------------------------------------------------

TEST(ActionEngineLine, BadBccOnTheThirdParameterRestartsTheReadFromTheFirst) {
    ValveModel model;
    std::atomic<int> tdrSeen{0};
    EngineRig rig;
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            auto reply = model.Answer(r);
            if (r[1] == 6 /* TDR */ && tdrSeen.fetch_add(1) == 0) return WithBadBcc(reply);
            return reply;
        },
        rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(rig.WaitIdle());
    const auto cmds = valve.Commands();
    const auto table = ParameterReadCommands();
    std::vector<uint8_t> expected = {0x23, table[0], table[1], table[2]};
    expected.insert(expected.end(), table.begin(), table.end());
    EXPECT_EQ(cmds, expected);

    const std::string trace = rig.TraceText();
    EXPECT_EQ(CountOf(trace, "Retry 1 "), 1u);
    EXPECT_EQ(CountOf(trace, "Retry 2 "), 0u);
    EXPECT_NE(trace.find("Action TDR '0x6' Step x18, Error:2 "), std::string::npos) << trace;
    EXPECT_NE(trace.find(" STX/BCC Error"), std::string::npos);
    EXPECT_EQ(rig.notifier.Codes(), (std::vector<uint32_t>{NOTIFY_PARAMETERS_READ}));
    EXPECT_EQ(rig.s.params.ValveBlock.BLOCK_VALID, 1);
}

TEST(ActionEngineLine, RefusedWriteRestartsWriteParameterFromItsFirstTelegram) {
    ValveModel model;
    std::atomic<int> refused{0};
    const uint8_t fifthWrite = WriteCommands()[4];
    EngineRig rig;
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            if (r[1] == fifthWrite && refused.fetch_add(1) == 0) return std::vector<uint8_t>{0x15};
            return model.Answer(r);
        },
        rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_WRITE_PARAMETER, NOTIFY_PARAMETERS_WRITTEN));
    ASSERT_TRUE(rig.WaitIdle());
    const auto cmds = valve.Commands();
    ASSERT_EQ(cmds.size(), 1u + 5u + 34u);
    EXPECT_EQ(cmds[6], 1) << "the write starts again with KPS";
    EXPECT_EQ(CountOf(rig.TraceText(), "Retry 1 "), 1u);
}

TEST(ActionEngineLine, DamagedDeviceRecordEndsWithBadReplyAfterThreeRestarts) {
    ValveModel model;
    EngineRig rig;
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            auto reply = model.Answer(r);
            return r[1] == ValveModel::DIR ? WithBadBcc(reply) : reply;
        },
        rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_READ_DEVICE_INFO, NOTIFY_BAD_REPLY));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(CountCommand(valve.Commands(), ValveModel::DIR), 4u) << "the first try and three restarts";

    const std::string trace = rig.TraceText();
    for (const char* retry : {"Retry 1 ", "Retry 2 ", "Retry 3 "})
        EXPECT_EQ(CountOf(trace, retry), 1u) << retry;
    EXPECT_EQ(CountOf(trace, "Retry 4 "), 0u);
    EXPECT_EQ(CountOf(trace, "stopped "), 1u);
    EXPECT_EQ(rig.s.THREAD_CMD.load(), 0u);
    EXPECT_EQ(rig.s.deviceInfo.Valid, 0);

    const auto events = rig.notifier.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].sent) << "errors are posted";
    EXPECT_EQ(events[0].text.rfind("Action DIR '0x70' Step x172, Error:2 0:0x2 ", 0), 0u) << events[0].text;
    EXPECT_NE(events[0].text.find("11:0x"), std::string::npos) << "all twelve reply bytes are listed";
    EXPECT_NE(events[0].text.find("bcc:"), std::string::npos);

    // The engine serves the next request as usual.
    ASSERT_TRUE(rig.Request(CMD_READ_STATUS, NOTIFY_STATUS));
}

TEST(ActionEngineLine, SilentValveFailsTheBaudRateTestAfterOneProbeTimeoutPerRate) {
    EngineRig rig;
    ScriptedValve valve([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; }, rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    const uint32_t t0 = rig.NowMs();
    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_BAUDRATE_ERROR));
    const uint32_t elapsed = rig.NowMs() - t0;
    ASSERT_TRUE(rig.WaitIdle());
    // The probe waits 300 ms for its answer, not the 10 s of every other exchange.
    EXPECT_GE(elapsed, 2u * 300u);
    EXPECT_LT(elapsed, 2u * 300u + 500u);

    const auto requests = valve.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].speed, B19200);
    EXPECT_EQ(requests[1].speed, B57600);
    EXPECT_EQ(CountOf(rig.TraceText(), "Receive Timeout max retry"), 2u);
    EXPECT_EQ(rig.notifier.Codes(), (std::vector<uint32_t>{NOTIFY_BAUDRATE_ERROR}));
    EXPECT_TRUE(rig.notifier.Events()[0].sent);
    EXPECT_EQ(rig.link.BaudIndex.load(), 0);
    EXPECT_EQ(rig.link.PortOpen.load(), 0);
}

TEST(ActionEngineLine, ValveFallingSilentEndsTheReadWithTimeoutAfterFourTries) {
    ValveModel model;
    std::atomic<bool> silent{false};
    EngineRig rig;
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            return silent.load() ? std::vector<uint8_t>{} : model.Answer(r);
        },
        rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();
    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_EQ(rig.s.params.ValveBlock.BLOCK_VALID, 1);

    silent.store(true);
    const uint32_t t0 = rig.NowMs();
    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_REPLY_TIMEOUT));
    const uint32_t elapsed = rig.NowMs() - t0;
    ASSERT_TRUE(rig.WaitIdle());
    // Four reply time-outs and three one-second pauses.
    EXPECT_GE(elapsed, 4u * 10000u + 3u * 1000u);
    EXPECT_LT(elapsed, 5u * 10000u + 3u * 1000u);

    const auto cmds = valve.Commands();
    ASSERT_EQ(cmds.size(), 1u + 36u + 4u);
    EXPECT_EQ(std::vector<uint8_t>(cmds.begin() + 37, cmds.end()), (std::vector<uint8_t>{2, 2, 2, 2}))
        << "each try starts again with KPR";
    const std::string trace = rig.TraceText();
    EXPECT_EQ(CountOf(trace, "Receive Timeout max retry"), 4u);
    EXPECT_EQ(CountOf(trace, "Retry 3 "), 1u);
    EXPECT_EQ(CountOf(trace, "stopped "), 1u);
    EXPECT_EQ(ErrorTextOf(rig.notifier, NOTIFY_REPLY_TIMEOUT).rfind("Action KPR '0x2' Step x12, Error:3 ", 0),
              0u);
    EXPECT_EQ(rig.s.params.ValveBlock.BLOCK_VALID, 0) << "a failed read leaves the block marked invalid";
}

TEST(ActionEngineLine, FailedStatusReadDropsOnlyTheValidFlag) {
    ValveModel model;
    std::atomic<bool> damaged{false};
    EngineRig rig;
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            auto reply = model.Answer(r);
            return damaged.load() && r[1] == ValveModel::STR ? WithBadBcc(reply) : reply;
        },
        rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();
    ASSERT_TRUE(rig.Request(CMD_READ_STATUS, NOTIFY_STATUS));
    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_EQ(rig.s.statusInfo.Valid, 1);

    damaged.store(true);
    ASSERT_TRUE(rig.Request(CMD_READ_STATUS, NOTIFY_BAD_REPLY));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.s.statusInfo.Valid, 0);
    EXPECT_EQ(rig.s.statusInfo.Overvoltage, 2) << "the last values stay";
    EXPECT_EQ(rig.s.statusInfo.LedRed, 3);
    EXPECT_EQ(CountCommand(valve.Commands(), ValveModel::STR), 1u + 4u);
}

TEST(ActionEngineLine, SendsThatKeepFailingEndTheActionWithSendFailure) {
    // The rate is believed known, but the port is closed: no telegram can leave.
    EngineRig rig;
    rig.UseDevice("/nonexistent/qln-port");
    rig.link.BaudIndex.store(3);
    rig.Start();

    const uint32_t t0 = rig.NowMs();
    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_SEND_FAILURE));
    const uint32_t elapsed = rig.NowMs() - t0;
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_GE(elapsed, 4u * 500u + 3u * 1000u);

    const std::string trace = rig.TraceText();
    EXPECT_EQ(CountOf(trace, "Send Timeout "), 4u);
    EXPECT_EQ(CountOf(trace, "Retry 3 "), 1u);
    EXPECT_EQ(CountOf(trace, "stopped "), 1u);
    EXPECT_EQ(ErrorTextOf(rig.notifier, NOTIFY_SEND_FAILURE)
                  .rfind("Action KPR '0x2' Step x11, Error:3 0:0x2 1:0x2 ", 0),
              0u);
    EXPECT_EQ(rig.notifier.Codes(), (std::vector<uint32_t>{NOTIFY_SEND_FAILURE}));
}

TEST(ActionEngineLine, FirmwareZeroIsReportedOncePerRateSearchAndNoRateIsAccepted) {
    ValveModel model;
    model.SetValue(ValveModel::VER, 0);
    EngineRig rig;
    ScriptedValve valve(model.Behaviour(), rig.clock);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_BAUDRATE_ERROR));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(valve.Commands(), (std::vector<uint8_t>{0x23, 0x23})) << "one try per rate, no parameter read";
    auto messages = rig.notifier.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Controller Firmware must be greater 0.00");
    EXPECT_EQ(messages[0].caption, "");
    EXPECT_EQ(rig.link.BaudIndex.load(), 0);

    // Asking again tells the user again why no rate works.
    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_BAUDRATE_ERROR));
    ASSERT_TRUE(rig.notifier.WaitForCount(2));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.notifier.Messages().size(), 2u);
}

// ---- a device that vanishes ---------------------------------------------------------------------

TEST(ActionEngineLine, HangUpDuringAnActionEndsItAndTheNextRequestStartsAfresh) {
    ValveModel model;
    std::atomic<uint32_t> hungUpAt{0};
    std::atomic<int> answered{0};
    EngineRig rig;
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            if (answered.fetch_add(1) < 8) return model.Answer(r);
            hungUpAt.store(rig.NowMs());
            return std::vector<uint8_t>{};
        },
        rig.clock);
    // Unplugged in the middle of the read: the ninth telegram goes unanswered and the line goes.
    valve.HangUpAfter(9);
    rig.UseDevice(valve.SlavePath());
    rig.Start();

    RequestAction(rig.s, CMD_READ_PARAMETER);
    ASSERT_TRUE(rig.notifier.WaitForCount(1));
    const uint32_t elapsed = rig.NowMs() - hungUpAt.load();
    ASSERT_TRUE(rig.WaitIdle());

    const auto codes = rig.notifier.Codes();
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_TRUE(codes[0] == NOTIFY_SEND_FAILURE || codes[0] == NOTIFY_REPLY_TIMEOUT) << codes[0];
    EXPECT_LT(elapsed, 10000u) << "the lost device is noticed without waiting for reply time-outs";
    EXPECT_EQ(rig.link.PortOpen.load(), 0);
    EXPECT_EQ(rig.link.PortFd.load(), -1) << "the lost device is closed";
    EXPECT_EQ(rig.link.BaudIndex.load(), 0) << "the next request searches the rate again";
    const std::string trace = rig.TraceText();
    EXPECT_NE(trace.find(" Com Port lost, device gone"), std::string::npos);
    EXPECT_EQ(rig.s.params.ValveBlock.BLOCK_VALID, 0);

    // The adapter is plugged in again (as another device): the next request works from scratch
    // and sends nothing left over from the failed action.
    ValveModel model2;
    ScriptedValve valve2(model2.Behaviour(), rig.clock);
    rig.UseDevice(valve2.SlavePath());
    ASSERT_TRUE(rig.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(rig.WaitIdle());
    std::vector<uint8_t> expected = {0x23};
    const auto table = ParameterReadCommands();
    expected.insert(expected.end(), table.begin(), table.end());
    EXPECT_EQ(valve2.Commands(), expected);
    EXPECT_EQ(rig.s.deviceInfo.ControllerFirmware, 5);
    EXPECT_EQ(rig.s.params.ValveBlock.BLOCK_VALID, 1);
}

TEST(ActionEngineLine, DeviceLostWhileIdleIsOpenedAfreshByTheNextRequest) {
    ValveModel model;
    EngineRig rig;
    auto valve = std::make_unique<ScriptedValve>(model.Behaviour(), rig.clock);
    rig.UseDevice(valve->SlavePath());
    rig.Start();
    ASSERT_TRUE(rig.Request(CMD_READ_STATUS, NOTIFY_STATUS));
    ASSERT_TRUE(rig.WaitIdle());

    // Unplugged between two requests: the receiver notices although no action runs.
    valve->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return rig.link.PortLost.load() != 0; }));
    ValveModel model2;
    ScriptedValve valve2(model2.Behaviour(), rig.clock);
    rig.UseDevice(valve2.SlavePath());

    RequestAction(rig.s, CMD_READ_STATUS);
    ASSERT_TRUE(rig.notifier.WaitForCount(2));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.notifier.Codes(), (std::vector<uint32_t>{NOTIFY_STATUS, NOTIFY_STATUS}))
        << "the first request after the loss already succeeds";
    EXPECT_EQ(valve2.Commands(), (std::vector<uint8_t>{0x23, ValveModel::STR, ValveModel::LER}));
    EXPECT_EQ(rig.link.PortLost.load(), 0);
}

// ---- the valve's identity for the history -------------------------------------------------------

TEST(ActionEngineLine, IdentityAsksDirAndVerOnlyWhenTheRateTestOfItsRequestDidNotReadTheVersion) {
    const std::vector<uint8_t> ver = {0x02, 0x23, 0x00, 0x23}, dir = {0x02, 0x70, 0x00, 0x70},
                               str = {0x02, 0x6C, 0x00, 0x6C}, ler = {0x02, 0x6E, 0x00, 0x6E};
    const uint32_t write = CMD_WRITE_PARAMETER, status = CMD_READ_STATUS;
    const struct {
        const char* name;
        uint32_t before; // an earlier request, which finds the line speed
        uint32_t job;    // requested with the identity
        bool damagedDir;
        std::vector<std::vector<uint8_t>> line; // every telegram but the job's writes
        size_t writes;
        std::vector<uint32_t> codes;
    } cases[] = {
        {"alone after the rate test", 0, 0, false, {ver, dir}, 0, {NOTIFY_IDENTITY}},
        {"speed known", status, 0, false, {ver, str, ler, ver, dir}, 0, {NOTIFY_STATUS, NOTIFY_IDENTITY}},
        {"before a write", 0, write, false, {ver, dir}, 34, {NOTIFY_PARAMETERS_WRITTEN}},
        {"failed, so no write", 0, write, true, {ver, dir, dir, dir, dir}, 0, {NOTIFY_BAD_REPLY}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ValveModel model;
        model.SetValue(ValveModel::VER, 7);
        EngineRig rig;
        ScriptedValve valve(
            [&](const std::vector<uint8_t>& r) {
                auto reply = model.Answer(r);
                return c.damagedDir && r[1] == ValveModel::DIR ? WithBadBcc(reply) : reply;
            },
            rig.clock);
        rig.UseDevice(valve.SlavePath());
        rig.Start();
        if (c.before) {
            ASSERT_TRUE(rig.Request(c.before, c.codes[0]));
        }
        ASSERT_TRUE(rig.WaitIdle());
        ASSERT_TRUE(rig.Request(CMD_READ_IDENTITY | c.job, c.codes.back()));
        ASSERT_TRUE(rig.WaitIdle());

        EXPECT_EQ(rig.notifier.Codes(), c.codes);
        const auto requests = valve.Requests();
        ASSERT_EQ(requests.size(), c.line.size() + c.writes);
        for (size_t i = 0; i < c.line.size(); ++i)
            EXPECT_EQ(requests[i].bytes, c.line[i]) << "telegram " << i;
        if (c.writes) {
            EXPECT_EQ(requests[c.line.size()].bytes[1], 1) << "the write starts with KPS";
        }
        EXPECT_NE(rig.TraceText().find(" Read Identity "), std::string::npos);

        const ValveIdentity id = CopyValveIdentity(rig.s);
        EXPECT_EQ(id.Valid, c.damagedDir ? 0 : 1);
        if (!c.damagedDir) {
            EXPECT_EQ(id.ControllerFirmware, 7);
            EXPECT_EQ(id.SerialNumber, 256);
            const int32_t digits[6] = {3, 0, 1, 2, 3, 4};
            EXPECT_TRUE(std::equal(digits, digits + 6, id.PartNumberDigit));
            EXPECT_EQ(id.PartNumberVariant, 0x1000);
        }
        EXPECT_EQ(rig.s.deviceInfo.SerialNumber, 0) << "the valve information is not touched";
        EXPECT_EQ(rig.s.deviceInfo.Valid, 0);
    }
}
