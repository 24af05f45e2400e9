// The whole program side (port driver, link threads, engine, qln-cli) against the real qln-valve
// process on a real pseudo-terminal: parameters written from a project file read back unchanged,
// the rate search finds the valve at either speed, and every fault the valve can put on the line
// ends the way the engine's restart rules promise, without a hang.
//
// The engine runs on a paced clock (at most ten times real time), so a 10 s reply time-out passes
// in a second or two and a restart pause in a tenth of that, while the valve paces its bytes in
// real time: a real reply takes a few milliseconds, far below every time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <regex>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/DeviceCommands.h"
#include "engine/EngineThreads.h"
#include "support/CliRunner.h"
#include "support/EngineHarness.h"
#include "support/LockstepClock.h"
#include "support/ValveProcess.h"
#include "system/Clock.h"
#include "text/Texts.h"

extern char** environ;

using namespace qln_test;

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double TIME_SCALE = 10;
constexpr size_t PROJECT_FILE_SIZE = 173624;
constexpr size_t EDIT_BLOCK_OFFSET = 1280;

// Engine time for tests against the real valve, which runs in real time. Time runs at most
// TIME_SCALE times as fast as real time, waits of up to 300 ms (the rate search's probe) last as
// long as in real time, and, as on the lockstep clock, time only moves when every engine thread
// is blocked on it: a thread the machine has not run yet holds time back instead of missing its
// deadline. So on a busy machine the transmitter never runs into the 500 ms send time-out because
// it had no chance to write, and a reply time-out never passes in much less than a real second,
// some hundred times what the valve needs to answer.
class PacedClock : public LockstepClock {
public:
    PacedClock() : LockstepClock(ENGINE_THREADS, TIME_SCALE) {}
};

// One program's engine on paced time against a device, with its trace in a folder of its own.
class PacedEngine {
public:
    explicit PacedEngine(const std::string& device)
        : state_(std::make_unique<QlnState>(clock_)), s(*state_), threads_(s, notifier) {
        UseDevice(device);
        s.link.trace.TraceEnabled.store(1);
        s.link.trace.OpenTrace(dir_.File("debug.txt"), LoadText(IDS_APP_TITLE), 0);
        threads_.Start();
    }
    ~PacedEngine() {
        threads_.Stop();
        s.link.trace.CloseTrace();
    }

    // As the port dialog does: only while the engine is idle.
    void UseDevice(const std::string& path) {
        s.link.PortIndex.store(0);
        s.link.DevicePath[0] = path;
    }
    bool Request(uint32_t bits, uint32_t code) {
        RequestAction(s, bits);
        return notifier.WaitFor(code);
    }
    bool WaitIdle() {
        return WaitUntil([this] { return s.THREAD_CMD.load() == 0; });
    }
    std::string TraceText() const { return ReadWholeFile(dir_.File("debug.txt")); }

private:
    TempDir dir_;
    PacedClock clock_;
    std::unique_ptr<QlnState> state_;

public:
    QlnState& s;
    RecordingNotifier notifier;

private:
    EngineThreads threads_;
};

// The key/value pairs of a flat JSON object as qln-cli prints it; string values without quotes.
std::map<std::string, std::string> JsonFields(const std::string& text) {
    std::map<std::string, std::string> out;
    if (text.empty() || text.front() != '{' || text.find("}\n") != text.size() - 2) return out;
    static const std::regex item(R"re("([^"]+)": ("([^"]*)"|-?[0-9]+(\.[0-9]+)?))re");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), item); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        out[m[1].str()] = m[3].matched ? m[3].str() : m[2].str();
    }
    return out;
}

bool Contains(const std::string& text, const std::string& pattern) {
    return std::regex_search(text, std::regex(pattern));
}

