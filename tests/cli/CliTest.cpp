// qln-cli in-process on a lockstep clock: against the built-in simulated valve, and against a
// scripted valve on a real pseudo-terminal for what goes over the line and how failures exit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "Cli.h"
#include "app/Texts.h"
#include "engine/DeviceCommands.h"
#include "support/EngineHarness.h"
#include "support/LockstepClock.h"
#include "support/ScriptedValve.h"

using namespace qln_test;

namespace {
constexpr size_t PROJECT_FILE_SIZE = 173624;
constexpr size_t EDIT_BLOCK_OFFSET = 1280;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// On a lockstep clock the time-outs of a failing run pass in a fraction of a second, and none
// expires just because the machine is busy. A scripted valve joins the run's clock.
CliRun RunTool(const std::vector<std::string>& args, LockstepClock& clock) {
    std::ostringstream out, err;
    const int status = RunCli(args, clock, out, err);
    return {status, out.str(), err.str()};
}

CliRun RunTool(const std::vector<std::string>& args) {
    LockstepClock clock;
    return RunTool(args, clock);
}

// A flat JSON object of numbers and strings, as qln-cli prints it; nullopt when malformed.
std::optional<std::map<std::string, std::string>> ParseFlatJson(const std::string& text) {
    std::map<std::string, std::string> out;
    size_t i = 0;
    auto skip = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
    };
    auto str = [&](std::string& s) {
        if (i >= text.size() || text[i] != '"') return false;
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && ++i >= text.size()) return false;
            s += text[i];
        }
        return i++ < text.size();
    };
    skip();
    if (i >= text.size() || text[i++] != '{') return std::nullopt;
    for (;;) {
        skip();
        std::string key, value;
        if (!str(key)) return std::nullopt;
        skip();
        if (i >= text.size() || text[i++] != ':') return std::nullopt;
        skip();
        if (i < text.size() && text[i] == '"') {
            if (!str(value)) return std::nullopt;
        } else {
            const size_t start = i;
            if (i < text.size() && text[i] == '-') ++i;
            const size_t digits = i;
            while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'))
                ++i;
            const std::string number = text.substr(digits, i - digits);
            if (number.empty() || number.front() == '.' || number.back() == '.' ||
                std::count(number.begin(), number.end(), '.') > 1)
                return std::nullopt;
            value = text.substr(start, i - start);
        }
        out[key] = value;
        skip();
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (i < text.size() && text[i] == '}') {
            ++i;
            skip();
            return i == text.size() ? std::optional(out) : std::nullopt;
        }
        return std::nullopt;
    }
}

std::vector<uint8_t> Bytes(const ParameterBlock& b) {
    const auto* p = reinterpret_cast<const uint8_t*>(&b);
    return {p, p + sizeof b};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A project file: filler everywhere, the working parameter set at its place.
std::vector<uint8_t> ProjectImage(const ParameterBlock& edit) {
    std::vector<uint8_t> image(PROJECT_FILE_SIZE, 0xEE);
    const auto block = Bytes(edit);
    std::copy(block.begin(), block.end(), image.begin() + EDIT_BLOCK_OFFSET);
    return image;
}

std::vector<const ParamRow*> WriteRows() {
    std::vector<const ParamRow*> out;
    for (const ParamRow& row : ParamRows())
        if (row.writeName) out.push_back(&row);
    return out;
}

// Every test runs in a folder of its own: qln-cli reads QLN_com.ini and writes debug.txt in the
// current folder.
class Cli : public ::testing::Test {
protected:
    InTempFolder dir;
};
} // namespace

// ---- the built-in simulated valve ---------------------------------------------------------------

