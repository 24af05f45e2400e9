// qln-cli in-process on a lockstep clock: against the built-in simulated valve, and against a
// scripted valve on a real pseudo-terminal for what goes over the line and how failures exit.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>

#include "engine/DeviceCommands.h"
#include "support/CliRunner.h"
#include "support/EngineHarness.h"
#include "support/LockstepClock.h"
#include "support/ScriptedValve.h"
#include "text/Texts.h"

using namespace qln_test;

namespace {
constexpr size_t PROJECT_FILE_SIZE = 173624;
constexpr size_t EDIT_BLOCK_OFFSET = 1280;

// On a lockstep clock the time-outs of a failing run pass in a fraction of a second, and none
// expires just because the machine is busy. A scripted valve joins the run's clock.
CliRun RunTool(const std::vector<std::string>& args, LockstepClock& clock) {
    clock.ExpectMembers(LockstepClock::ENGINE_THREADS);
    return RunCliCaptured(args, clock);
}

CliRun RunTool(const std::vector<std::string>& args, LockstepClock& clock, CliInterrupt& interrupt) {
    clock.ExpectMembers(LockstepClock::ENGINE_THREADS);
    return RunCliCaptured(args, clock, &interrupt);
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
    for (const ParameterDescription& f : ParameterTable())
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
        // A bad value after a good one is refused as well.
        {"--test-mode", "record", "--mode", "roll", "--for", "1", "--rate", "4", "--rate", "7", "--csv",
         "o.csv"},
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
    ASSERT_EQ(::mkfifo("pipe.qpj", 0644), 0);
    // A pipe nobody writes to and a device are refused at once: opening them must not block.
    const std::pair<const char*, const char*> cases[] = {{"missing.qpj", "No such file"},
                                                         {"short.qpj", "too short"},
                                                         {"folder.qpj", "is a folder"},
                                                         {"pipe.qpj", "not a regular file"},
                                                         {"/dev/zero", "not a regular file"}};
    for (const auto& [file, reason] : cases) {
        const CliRun r = RunTool({"--test-mode", "write-params", file});
        EXPECT_EQ(r.status, 2) << file;
        EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

// ---- what could not be read or written is said ------------------------------------------------------

TEST_F(Cli, ASettingsFileThatNamesNoPortIsSaidWithThePortUsedInstead) {
    const std::string missing = dir.File("no-such-tty");
    const std::pair<std::string, std::string> cases[] = {
        {"[SERIAL-PORT]\nPORT=com2\n", "names the port 'com2', which is none of COM1 .. COM8"},
        {"\x01\x02junk\xff\n", "names no port"},
        {"[OTHER]\nPORT=COM2\n", "names no port"},
    };
    for (const auto& [text, what] : cases) {
        WriteFile("QLN_com.ini", std::vector<uint8_t>(text.begin(), text.end()));
        const std::string devices = "[DEVICES]\nCOM1=" + missing + "\n";
        std::ofstream("QLN_com.ini", std::ios::app) << devices;
        const CliRun r = RunTool({"info"});
        EXPECT_EQ(r.status, 7) << text;
        EXPECT_NE(r.err.find("warning: QLN_com.ini " + what), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("COM1 (" + missing + ") is used instead"), std::string::npos) << r.err;
    }
    // A good file, a port given on the command line and test mode warn of nothing.
    std::ofstream("QLN_com.ini", std::ios::trunc)
        << "[SERIAL-PORT]\nPORT=COM2\n[DEVICES]\nCOM2=" << missing << "\n";
    EXPECT_EQ(RunTool({"info"}).err.find("warning"), std::string::npos);
    std::ofstream("QLN_com.ini", std::ios::trunc) << "[SERIAL-PORT]\nPORT=junk\n";
    EXPECT_EQ(RunTool({"--device", missing, "info"}).err.find("warning"), std::string::npos);
    ASSERT_EQ(::unlink("QLN_com.ini"), 0);
    EXPECT_EQ(RunTool({"--test-mode", "info"}).err.find("warning"), std::string::npos);
}

TEST_F(Cli, ATraceThatCannotBeWrittenIsSaidAndTheCommandStillWorks) {
    ASSERT_EQ(::mkdir("debug.txt", 0755), 0);
    const CliRun r = RunTool({"--test-mode", "--trace", "info"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: The trace log debug.txt cannot be written"), std::string::npos) << r.err;
    EXPECT_FALSE(r.out.empty());
}

// ---- projects: read-params FILE, show, diff ---------------------------------------------------------

// Windows-1252 in the record has no arrow; show prints the real name and folder, as the title does.
TEST_F(Cli, ReadParamsIntoANewProjectThenShowAndDiffReadItBack) {
    const CliRun read = RunTool({"--test-mode", "read-params", "plant\u2192A.txt"});
    ASSERT_EQ(read.status, 0) << read.err;
    const std::string image = ReadWholeFile(dir.File("plant\u2192A.QPJ"));
    ASSERT_EQ(image.size(), 173624u) << "a new project named after the file, with the project extension";
    EXPECT_EQ(image.substr(25, 12), std::string("plant?A.QPJ\0", 12)) << "the record's file name";

    const CliRun show = RunTool({"show", "--json", "plant\u2192A.QPJ"});
    ASSERT_EQ(show.status, 0) << show.err;
    const std::string path = std::filesystem::current_path().string() + "/plant\u2192A.QPJ";
    EXPECT_NE(show.out.find("\"file\": \"plant\u2192A.QPJ\", \"path\": \"" + path), std::string::npos);
    const std::string text = RunTool({"show", "plant\u2192A.QPJ"}).out;
    EXPECT_NE(text.find("file            plant\u2192A.QPJ\npath            " + path + "\n"),
              std::string::npos);
    EXPECT_NE(show.out.find("\"format_version\": 1.01"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"name\": \"plant?A\""), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"PROPORTIONAL_GAIN\": 0.64"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"recording\": {\"samples\": 0}"), std::string::npos) << show.out;

    const CliRun same = RunTool({"--test-mode", "diff", "plant\u2192A.QPJ"});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, "");
}

TEST_F(Cli, ReadParamsKeepsEveryOtherRecordOfAnExistingProject) {
    std::vector<uint8_t> image = ProjectImage(DefaultParameterBlock());
    const std::string name = "Keep me";
    std::copy(name.begin(), name.end(), image.begin());
    image[name.size()] = 0;
    WriteFile("p.qpj", image);
    ASSERT_EQ(RunTool({"--test-mode", "read-params", "p.qpj"}).status, 0);
    const std::string after = ReadWholeFile(dir.File("p.qpj"));
    ASSERT_EQ(after.size(), image.size());
    EXPECT_EQ(after.substr(0, 8), std::string("Keep me\0", 8));
    // The scope set-up but its fixed binary channels 1 and 4 (offsets 96 and 108).
    EXPECT_EQ(after.substr(1900, 96), std::string(image.begin() + 1900, image.begin() + 1996))
        << "scope set-up";
    EXPECT_EQ(after.substr(2012, 400), std::string(image.begin() + 2012, image.begin() + 2412))
        << "scope set-up";
    EXPECT_EQ(after.substr(10424), std::string(image.begin() + 10424, image.end())) << "the recording";
    EXPECT_NE(after.substr(1280, 620), std::string(image.begin() + 1280, image.begin() + 1900))
        << "new parameters";
}

TEST_F(Cli, DiffListsWhatTheValveHoldsOtherwiseAndExitsOne) {
    ParameterBlock edit = DefaultParameterBlock();
    edit.PROPORTIONAL_GAIN = 0.64f; // as the built-in valve reports
    WriteFile("p.qpj", ProjectImage(edit));
    const CliRun r = RunTool({"--test-mode", "--json", "diff", "p.qpj"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out.find("PROPORTIONAL_GAIN"), std::string::npos) << "equal values are not listed";
    EXPECT_NE(r.out.find("{\"name\": \"SETPOINT_SPAN\", \"project\": \"50\", \"valve\": \"64\"}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("BLOCK_VALID"), std::string::npos) << "only what a write sends is compared";
}

TEST_F(Cli, AProjectThatCannotBeSavedHasItsOwnStatusAndNamesTheFile) {
    const CliRun r = RunTool({"--test-mode", "read-params", "no-such-folder/p.QPJ"});
    EXPECT_EQ(r.status, 9);
    EXPECT_NE(r.err.find("no-such-folder/p.QPJ"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

// ---- values outside their ranges never reach a valve unasked -------------------------------------

TEST_F(Cli, WriteParamsRefusesValuesOutsideTheirRangesAndSendsNothing) {
    WriteFile("zero.qpj", std::vector<uint8_t>(PROJECT_FILE_SIZE, 0));
    ParameterBlock odd = DefaultParameterBlock();
    odd.OUTPUT_MODE = 231;
    odd.PROPORTIONAL_GAIN = std::numeric_limits<float>::quiet_NaN();
    WriteFile("odd.qpj", ProjectImage(odd));
    ScriptedValve valve(ValveModel().Behaviour());

    const CliRun zero = RunTool({"--device", valve.SlavePath(), "write-params", "zero.qpj"});
    EXPECT_EQ(zero.status, 2);
    EXPECT_NE(zero.err.find("CURRENT_LIMIT_LEVEL is 0, allowed 100 to 2000 mA"), std::string::npos)
        << zero.err;
    EXPECT_NE(zero.err.find("SETPOINT_SPAN is 0, allowed 10 to 150 %"), std::string::npos) << zero.err;
    EXPECT_NE(zero.err.find("nothing was written"), std::string::npos) << zero.err;
    EXPECT_EQ(zero.err.find("SLAVE_GAIN"), std::string::npos) << "never sent, so never refused";

    const CliRun oddRun = RunTool({"--device", valve.SlavePath(), "write-params", "odd.qpj"});
    EXPECT_EQ(oddRun.status, 2);
    EXPECT_NE(oddRun.err.find("OUTPUT_MODE is 231, allowed 0 to 1\n"), std::string::npos) << oddRun.err;
    EXPECT_NE(oddRun.err.find("PROPORTIONAL_GAIN is nan"), std::string::npos) << oddRun.err;
    EXPECT_EQ(valve.RequestCount(), 0u) << "not a single telegram before the check";
}

TEST_F(Cli, WriteParamsWithForceWritesTheSetAsItStandsAndSaysSo) {
    ParameterBlock odd = DefaultParameterBlock();
    odd.OUTPUT_MODE = 231;
    WriteFile("odd.qpj", ProjectImage(odd));
    ValveModel model;
    LockstepClock clock;
    ScriptedValve valve(model.Behaviour(), clock);
    const CliRun r = RunTool({"--device", valve.SlavePath(), "--force", "write-params", "odd.qpj"}, clock);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("because --force was given"), std::string::npos) << r.err;
    EXPECT_EQ(model.Value(26), 231) << "PMS sent as the telegram table packs it";
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

// Each number as the parameter editor shows and sends it: rounded to the valve's step.
TEST_F(Cli, WriteParamsSendsTheBlockStoredInTheProjectFileAsTheValveHoldsIt) {
    ParameterBlock edit = DefaultParameterBlock();
    edit.PROPORTIONAL_GAIN = 1.23f;
    edit.DEAD_BAND = 0.25f;
    edit.SHUT_OFF_LEVEL = 1.27f;
    edit.CURRENT_LIMIT_LEVEL = 155;
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
    // The 34 write commands in the order a full write sends them.
    const std::vector<uint8_t> writeOrder = {1,  3,  5,   7,  50, 52, 54, 56,  58, 100, 17,  96,
                                             23, 48, 13,  15, 98, 9,  66, 102, 19, 68,  106, 72,
                                             74, 70, 104, 64, 25, 11, 60, 76,  44, 62};
    ASSERT_EQ(requests.size(), 1u + writeOrder.size());
    for (size_t k = 0; k < writeOrder.size(); ++k) {
        const auto& t = requests[1 + k].bytes;
        ASSERT_EQ(t.size(), 4u);
        EXPECT_EQ(t[1], writeOrder[k]) << "write " << k;
        EXPECT_EQ(t[3], static_cast<uint8_t>(t[1] + t[2])) << "write " << k;
    }
    EXPECT_EQ(model.Value(101), 0x25) << "structure 5, auto zero on (bit 5), no test function";
    EXPECT_EQ(model.Value(2), 123) << "gain 1.23";
    EXPECT_EQ(model.Value(8), 3) << "dead band 0.25, shown as 0.3";
    EXPECT_EQ(model.Value(49), 13) << "shut off level 1.27, shown as 1.3";
    EXPECT_EQ(model.Value(73), 16) << "current limit 155 mA, shown as 160";
    EXPECT_EQ(model.Value(14), 0) << "offset -50";
    EXPECT_EQ(model.Value(57), 120) << "PWM 1200 Hz";
    EXPECT_EQ(model.Value(97), 0x20) << "factory set, autosafe on";
    const std::string shown = RunTool({"show", "p.qpj"}).out;
    EXPECT_NE(shown.find("SHUT_OFF_LEVEL                  1.3 %\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("CURRENT_LIMIT_LEVEL             160 mA\n"), std::string::npos) << shown;
    const CliRun diff = RunTool({"--device", valve.SlavePath(), "diff", "p.qpj"}, clock);
    EXPECT_EQ(diff.status, 0) << diff.out;
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
    EXPECT_NE(r.err.find("replies arrived damaged"), std::string::npos) << r.err;
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
    EXPECT_NE(r.err.find("answered with firmware version 0"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("did not answer"), std::string::npos) << "it did answer: " << r.err;
}

// ---- a write that does not complete -------------------------------------------------------------

namespace {
bool IsWrite(const std::vector<uint8_t>& request) {
    return request.size() == 4 && IsWritableRead(static_cast<uint8_t>(request[1] + 1));
}
size_t WritesIn(const ScriptedValve& valve) {
    size_t n = 0;
    for (const auto& r : valve.Requests())
        n += IsWrite(r.bytes) ? 1 : 0;
    return n;
}
} // namespace

TEST_F(Cli, ASignalMidWriteEndsAfterTheTelegramOnTheLineAndSaysWhatTheValveHolds) {
    WriteFile("p.qpj", ProjectImage(DefaultParameterBlock()));
    ValveModel model;
    LockstepClock clock;
    CliInterrupt interrupt;
    size_t writes = 0;
    // The signal comes while the 18th write telegram is on the line: its reply is still taken.
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            if (IsWrite(r) && ++writes == 18) interrupt.Raise(SIGTERM);
            return model.Answer(r);
        },
        clock);
    const CliRun r = RunTool({"--device", valve.SlavePath(), "write-params", "p.qpj"}, clock, interrupt);
    EXPECT_EQ(r.status, 10) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("stopped by SIGTERM"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("confirmed the first 18 of the 34 new values"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("mix of old and new values"), std::string::npos) << r.err;
    EXPECT_EQ(WritesIn(valve), 18u) << "no telegram after the signal";
}

TEST_F(Cli, ASignalBeforeAnythingWasSentEndsWithTheSignalsStatus) {
    WriteFile("p.qpj", ProjectImage(DefaultParameterBlock()));
    const std::vector<std::vector<std::string>> commands = {{"write-params", "p.qpj"}, {"info"}};
    for (const auto& command : commands) {
        ValveModel model;
        LockstepClock clock;
        ScriptedValve valve(model.Behaviour(), clock);
        CliInterrupt interrupt;
        interrupt.Raise(SIGINT);
        std::vector<std::string> args = {"--device", valve.SlavePath()};
        args.insert(args.end(), command.begin(), command.end());
        const CliRun r = RunTool(args, clock, interrupt);
        EXPECT_EQ(r.status, 128 + SIGINT) << r.err;
        EXPECT_NE(r.err.find("Nothing was written to the valve."), std::string::npos) << r.err;
        EXPECT_EQ(valve.RequestCount(), 0u);
    }
}

TEST_F(Cli, AWriteEndedByTheLineOrByRefusalsSaysHowFarItGot) {
    WriteFile("p.qpj", ProjectImage(DefaultParameterBlock()));
    {
        // A reply on its way when the line drops is lost with it: the 12th write is not answered.
        SCOPED_TRACE("the line drops after 11 writes");
        ValveModel model;
        LockstepClock clock;
        size_t writes = 0;
        ScriptedValve valve(
            [&](const std::vector<uint8_t>& r) {
                return IsWrite(r) && ++writes == 12 ? std::vector<uint8_t>{} : model.Answer(r);
            },
            clock);
        valve.HangUpAfter(1 + 12); // the rate probe, then 12 writes
        const CliRun r = RunTool({"--device", valve.SlavePath(), "write-params", "p.qpj"}, clock);
        EXPECT_EQ(r.status, 10) << r.err;
        EXPECT_NE(r.err.find("confirmed the first 11 of the 34 new values"), std::string::npos) << r.err;
    }
    {
        // Every attempt starts again at the first telegram and is refused at the 13th (CTS, 23).
        SCOPED_TRACE("the valve refuses one value");
        ValveModel model;
        LockstepClock clock;
        ScriptedValve valve(
            [&](const std::vector<uint8_t>& r) {
                return r.size() > 1 && r[1] == 23 ? std::vector<uint8_t>{0x15} : model.Answer(r);
            },
            clock);
        const CliRun r = RunTool({"--device", valve.SlavePath(), "write-params", "p.qpj"}, clock);
        EXPECT_EQ(r.status, 10) << r.err;
        EXPECT_NE(r.err.find("refused the telegram (NAK)"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("confirmed the first 12 of the 34 new values"), std::string::npos) << r.err;
        EXPECT_EQ(WritesIn(valve), 4u * 13u) << "the first try and three restarts";
    }
    {
        SCOPED_TRACE("the first write is never answered");
        ValveModel model;
        LockstepClock clock;
        ScriptedValve valve(
            [&](const std::vector<uint8_t>& r) {
                return IsWrite(r) ? std::vector<uint8_t>{} : model.Answer(r);
            },
            clock);
        const CliRun r = RunTool({"--device", valve.SlavePath(), "write-params", "p.qpj"}, clock);
        EXPECT_EQ(r.status, 10) << r.err;
        EXPECT_NE(r.err.find("did not answer"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("confirmed none of the new values"), std::string::npos) << r.err;
    }
}