// A working parameter set in which every written field differs from the bench valve's own set and
// holds a value that survives the telegram's conversion both ways.
ParameterBlock TunedBlock() {
    ParameterBlock b{};
    b.PROPORTIONAL_GAIN = 1.23f;
    b.INTEGRATION_TIME = 2.5f;
    b.DERIVATION_TIME = 7;
    b.DEAD_BAND = 2.5f;
    b.FORWARD_OFFSET = 12;
    b.FORWARD_GAIN = 0.45f;
    b.INTEGRATION_LIMIT = 65;
    b.PWM_FREQUENCY = 1500;
    b.CONTROL_CYCLE_TIME = 3;
    b.CONTROLLER_STRUCTURE = 5;
    b.SETPOINT_RANGE_DETECTION = 2;
    b.AUTO_ZERO_FEEDBACK = 0;
    b.SETPOINT_SIGNAL = 1;
    b.OVERTEMPERATURE = 1;
    b.FEEDBACK_SELECT = 1;
    b.ANALOG_IN_2_DIRECTION = 1;
    b.SETPOINT_SELECTION = 1;
    b.SETPOINT_DIRECTION = 1;
    b.AUTOSAFE = 0;
    b.PARAMETER_SET = 0; // the custom set, which the valve has selected
    b.SETPOINT_ADJUSTMENT = 1;
    b.SHUT_OFF = 0;
    b.SHUT_OFF_LEVEL = 3.5f;
    b.SETPOINT_OFFSET = -20;
    b.SETPOINT_SPAN = 120;
    b.PRESSURE_SWITCH_OUTPUT_SOURCE = 3;
    b.RAMP_FUNCTION = 1;
    b.SELECT_POLARITY = 1;
    b.SELECT_FUNCTION = 6;
    b.RAMP_RISE_TIME = 1.5f;
    b.RAMP_FALL_TIME = 4.2f;
    b.ANALOG_OUT_SELECT = 4;
    b.ERROR_SELECT = 6;
    b.OPTION_INPUT_PRESSURE_SENSOR = 2;
    b.ANALOG_IN_2_SIGNAL = 1;
    b.OVERTEMPERATURE_LIMIT = 95;
    b.AUTOSAFE_SOURCE = 1;
    b.KEY_LOCK = 1;
    b.I_VALUE = 1;
    b.I_SEARCH = 1;
    b.AUTO_ZERO_DP_FEEDBACK = 1;
    b.DISPLAY_SELECT = 2;
    b.CURRENT_LIMIT_LEVEL = 1250;
    b.INPUT_PRESSURE_LIMIT = 35;
    b.DELAY_TIME = 5;
    b.COIL_OFF_TIME = 3;
    b.COIL_ON_TIME = 2;
    b.LED_GREEN = 2;
    b.LED_YELLOW = 3;
    b.LED_RED = 2;
    b.KEY_FUNCTION = 2;
    b.OUTPUT_DELAY = 1.2f;
    b.OUTPUT_MODE = 1;
    b.WINDOW_SIZE = 5.5f;
    b.LIMIT_SIZE = 42.5f;
    b.I_SEARCH_RAMPTIME = 40;
    b.I_SEARCH_FEEDBACK_THRESHOLD = 15;
    b.LIMIT_HYSTERESIS = 0.8f;
    // Only read from the valve, never written: the file's values must not reach it.
    b.AUTO_ZERO_VALUE = 77;
    b.AUTO_ZERO_DP_VALUE = -77;
    b.SLAVE_GAIN = 0.5f;
    return b;
}

// A project file: filler everywhere, the working parameter set at its place.
void WriteProjectFile(const std::string& path, const ParameterBlock& edit) {
    std::vector<char> image(PROJECT_FILE_SIZE, static_cast<char>(0xEE));
    const auto* p = reinterpret_cast<const char*>(&edit);
    std::copy(p, p + sizeof edit, image.begin() + EDIT_BLOCK_OFFSET);
    std::ofstream f(path, std::ios::binary);
    f.write(image.data(), static_cast<std::streamsize>(image.size()));
}

// Offsets of the fields that parameter writes carry.
std::set<uint16_t> WrittenOffsets() {
    std::set<uint16_t> out;
    for (const ParameterDescription& p : ParameterTable())
        if (p.telegram != ParamTelegram::None && TelegramInfo(p.telegram).writeName) out.insert(p.offset);
    return out;
}