TEST_F(Cli, TestModeInfoPrintsTheCannedValuesAsJson) {
    const CliRun r = RunTool({"--test-mode", "info", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = ParseFlatJson(r.out);
    ASSERT_TRUE(json) << r.out;
    for (const char* key :
         {"firmware", "part_number", "serial_number", "production_year", "production_week",
          "calibration_year", "calibration_month", "calibration_day", "operation_minutes",
          "calibration_counter", "calibration_status", "calibration_temperature", "valve_temperature"})
        EXPECT_EQ(json->count(key), 1u) << key;
    EXPECT_EQ(json->at("firmware"), "23");
    EXPECT_EQ(json->at("serial_number"), "329223");
    EXPECT_EQ(json->at("operation_minutes"), "4386");
    EXPECT_EQ(json->at("valve_temperature"), "-23");
    EXPECT_EQ(json->at("calibration_temperature"), "27");
    EXPECT_EQ(json->at("production_year"), "08");
    EXPECT_FALSE(std::ifstream("debug.txt")) << "no trace unless asked for";
}

TEST_F(Cli, TestModeReadParamsPrintsEveryFieldOfTheBlock) {
    const CliRun r = RunTool({"read-params", "--json", "--test-mode"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = ParseFlatJson(r.out);
    ASSERT_TRUE(json) << r.out;
    for (const ParameterField& f : ParameterFields())
        EXPECT_EQ(json->count(f.name), 1u) << f.name;
    EXPECT_EQ(json->at("BLOCK_VALID"), "1");
    EXPECT_EQ(json->at("PROPORTIONAL_GAIN"), "0.64");
    EXPECT_EQ(json->at("SETPOINT_OFFSET"), "14");
    EXPECT_EQ(json->at("AUTO_ZERO_VALUE"), "-64");
    EXPECT_EQ(json->at("PWM_FREQUENCY"), "640");

    const CliRun text = RunTool({"--test-mode", "read-params"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("PROPORTIONAL_GAIN"), std::string::npos);
    EXPECT_NE(text.out.find("0.64"), std::string::npos);
}

TEST_F(Cli, TestModeStatusAndWrite) {
    const CliRun status = RunTool({"--test-mode", "--json", "status"});
    ASSERT_EQ(status.status, 0) << status.err;
    const auto json = ParseFlatJson(status.out);
    ASSERT_TRUE(json) << status.out;
    EXPECT_EQ(json->at("valid"), "1");
    EXPECT_EQ(json->at("overvoltage"), "1");
    EXPECT_EQ(json->at("led_red"), "3");

    WriteFile("p.qpj", ProjectImage(DefaultParameterBlock()));
    const CliRun write = RunTool({"--test-mode", "write-params", "p.qpj"});
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(write.out, "Wrote 34 parameters.\n");
}

TEST_F(Cli, TraceWritesTheLogIntoTheCurrentFolder) {
    const CliRun r = RunTool({"--test-mode", "--trace", "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string trace = ReadWholeFile(dir.File("debug.txt"));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.rfind(LoadText(IDS_APP_TITLE) + "  'Release 1.01' DEBUG-File ", 0), 0u) << trace;
    EXPECT_NE(trace.find(" \r\n uTestMode Flag: 1 \r\n"), std::string::npos);
    EXPECT_NE(trace.find("THREAD_CMD: 0x10080 "), std::string::npos);
    EXPECT_NE(trace.find(" Read Device Info "), std::string::npos);
}

// ---- arguments and files ------------------------------------------------------------------------

TEST_F(Cli, UsageErrorsExitWithTwoAndShowTheUsage) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--test-mode"},
        {"--test-mode", "frobnicate"},
        {"--test-mode", "--verbose", "info"},
        {"--test-mode", "info", "extra"},
        {"--test-mode", "write-params"},
        {"--test-mode", "write-params", "a.qpj", "b.qpj"},
        {"--port", "COM9", "info"},
        {"--port", "com1", "info"},
        {"info", "--device"},
        {"--test-mode", "--device", "/dev/null", "info"},
        {"--port", "COM1", "--device", "/dev/null", "info"},
        {"--test-mode", "--baud", "9600", "info"},
        {"--test-mode", "info", "--baud"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        const CliRun r = RunTool(args);
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_NE(r.err.find("usage: qln-cli"), std::string::npos) << joined;
        EXPECT_TRUE(r.out.empty()) << joined;
    }
    const CliRun help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: qln-cli"), std::string::npos);
}

TEST_F(Cli, WriteParamsRefusesAProjectFileItCannotUse) {
    WriteFile("short.qpj", std::vector<uint8_t>(EDIT_BLOCK_OFFSET + sizeof(ParameterBlock) - 1, 0));
    ASSERT_EQ(::mkdir("folder.qpj", 0755), 0);
    for (const char* file : {"missing.qpj", "short.qpj", "folder.qpj"}) {
        const CliRun r = RunTool({"--test-mode", "write-params", file});
        EXPECT_EQ(r.status, 2) << file;
        EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(Cli, MissingDeviceIsABaudrateErrorWithAdvice) {
    const CliRun r = RunTool({"--device", dir.File("no-such-tty"), "info"});
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("Baudrate Error"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Cannot open serial port"), std::string::npos) << r.err;
}

TEST_F(Cli, PortInUseIsABaudrateErrorThatNamesTheReason) {
    ScriptedValve valve([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; });
    const int holder = ::open(valve.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const CliRun r = RunTool({"--device", valve.SlavePath(), "status"});
    ::close(holder);
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("Another program is using the port"), std::string::npos) << r.err;
    EXPECT_EQ(valve.RequestCount(), 0u);
}

// ---- over a pseudo-terminal ---------------------------------------------------------------------

TEST_F(Cli, WriteParamsSendsExactlyTheBlockStoredInTheProjectFile) {
    ParameterBlock edit = DefaultParameterBlock();
    edit.PROPORTIONAL_GAIN = 1.23f;
    edit.DEAD_BAND = 0.25f;
    edit.SETPOINT_OFFSET = -50;
    edit.PWM_FREQUENCY = 1200;
    edit.CONTROLLER_STRUCTURE = 5;
    edit.PARAMETER_SET = 1;
    edit.AUTOSAFE = 1;
    WriteFile("p.qpj", ProjectImage(edit));

    ValveModel model;
    LockstepClock clock;
    ScriptedValve valve(model.Behaviour(), clock);
    const CliRun r = RunTool({"--device", valve.SlavePath(), "write-params", "p.qpj"}, clock);
    ASSERT_EQ(r.status, 0) << r.err;

    const auto requests = valve.Requests();
    const auto rows = WriteRows();
    ASSERT_EQ(requests.size(), 1u + rows.size());
    const TestFunctionData noTestFunction{};
    for (size_t k = 0; k < rows.size(); ++k) {
        const ParamRow& row = *rows[k];
        const uint8_t data = ParamWriteData(row, edit, noTestFunction);
        EXPECT_EQ(requests[1 + k].bytes,
                  (std::vector<uint8_t>{0x02, row.writeCmd, data, static_cast<uint8_t>(row.writeCmd + data)}))
            << row.writeName;
    }
    EXPECT_EQ(model.Value(2), 123) << "gain 1.23";
    EXPECT_EQ(model.Value(8), 2) << "dead band 0.25";
    EXPECT_EQ(model.Value(14), 0) << "offset -50";
    EXPECT_EQ(model.Value(57), 120) << "PWM 1200 Hz";
    EXPECT_EQ(model.Value(97), 0x20) << "factory set, autosafe on";
}

TEST_F(Cli, BaudSkipsTheRateSearchAndAValveAtAnotherSpeedEndsWithSeven) {
    ValveModel model;
    {
        LockstepClock clock;
        ScriptedValve valve(model.Behaviour(), B57600, &clock);
        const CliRun r = RunTool({"--device", valve.SlavePath(), "--baud", "57600", "status"}, clock);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto requests = valve.Requests();
        ASSERT_EQ(requests.size(), 3u) << "the probe, STR and LER";
        EXPECT_EQ(requests[0].speed, B57600);
        EXPECT_EQ(requests[0].bytes, (std::vector<uint8_t>{0x02, 0x23, 0x00, 0x23}));
    }
    {
        LockstepClock clock;
        ScriptedValve valve(model.Behaviour(), B57600, &clock);
        const CliRun r = RunTool({"--device", valve.SlavePath(), "--baud", "19200", "status"}, clock);
        EXPECT_EQ(r.status, 7);
        EXPECT_NE(r.err.find("Baudrate Error"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("did not answer at 19200 baud"), std::string::npos) << r.err;
        const auto requests = valve.Requests();
        ASSERT_EQ(requests.size(), 1u) << "57600 is not tried";
        EXPECT_EQ(requests[0].speed, B19200);
    }
}

TEST_F(Cli, FactoryAndCustomChangeOnlyTheParameterSetBit) {
    ValveModel model;
    model.SetValue(97, 0xA5); // factory set (bit 6 clear) with flags 0, 2, 5 and 7

    {
        LockstepClock clock;
        ScriptedValve valve(model.Behaviour(), clock);
        const CliRun custom = RunTool({"--device", valve.SlavePath(), "custom", "--json"}, clock);
        ASSERT_EQ(custom.status, 0) << custom.err;
        const auto requests = valve.Requests();
        ASSERT_EQ(requests.size(), 1u + 36u + 1u + 36u) << "rate test, read, switch, read back";
        EXPECT_EQ(requests[37].bytes,
                  (std::vector<uint8_t>{0x02, 96, 0xE5, static_cast<uint8_t>(96 + 0xE5)}));
        const auto json = ParseFlatJson(custom.out);
        ASSERT_TRUE(json) << custom.out;
        EXPECT_EQ(json->at("PARAMETER_SET"), "0") << "the read-back shows the custom set";
    }
    {
        LockstepClock clock;
        ScriptedValve valve(model.Behaviour(), clock);
        const CliRun factory = RunTool({"--device", valve.SlavePath(), "factory"}, clock);
        ASSERT_EQ(factory.status, 0) << factory.err;
        const auto requests = valve.Requests();
        ASSERT_EQ(requests.size(), 74u);
        EXPECT_EQ(requests[37].bytes,
                  (std::vector<uint8_t>{0x02, 96, 0xA5, static_cast<uint8_t>(96 + 0xA5)}));
        EXPECT_EQ(model.Value(97), 0xA5);
    }
}

TEST_F(Cli, PortNameIsLookedUpInTheSettingsFile) {
    ValveModel model;
    LockstepClock clock;
    ScriptedValve valve(model.Behaviour(), clock);
    {
        std::ofstream ini("QLN_com.ini");
        ini << "[SERIAL-PORT]\r\nPORT=COM1\r\n[DEVICES]\r\nCOM3=" << valve.SlavePath() << "\r\n";
    }
    const CliRun r = RunTool({"--port", "COM3", "status", "--json"}, clock);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(valve.Commands(), (std::vector<uint8_t>{0x23, 108, 110}));
    const auto json = ParseFlatJson(r.out);
    ASSERT_TRUE(json) << r.out;
    EXPECT_EQ(json->at("overvoltage"), "2");
}

TEST_F(Cli, DamagedDeviceRecordExitsWithSix) {
    ValveModel model;
    LockstepClock clock;
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            auto reply = model.Answer(r);
            return r[1] == ValveModel::DIR ? WithBadBcc(reply) : reply;
        },
        clock);
    const CliRun r = RunTool({"--device", valve.SlavePath(), "info"}, clock);
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("Communication Error"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST_F(Cli, SilentValveMakesEveryCommandExitWithSeven) {
    WriteFile("p.qpj", ProjectImage(DefaultParameterBlock()));
    const std::vector<std::vector<std::string>> commands = {
        {"info"}, {"status"}, {"read-params"}, {"write-params", "p.qpj"}, {"factory"}, {"custom"}};
    for (const auto& command : commands) {
        LockstepClock clock;
        ScriptedValve valve([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; }, clock);
        std::vector<std::string> args = {"--device", valve.SlavePath()};
        args.insert(args.end(), command.begin(), command.end());
        const CliRun r = RunTool(args, clock);
        EXPECT_EQ(r.status, 7) << command[0];
        EXPECT_NE(r.err.find("Baudrate Error"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << command[0];
        EXPECT_EQ(valve.RequestCount(), 2u) << command[0] << ": one try per rate";
    }
}

TEST_F(Cli, FirmwareZeroIsExplainedOnStderr) {
    ValveModel model;
    model.SetValue(ValveModel::VER, 0);
    LockstepClock clock;
    ScriptedValve valve(model.Behaviour(), clock);
    const CliRun r = RunTool({"--device", valve.SlavePath(), "info"}, clock);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(CountOf(r.err, "Controller Firmware must be greater 0.00"), 1u) << r.err;
    EXPECT_NE(r.err.find("Baudrate Error"), std::string::npos);
}
