#include "SetpointTestAutotuneCommands.h"

#include <cstdio>
#include <ostream>

#include "CliRun.h"
#include "engine/DeviceCommands.h"
#include "engine/DriveCommands.h"
#include "link/SerialPort.h"
#include "settings/ComSettings.h"
#include "text/Texts.h"

namespace {
// The words of the test functions, in selection order.
constexpr const char* TEST_FUNCTION_WORDS[] = {"off", "ramp", "step", "multistep"};
constexpr unsigned TEST_FUNCTION_TEXTS[] = {36, 173, 174, 175};
constexpr double DEFAULT_TEST_TIME = 1.0;

std::string FormatTenthOf(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

// The caution texts of the Auto-Tune command on one line each.
std::string Caution(unsigned id) {
    std::string text;
    for (char c : LoadText(id)) {
        if (c == '\n') continue;
        if (!(c == ' ' && !text.empty() && text.back() == ' ')) text += c;
    }
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The connection options of this run, so that a command we suggest reaches the same valve.
std::string ConnectionArgs(const Options& o) {
    std::string a;
    if (o.testMode) a += " --test-mode";
    if (o.port) a += std::string(" --port ") + ComName(*o.port);
    if (o.device) a += " --device " + *o.device;
    if (o.baudIndex != 0) a += " --baud " + std::to_string(BaudRateOf(o.baudIndex));
    return a;
}

// Writes the test function and its time, or (without a function) reads which one runs. The
// controller fields that travel in the same telegram are the valve's own, which the engine reads
// just before, as the window's Write does: a project given on the line never changes them.
uint32_t WriteTestFunction(const Options& o, ValveRun& run, uint32_t& wanted) {
    QlnState& s = run.State();
    if (!o.testFunction) return run.Request(CMD_READ_TEST_FUNCTION, wanted = NOTIFY_TEST_FUNCTION_READ);
    StoreShared(s.testFunction.Selection, *o.testFunction);
    StoreShared(s.testFunction.TestTime, static_cast<float>(o.testTime.value_or(DEFAULT_TEST_TIME)));
    return run.Request(CMD_WRITE_TEST_FUNCTION, wanted = NOTIFY_TEST_FUNCTION_WRITTEN);
}
} // namespace

std::string ParseSetpoint(const std::string& word, Options& o) {
    if (word == "off") {
        o.setpoint.reset();
        return "";
    }
    o.setpoint = ParseNumber(word);
    if (!o.setpoint || *o.setpoint < 0 || *o.setpoint > SERIAL_SETPOINT_MAX)
        return "unknown setpoint '" + word + "': use a percentage from 0 to 100, or off";
    o.setpoint = TruncateToHalfPercent(*o.setpoint);
    return "";
}

std::string ParseTestFunction(const std::string& word, Options& o) {
    for (int32_t i = 0; i < 4; ++i)
        if (word == TEST_FUNCTION_WORDS[i]) {
            o.testFunction = i;
            return "";
        }
    return "unknown test function '" + word + "': use off, ramp, step or multistep";
}

std::string ParseTestTime(const std::string& text, Options& o) {
    o.testTime = ParseNumber(text);
    if (!o.testTime || *o.testTime < 0 || *o.testTime > TEST_TIME_MAX)
        return "unknown test time '" + text + "': use 0 to 20 seconds";
    return "";
}

int RunSetpoint(CommandContext& c) {
    const Options& o = c.o;
    ValveRun run(c);
    QlnState& s = run.State();
    if (const int failed = run.Begin("setpoint"); failed >= 0) return failed;
    // The value and the flag first: the engine picks STS or RTS by the flag.
    StoreShared(s.testFunction.SerialSetpoint, static_cast<float>(o.setpoint.value_or(0)));
    StoreShared(s.testFunction.SerialSetpointActive, o.setpoint ? 1 : 0);
    const uint32_t code = run.Request(CMD_SERIAL_SETPOINT, NOTIFY_SERIAL_SETPOINT);
    if (const int failed = run.End(code, NOTIFY_SERIAL_SETPOINT); failed >= 0) return failed;

    JsonObject j;
    std::string text;
    const std::string percent = FormatTenthOf(o.setpoint.value_or(0));
    if (o.setpoint) {
        j.Add("serial_setpoint", percent);
        text = "Serial setpoint " + percent + " % sent.\n";
        // Nobody else knows: the valve must not be left on the PC's setpoint unawares.
        c.err << "qln-cli: the valve now follows the serial setpoint of " << percent
              << " % instead of its own setpoint source, until you run: qln-cli" << ConnectionArgs(o)
              << " setpoint off\n";
    } else {
        text = "The valve follows its own setpoint source again.\n";
    }
    j.Add("active", o.setpoint ? 1L : 0L);
    c.out << (o.json ? j.Str() : text);
    return 0;
}

int RunTestFunction(CommandContext& c) {
    const Options& o = c.o;
    ValveRun run(c);
    const QlnState& s = run.State();
    // Reading which function runs changes nothing and is not recorded.
    if (const int failed = run.Begin(o.testFunction ? "test-function" : nullptr); failed >= 0) return failed;
    uint32_t wanted = 0;
    const uint32_t code = WriteTestFunction(o, run, wanted);
    if (const int failed = run.End(code, wanted); failed >= 0) return failed;

    const int32_t f = o.testFunction.value_or(s.testFunction.ReadBack) & 3;
    const std::string name = LoadText(TEST_FUNCTION_TEXTS[f]);
    JsonObject j;
    std::string text;
    j.AddText("test_function", TEST_FUNCTION_WORDS[f]);
    j.Add("selection", static_cast<long>(f));
    if (o.testFunction) {
        const std::string time = FormatTenthOf(o.testTime.value_or(DEFAULT_TEST_TIME));
        j.Add("time", time);
        text = "Test function " + name + " with " + time + " s written.\n";
    } else {
        text = "Test function: " + name + "\n";
    }
    c.out << (o.json ? j.Str() : text);
    return 0;
}

int RunAutotune(CommandContext& c) {
    if (!c.o.yes) {
        c.err << "qln-cli: " << Caution(IDS_AUTOTUNE_CAUTION)
              << "\nqln-cli: " << Caution(IDS_AUTOTUNE_CONFIRM)
              << "\nqln-cli: nothing was started; run again with --yes to start the auto-tune.\n";
        return EXIT_USAGE;
    }
    ValveRun run(c);
    if (const int failed = run.Begin("autotune"); failed >= 0) return failed;
    const uint32_t code = run.Request(CMD_AUTOTUNE, NOTIFY_AUTOTUNE);
    if (const int failed = run.End(code, NOTIFY_AUTOTUNE); failed >= 0) return failed;
    JsonObject j;
    j.AddText("autotune", "started");
    c.out << (c.o.json ? j.Str() : "Auto-tune started: the valve now tunes its controller on its own.\n");
    return 0;
}