// qln-cli runs in a folder of its own: it reads QLN_com.ini and writes debug.txt there.
class ValveEndToEnd : public ::testing::Test {
protected:
    static CliRun Cli(const ValveProcess& valve, const std::vector<std::string>& args) {
        PacedClock clock;
        return RunCliAgainst(valve, args, clock);
    }
    std::string Trace() const { return ReadWholeFile(dir.File("debug.txt")); }

    InTempFolder dir;
};

struct Fault {
    const char* flag;
    const char* every;
    const char* command;
};

std::string Describe(const Fault& f) {
    return std::string(f.flag) + " " + f.every + " " + f.command;
}

} // namespace

// ---- parameters, information, status ----------------------------------------------------------

TEST_F(ValveEndToEnd, ProjectParametersWrittenToTheValveReadBackFieldByField) {
    ValveProcess valve({});
    ASSERT_FALSE(valve.SlavePath().empty());
    const ParameterBlock tuned = TunedBlock();
    const std::string project = dir.File("tuned.qpj");
    WriteProjectFile(project, tuned);
    ASSERT_EQ(ReadWholeFile(project).size(), PROJECT_FILE_SIZE);

    const CliRun before = Cli(valve, {"--json", "read-params"});
    ASSERT_EQ(before.status, 0) << before.err;
    const CliRun statusBefore = Cli(valve, {"--json", "status"});
    ASSERT_EQ(statusBefore.status, 0) << statusBefore.err;

    const CliRun write = Cli(valve, {"write-params", project});
    ASSERT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(write.out, "Wrote 34 parameters.\n");

    const CliRun after = Cli(valve, {"--json", "read-params"});
    ASSERT_EQ(after.status, 0) << after.err;
    const auto old = JsonFields(before.out);
    const auto now = JsonFields(after.out);
    ASSERT_EQ(old.size(), ParameterTable().size()) << before.out;
    ASSERT_EQ(now.size(), ParameterTable().size()) << after.out;

    const std::set<uint16_t> written = WrittenOffsets();
    size_t compared = 0;
    for (const ParameterDescription& f : ParameterTable()) {
        SCOPED_TRACE(f.name);
        if (written.count(f.offset)) {
            ++compared;
            EXPECT_EQ(now.at(f.name), FormatValue(tuned, f));
            if (std::string(f.name) != "PARAMETER_SET") {
                EXPECT_NE(old.at(f.name), now.at(f.name)) << "the valve held this value before";
            }
        }
    }
    EXPECT_EQ(compared, 58u);
    EXPECT_EQ(now.at("BLOCK_VALID"), "1");
    for (const char* readOnly : {"AUTO_ZERO_VALUE", "AUTO_ZERO_DP_VALUE"}) {
        EXPECT_EQ(now.at(readOnly), old.at(readOnly)) << readOnly << " is never written";
        EXPECT_NE(now.at(readOnly), FormatValue(tuned, *FindParameter(readOnly))) << readOnly;
    }

    // The valve works with what it was given: the key lock written shows in its status.
    const CliRun statusAfter = Cli(valve, {"--json", "status"});
    ASSERT_EQ(statusAfter.status, 0) << statusAfter.err;
    EXPECT_EQ(JsonFields(statusBefore.out).at("key_lock"), "1");
    EXPECT_EQ(JsonFields(statusAfter.out).at("key_lock"), "2");
}

TEST_F(ValveEndToEnd, CliShowsTheValvesInformationAndStatus) {
    ValveProcess valve({});
    ASSERT_FALSE(valve.SlavePath().empty());

    const CliRun info = Cli(valve, {"info"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(Contains(info.out, "Controller Firmware: +12\n")) << info.out;
    EXPECT_TRUE(Contains(info.out, "Part Number: +471-524 271500-102\n")) << info.out;
    EXPECT_TRUE(Contains(info.out, "Serial No\\.: +123457\n")) << info.out;
    EXPECT_TRUE(Contains(info.out, "Production Date: +Year 21  Week 37\n")) << info.out;
    EXPECT_TRUE(Contains(info.out, "Operation Counter: +68 Days  14 Hours  05 Min\n")) << info.out;
    EXPECT_TRUE(Contains(info.out, "Calibration Date: +Year 23  Month 11  Day 08\n")) << info.out;
    EXPECT_TRUE(Contains(info.out, "Calibration Counter: +3\n")) << info.out;

    const CliRun infoJson = Cli(valve, {"--json", "info"});
    ASSERT_EQ(infoJson.status, 0) << infoJson.err;
    const auto i = JsonFields(infoJson.out);
    ASSERT_FALSE(i.empty()) << infoJson.out;
    EXPECT_EQ(i.at("firmware"), "12");
    EXPECT_EQ(i.at("part_number"), "471-524 271500-102");
    EXPECT_EQ(i.at("serial_number"), "123457");
    EXPECT_EQ(i.at("production_year"), "21");
    EXPECT_EQ(i.at("production_week"), "37");
    EXPECT_EQ(i.at("calibration_counter"), "3");
    EXPECT_EQ(i.at("calibration_status"), "1");
    EXPECT_EQ(i.at("calibration_temperature"), "23");
    EXPECT_EQ(i.at("valve_temperature"), "24");

    const CliRun status = Cli(valve, {"status"});
    ASSERT_EQ(status.status, 0) << status.err;
    EXPECT_TRUE(Contains(status.out, "Overvoltage +NO\n")) << status.out;
    EXPECT_TRUE(Contains(status.out, "Jumper +ON\n")) << status.out;
    EXPECT_TRUE(Contains(status.out, "Key Lock +Disabled\n")) << status.out;
    EXPECT_TRUE(Contains(status.out, "LED YELLOW +blinking \\(3\\)\n")) << "the line is busy: " << status.out;

    const CliRun statusJson = Cli(valve, {"--json", "status"});
    ASSERT_EQ(statusJson.status, 0) << statusJson.err;
    const auto st = JsonFields(statusJson.out);
    ASSERT_FALSE(st.empty()) << statusJson.out;
    EXPECT_EQ(st.at("valid"), "1");
    EXPECT_EQ(st.at("overvoltage"), "1");
    EXPECT_EQ(st.at("undervoltage"), "1");
    EXPECT_EQ(st.at("jumper"), "1");
    EXPECT_EQ(st.at("key_lock"), "1");
    EXPECT_EQ(st.at("led_yellow"), "3");
}

TEST_F(ValveEndToEnd, SlowRepliesWithinTheTimeoutAreAwaitedWithoutARestart) {
    ValveProcess valve({"--delay-ms", "50"});
    ASSERT_FALSE(valve.SlavePath().empty());
    const CliRun run = Cli(valve, {"--trace", "--json", "info"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(JsonFields(run.out).at("serial_number"), "123457");
    const std::string trace = Trace();
    EXPECT_EQ(CountOf(trace, " Send Baudrate Test "), 1u);
    EXPECT_EQ(CountOf(trace, "Retry "), 0u) << trace;
    EXPECT_EQ(CountOf(trace, "Receive Timeout"), 0u) << trace;
}

// ---- the rate search ------------------------------------------------------------------------

TEST(ValveEndToEndEngine, RateSearchFindsTheValveAtEitherSpeedAndKeepsIt) {
    const struct {
        const char* baud;
        int32_t baudIndex;
        size_t tries;
    } speeds[] = {{"19200", 2, 1}, {"57600", 3, 2}};
    for (const auto& speed : speeds) {
        SCOPED_TRACE(speed.baud);
        ValveProcess valve({"--baud", speed.baud});
        ASSERT_FALSE(valve.SlavePath().empty());
        PacedEngine engine(valve.SlavePath());

        ASSERT_TRUE(engine.Request(CMD_READ_DEVICE_INFO, NOTIFY_DEVICE_INFO));
        ASSERT_TRUE(engine.WaitIdle());
        EXPECT_EQ(engine.s.link.BaudIndex.load(), speed.baudIndex);
        EXPECT_EQ(engine.s.deviceInfo.ControllerFirmware, 12);
        EXPECT_EQ(engine.s.deviceInfo.SerialNumber, 123457);
        EXPECT_EQ(engine.s.deviceInfo.Valid, 1);
        std::string trace = engine.TraceText();
        EXPECT_EQ(CountOf(trace, " Send Baudrate Test "), speed.tries);
        EXPECT_EQ(CountOf(trace, "Receive Timeout max retry"), speed.tries - 1) << "19200 is tried first";
        EXPECT_EQ(CountOf(trace, " Baudrate Test successfull "), 1u);
        EXPECT_EQ(CountOf(trace, std::string(" Init Com Port, ok with Baudrate: ") + speed.baud), 1u);

        // The next request uses the rate found, without searching again.
        ASSERT_TRUE(engine.Request(CMD_READ_STATUS, NOTIFY_STATUS));
        ASSERT_TRUE(engine.WaitIdle());
        EXPECT_EQ(engine.s.link.BaudIndex.load(), speed.baudIndex);
        EXPECT_EQ(engine.s.statusInfo.Jumper, 1);
        trace = engine.TraceText();
        EXPECT_EQ(CountOf(trace, " Send Baudrate Test "), speed.tries);
        EXPECT_EQ(CountOf(trace, "Retry "), 0u);
        EXPECT_EQ(engine.notifier.Codes(), (std::vector<uint32_t>{NOTIFY_DEVICE_INFO, NOTIFY_STATUS}));
    }
}

// qln-cli keeps the speed found in QLN_com.ini [SPEEDS] under the --device path and tries it
// first next time; a remembered speed the valve no longer uses costs one probe, nothing more.
TEST_F(ValveEndToEnd, TheSpeedFoundIsRememberedAndTriedFirst) {
    ValveProcess valve({"--baud", "57600"});
    ASSERT_FALSE(valve.SlavePath().empty());
    const std::string device = valve.SlavePath();
    const struct {
        const char* remembered; // nullptr: as the run before left it (at first no file)
        const char* first;
        size_t probes;
    } runs[] = {{nullptr, "19200", 2}, {nullptr, "57600", 1}, {"19200", "19200", 2}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.remembered ? run.remembered : "as left");
        if (run.remembered)
            std::ofstream("QLN_com.ini") << "[SPEEDS]\n" << device << "=" << run.remembered << "\n";
        std::remove("debug.txt");
        const CliRun r = Cli(valve, {"--trace", "info"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string trace = Trace();
        const std::string init = " Init Com Port, Baudrate ";
        EXPECT_EQ(trace.substr(trace.find(init) + init.size(), 5), run.first) << trace;
        EXPECT_EQ(CountOf(trace, init), run.probes);
        EXPECT_EQ(CountOf(trace, " Send Baudrate Test "), run.probes);
        EXPECT_NE(ReadWholeFile(dir.File("QLN_com.ini")).find("[SPEEDS]\r\n" + device + "=57600\r\n"),
                  std::string::npos);
    }
}

// ---- faults on the line ---------------------------------------------------------------------

// Status reads VER (rate search), STR and LER: with every third reply hit, LER fails once and the
// restart reads STR and LER again, both clean.
TEST_F(ValveEndToEnd, AFaultOnEveryThirdReplyCostsExactlyOneRestart) {
    const struct {
        Fault fault;
        const char* failure; // how the failed exchange shows in the trace
    } cases[] = {
        {{"--bad-bcc-every", "3", "status"},
         "Action LER '0x6e' Step x[0-9a-f]+, Error:2 0:0x2 .* STX/BCC Error"},
        {{"--garbage-every", "3", "status"},
         "Action LER '0x6e' Step x[0-9a-f]+, Error:2 0:0x.* STX/BCC Error"},
        // A lost reply runs into the time-out; a refused read (a lone NAK) is a bad reply at once.
        {{"--drop-every", "3", "status"}, "Action LER '0x6e' Step x[0-9a-f]+, Error:3 0:0x0 1:0x0 2:0x0 "},
        {{"--nak-every", "3", "status"},
         "Action LER '0x6e' Step x[0-9a-f]+, Error:2 0:0x15 1:0x0 2:0x0 .*STX/BCC Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Describe(c.fault));
        ValveProcess valve({c.fault.flag, c.fault.every});
        ASSERT_FALSE(valve.SlavePath().empty());
        const CliRun run = Cli(valve, {"--trace", "--json", c.fault.command});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(JsonFields(run.out).at("valid"), "1");
        const std::string trace = Trace();
        EXPECT_EQ(CountOf(trace, "Retry 1 "), 1u) << trace;
        EXPECT_EQ(CountOf(trace, "Retry 2 "), 0u) << trace;
        EXPECT_EQ(CountOf(trace, "stopped "), 0u) << trace;
        EXPECT_TRUE(Contains(trace, c.failure)) << trace;
    }
}

// With every other reply hit, no attempt gets through the action: three restarts, then "stopped "
// and the error code of the last failure.
TEST_F(ValveEndToEnd, AFaultOnEveryOtherReplyEndsTheActionWithItsErrorCode) {
    const std::string project = dir.File("tuned.qpj");
    WriteProjectFile(project, TunedBlock());
    const struct {
        Fault fault;
        int status;
        const char* advice;
    } cases[] = {
        {{"--bad-bcc-every", "2", "status"}, NOTIFY_BAD_REPLY, "replies arrived damaged"},
        {{"--garbage-every", "2", "status"}, NOTIFY_BAD_REPLY, "replies arrived damaged"},
        // A write that had begun ends with its own status, whatever stopped it.
        {{"--nak-every", "2", "write-params"}, 10, "refused the telegram (NAK)"},
        {{"--drop-every", "2", "status"}, NOTIFY_REPLY_TIMEOUT, "did not answer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Describe(c.fault));
        ValveProcess valve({c.fault.flag, c.fault.every});
        ASSERT_FALSE(valve.SlavePath().empty());
        std::vector<std::string> args{"--trace", c.fault.command};
        if (std::string(c.fault.command) == "write-params") args.push_back(project);
        const CliRun run = Cli(valve, args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(LoadText(IDS_COMMUNICATION_ERROR)), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.advice), std::string::npos) << run.err;
        const std::string trace = Trace();
        EXPECT_EQ(CountOf(trace, " Baudrate Test successfull "), 1u) << trace;
        EXPECT_EQ(CountOf(trace, "Retry 3 "), 1u) << trace;
        EXPECT_EQ(CountOf(trace, "Retry 4 "), 0u) << trace;
        EXPECT_EQ(CountOf(trace, "stopped "), 1u) << trace;
    }
}

// The real program under a real signal: Ctrl+C, kill or a closed terminal in the middle of a
// write lets the telegram on the line finish, then says what the valve holds.
TEST_F(ValveEndToEnd, ASignalMidWriteStopsAfterTheTelegramOnTheLineAndSaysWhatTheValveHolds) {
    const std::string project = dir.File("tuned.qpj");
    WriteProjectFile(project, TunedBlock());
    // Slow replies leave seconds for the signal while the 34 writes go out.
    ValveProcess valve({"--delay-ms", "100", "--log"}, true);
    ASSERT_FALSE(valve.SlavePath().empty());
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        ValveProcess cli(QLN_CLI_PATH,
                         {"--history", "off", "--device", valve.SlavePath(), "write-params", project}, true,
                         false);
        int acks = 0;
        while (acks < 5) {
            const std::string line = valve.ReadLine(10s);
            ASSERT_FALSE(line.empty()) << "the valve's log ended after " << acks << " acknowledged writes";
            if (Contains(line, " tx 06")) ++acks;
        }
        ASSERT_EQ(::kill(cli.Pid(), sig), 0);
        const std::string err = cli.ReadToEnd(30s);
        EXPECT_EQ(cli.WaitExit(30s), 10) << err;
        std::smatch m;
        ASSERT_TRUE(
            std::regex_search(err, m, std::regex("confirmed the first ([0-9]+) of the 34 new values")))
            << err;
        EXPECT_GE(std::stoi(m[1]), 5) << err;
        EXPECT_LT(std::stoi(m[1]), 34) << err;
        EXPECT_TRUE(Contains(err, "mix of old and new values")) << err;
        EXPECT_TRUE(Contains(err, "stopped by SIG")) << err;
        // Drain the valve's log of this run before the next one.
        while (!valve.ReadLine(300ms).empty()) {
        }
    }
}

// The rate search needs one good reply to VER; without it the valve is not found at any rate.
TEST_F(ValveEndToEnd, AValveThatCannotPassTheRateTestIsABaudrateError) {
    const std::vector<std::vector<std::string>> valves = {
        {"--silent"},          {"--bad-bcc-every", "1"}, {"--nak-every", "1"},
        {"--drop-every", "1"}, {"--garbage-every", "1"},
    };
    for (const auto& args : valves) {
        SCOPED_TRACE(args[0]);
        ValveProcess valve(args);
        ASSERT_FALSE(valve.SlavePath().empty());
        const CliRun run = Cli(valve, {"--trace", "info"});
        EXPECT_EQ(run.status, static_cast<int>(NOTIFY_BAUDRATE_ERROR)) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(LoadText(IDS_BAUDRATE_ERROR)), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("did not answer at 19200 or 57600 baud"), std::string::npos) << run.err;
        const std::string trace = Trace();
        EXPECT_EQ(CountOf(trace, " Send Baudrate Test "), 2u) << trace;
        EXPECT_EQ(CountOf(trace, " Baudrate Test successfull "), 0u) << trace;
        EXPECT_EQ(CountOf(trace, " Read Device Info "), 0u) << trace;
    }
}

// ---- a device that vanishes -----------------------------------------------------------------

TEST(ValveEndToEndEngine, HangUpDuringAnActionEndsItClosesThePortAndForgetsTheRate) {
    // Slow replies stretch Read Parameter to some two seconds; the line goes after one.
    ValveProcess valve({"--delay-ms", "50", "--hangup-after-ms", "1000"});
    ASSERT_FALSE(valve.SlavePath().empty());
    PacedEngine engine(valve.SlavePath());
    RequestAction(engine.s, CMD_READ_PARAMETER);

    ASSERT_EQ(valve.WaitExit(20s), 0) << "the valve hangs up and ends";
    const auto hungUp = SteadyClock::now();
    ASSERT_TRUE(engine.notifier.WaitForCount(1));
    EXPECT_LT(SteadyClock::now() - hungUp, 5s) << "the lost line is noticed at once";
    ASSERT_TRUE(engine.WaitIdle());

    const auto codes = engine.notifier.Codes();
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_TRUE(codes[0] == NOTIFY_SEND_FAILURE || codes[0] == NOTIFY_REPLY_TIMEOUT) << codes[0];
    EXPECT_EQ(engine.s.link.PortOpen.load(), 0);
    EXPECT_EQ(engine.s.link.PortFd.load(), -1) << "the lost device is closed";
    EXPECT_EQ(engine.s.link.BaudIndex.load(), 0) << "the next request searches the rate again";
    EXPECT_EQ(engine.s.params.ValveBlock.BLOCK_VALID, 0);
    std::string trace = engine.TraceText();
    EXPECT_EQ(CountOf(trace, " Baudrate Test successfull "), 1u) << "the line went during the action";
    EXPECT_NE(trace.find("Read Parameter"), std::string::npos);
    EXPECT_EQ(CountOf(trace, " Com Port lost, device gone"), 1u);
    EXPECT_EQ(CountOf(trace, "stopped "), 1u);

    // The adapter is plugged in again, as another device: the next request works from scratch.
    ValveProcess again({});
    ASSERT_FALSE(again.SlavePath().empty());
    engine.UseDevice(again.SlavePath());
    ASSERT_TRUE(engine.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ));
    ASSERT_TRUE(engine.WaitIdle());
    EXPECT_EQ(engine.s.link.BaudIndex.load(), 2);
    EXPECT_EQ(engine.s.params.ValveBlock.BLOCK_VALID, 1);
    EXPECT_FLOAT_EQ(engine.s.params.ValveBlock.PROPORTIONAL_GAIN, 1.2f);
    trace = engine.TraceText();
    EXPECT_EQ(CountOf(trace, " Send Baudrate Test "), 2u);
    EXPECT_EQ(engine.notifier.Codes().back(), NOTIFY_PARAMETERS_READ);
}
