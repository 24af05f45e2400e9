#include "Cli.h"
#include "CalibrationCommand.h"
#include "RecordCommand.h"
#include "scope/Acquisition.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <utility>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/DeviceCommands.h"
#include "engine/DriveCommands.h"
#include "engine/EngineThreads.h"
#include "engine/FailureReport.h"
#include "engine/StatusPairs.h"
#include "engine/ValveInfoFormat.h"
#include "link/SerialPort.h"
#include "params/ParameterCheck.h"
#include "system/AtomicFile.h"
#include "project/ProjectFile.h"
#include "project/ProjectLayout.h"
#include "settings/ComSettings.h"
#include "text/Encoding.h"
#include "text/Texts.h"

namespace {
constexpr int EXIT_DIFFERENT = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_PROJECT_NOT_SAVED = 9;
constexpr int EXIT_WRITE_INCOMPLETE = 10;
// A run stopped by a signal before anything was changed ends as the shell expects: 128 + signal.
constexpr int EXIT_SIGNAL_BASE = 128;

const char* USAGE =
    "usage: qln-cli [--test-mode | --port COM1..COM8 | --device PATH] [--baud 19200|57600] [--trace] "
    "[--json]\n"
    "               [--force] [--time S] [--yes] COMMAND [ARGUMENT] [FILE]\n"
    "commands:\n"
    "  info                 read the valve information\n"
    "  status               read the valve status and LEDs\n"
    "  read-params [FILE]   read all parameters; with FILE also keep them as the project's edited set\n"
    "  write-params FILE    write the working parameters stored in project FILE (.QPJ)\n"
    "  diff FILE            list the parameters in which the valve differs from project FILE\n"
    "  show FILE            print project FILE without touching a valve\n"
    "  factory | custom     switch the valve to its factory or custom parameter set\n"
    "  record [FILE]        record the scope: [--mode step|ramp|roll] [--time S] [--rate MS] [--begin PCT]\n"
    "                       [--end PCT] [--ramp-time S] [--trigger CH:rising|falling:VALUE] [--for S]\n"
    "                       [--csv FILE|-]; the set-up is FILE's (or the defaults) with these options over\n"
    "                       it, and FILE keeps the set-up and the recording. Ctrl+C stops a recording\n"
    "                       (twice: hard stop).\n"
    "  setpoint PCT|off     make the valve follow PCT percent (0 to 100, in 0.5 steps) sent from the PC,\n"
    "                       or return it to its own setpoint source\n"
    "  test-function [off|ramp|step|multistep [FILE]]\n"
    "                       without a function: read which one the valve runs; with one: write it and\n"
    "                       its time (the valve's own controller settings, or those of project FILE)\n"
    "  autotune --yes       start the valve's auto-tune (without --yes: show the caution, start nothing)\n"
    "calibration mode (only with --cal):\n"
    "  read-matrix [FILE]   read the calibration matrix, spans, offsets and outside temperature; with FILE\n"
    "                       also keep them as the project's read-back values\n"
    "  write-matrix FILE    write the matrix and the set values of project FILE to the valve\n"
    "  calibration start [FILE] | check | stop\n"
    "                       start (with FILE's start mode and outside temperature), check or stop the\n"
    "                       factory calibration; check and stop print the result\n"
    "options:\n"
    "  --test-mode          use the built-in simulated valve\n"
    "  --port COMn          use COMn as mapped in QLN_com.ini of the current folder\n"
    "  --device PATH        use this serial device\n"
    "  --baud 19200|57600   the valve's line speed: only this speed is tried\n"
    "  --trace              write the trace log debug.txt in the current folder\n"
    "  --json               print one JSON object\n"
    "  --force              write-params: write values outside their ranges too (for tests of a valve)\n"
    "  --time S             test-function: the ramp or step time, 0 to 20 s (default 1.0);\n"
    "                       record: the acquisition time, 4 to 20 s\n"
    "  --yes                autotune: the caution has been read; start it\n"
    "  --cal                calibration mode: allows the calibration commands\n";

struct Options {
    bool testMode = false;
    bool trace = false;
    bool json = false;
    bool force = false;
    std::optional<int> port;
    std::optional<std::string> device;
    int32_t baudIndex = 0; // 0: found by the baud-rate test
    std::string command;
    std::string file;
    RecordOptions record;
    // setpoint: the percentage, cut to 0.5 % steps; nullopt for off.
    std::optional<double> setpoint;
    // test-function: the function to write; nullopt reads back which one runs.
    std::optional<int32_t> testFunction;
    std::optional<double> testTime;
    bool yes = false;
    bool cal = false;
    CalibrationStep calibrationStep = CalibrationStep::None;
};

// The words of the test functions, in selection order.
constexpr const char* TEST_FUNCTION_WORDS[] = {"off", "ramp", "step", "multistep"};
constexpr unsigned TEST_FUNCTION_TEXTS[] = {36, 173, 174, 175};
constexpr double DEFAULT_TEST_TIME = 1.0;

std::optional<int32_t> ParseTestFunction(const std::string& word) {
    for (int32_t i = 0; i < 4; ++i)
        if (word == TEST_FUNCTION_WORDS[i]) return i;
    return std::nullopt;
}

// A whole argument as a finite number, or nothing.
std::optional<double> ParseNumber(const std::string& text) {
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool IsCommand(const std::string& c) {
    for (const char* k : {"info", "status", "read-params", "write-params", "diff", "show", "factory",
                          "custom", "setpoint", "test-function", "autotune", "record"})
        if (c == k) return true;
    return IsCalibrationCommand(c);
}

std::optional<int> ParseCom(const std::string& s) {
    for (int i = 0; i < 8; ++i)
        if (s == ComName(i)) return i;
    return std::nullopt;
}

// setpoint, test-function and autotune take their own arguments.
std::string ParseDriveArgs(const std::vector<std::string>& positional, Options& o) {
    const size_t extra = positional.size() - 1;
    if (o.testTime && (o.command != "test-function" || extra == 0))
        return "--time belongs to test-function with a function to write";
    if (o.command == "autotune") return extra == 0 ? "" : "autotune takes no argument";
    if (o.command == "setpoint") {
        if (extra != 1) return "setpoint needs a percentage from 0 to 100, or off";
        if (positional[1] == "off") return "";
        o.setpoint = ParseNumber(positional[1]);
        if (!o.setpoint || *o.setpoint < 0 || *o.setpoint > SERIAL_SETPOINT_MAX)
            return "unknown setpoint '" + positional[1] + "': use a percentage from 0 to 100, or off";
        o.setpoint = TruncateToHalfPercent(*o.setpoint);
        return "";
    }
    if (extra == 0) return "";
    o.testFunction = ParseTestFunction(positional[1]);
    if (!o.testFunction)
        return "unknown test function '" + positional[1] + "': use off, ramp, step or multistep";
    if (extra > 2) return "too many arguments";
    if (extra == 2) o.file = positional[2];
    return "";
}

// Returns an error message, or "" when the arguments are good.
std::string ParseArgs(const std::vector<std::string>& args, Options& o) {
    std::vector<std::string> positional;
    int sources = 0;
    std::string recordOption;
    std::optional<std::string> timeText;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (const auto error = ParseRecordOption(args, i, o.record)) {
            if (!error->empty()) return *error;
            recordOption = a;
        } else if (a == "--test-mode") {
            o.testMode = true;
            ++sources;
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "--cal") {
            o.cal = true;
        } else if (a == "--time") {
            // Its meaning depends on the command, which may come later.
            if (i + 1 >= args.size()) return a + " needs a value";
            timeText = args[++i];
        } else if (a == "--port" || a == "--device") {
            if (i + 1 >= args.size()) return a + " needs a value";
            const std::string& v = args[++i];
            ++sources;
            if (a == "--device") {
                o.device = v;
            } else if (!(o.port = ParseCom(v))) {
                return "unknown port '" + v + "': use COM1 to COM8";
            }
        } else if (a == "--baud") {
            if (i + 1 >= args.size()) return a + " needs a value";
            const std::string& v = args[++i];
            if (v == "19200")
                o.baudIndex = 2;
            else if (v == "57600")
                o.baudIndex = 3;
            else
                return "unknown line speed '" + v + "': use 19200 or 57600";
        } else if (a == "--help" || a == "-h") {
            return "help";
        } else if (a.rfind("--", 0) == 0) {
            return "unknown option '" + a + "'";
        } else {
            positional.push_back(a);
        }
    }
    if (sources > 1) return "use only one of --test-mode, --port and --device";
    if (positional.empty()) return "no command given";
    o.command = positional[0];
    if (!IsCommand(o.command)) return "unknown command '" + o.command + "'";
    if (o.yes && o.command != "autotune") return "--yes belongs to autotune";
    if (timeText && o.command == "record") {
        const std::string error = ParseRecordTime(*timeText, o.record);
        if (!error.empty()) return error;
        recordOption = "--time";
    } else if (timeText) {
        o.testTime = ParseNumber(*timeText);
        if (!o.testTime || *o.testTime < 0 || *o.testTime > TEST_TIME_MAX)
            return "unknown test time '" + *timeText + "': use 0 to 20 seconds";
    }
    if (!recordOption.empty() && o.command != "record")
        return recordOption + " belongs to the record command";
    if (o.command == "setpoint" || o.command == "test-function" || o.command == "autotune")
        return ParseDriveArgs(positional, o);
    if (IsCalibrationCommand(o.command)) {
        // As the desktop program offers calibration only when started with -CAL.
        if (!o.cal) return o.command + " is a calibration command: it needs --cal";
        return ParseCalibrationArgs(positional, o.file, o.calibrationStep);
    }
    if (o.cal) return "--cal belongs to the calibration commands";
    const bool needsFile = o.command == "write-params" || o.command == "diff" || o.command == "show";
    const bool takesFile = needsFile || o.command == "read-params" || o.command == "record";
    if (positional.size() > (takesFile ? 2u : 1u)) return "too many arguments";
    if (needsFile && positional.size() != 2) return o.command + " needs exactly one project file";
    if (positional.size() == 2) o.file = positional[1];
    return "";
}

// Collects the engine's notifications; the CLI handles each at once, so Send never blocks.
class CliNotifier : public INotifier {
public:
    void Post(uint32_t code, intptr_t value) override { Push(code, value); }
    void Send(uint32_t code, intptr_t value) override { Push(code, value); }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        std::lock_guard<std::mutex> lock(m_);
        messages_.push_back(caption.empty() ? text : caption + ": " + text);
    }

    // Waits for `wanted` or an error code. Returns the code, or 0 when the engine went idle
    // without telling anything.
    uint32_t Wait(uint32_t wanted, const QlnState& s) {
        for (;;) {
            const uint32_t c = Next(s);
            if (c == 0 || c == wanted || (c >= 1 && c <= 8) || c == NOTIFY_CANCELLED) return c;
        }
    }

    // The next notification, or 0 when the engine went idle without telling anything.
    uint32_t Next(const QlnState& s) {
        std::unique_lock<std::mutex> lock(m_);
        int idleLooks = 0;
        while (codes_.empty()) {
            // Every end of an action is notified; the slow look at an idle engine only keeps a
            // request that ended silently (one the engine does not know) from hanging the tool.
            if (cv_.wait_for(lock, std::chrono::seconds(1)) == std::cv_status::timeout)
                idleLooks = s.THREAD_CMD.load() == 0 ? idleLooks + 1 : 0;
            if (idleLooks >= 3) return 0;
        }
        const uint32_t c = codes_.front();
        codes_.pop_front();
        return c;
    }

    std::vector<std::string> TakeMessages() {
        std::lock_guard<std::mutex> lock(m_);
        return std::exchange(messages_, {});
    }
    std::string ErrorText() {
        std::lock_guard<std::mutex> lock(m_);
        return errorText_;
    }
    // The value that came with the last notification of this code.
    intptr_t ValueOf(uint32_t code) {
        std::lock_guard<std::mutex> lock(m_);
        return values_[code];
    }

private:
    void Push(uint32_t code, intptr_t value) {
        std::lock_guard<std::mutex> lock(m_);
        if (code >= 1 && code <= 8 && value != 0) errorText_ = reinterpret_cast<const char*>(value);
        values_[code] = value;
        codes_.push_back(code);
        cv_.notify_all();
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<uint32_t> codes_;
    std::map<uint32_t, intptr_t> values_;
    std::vector<std::string> messages_;
    std::string errorText_;
};

// ---- output ---------------------------------------------------------------------------------

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

class JsonObject {
public:
    void Add(const std::string& key, const std::string& rawValue) { items_.emplace_back(key, rawValue); }
    void Add(const std::string& key, long v) { Add(key, std::to_string(v)); }
    void AddText(const std::string& key, const std::string& v) { Add(key, JsonString(v)); }
    std::string Body() const {
        std::string out = "{";
        for (size_t i = 0; i < items_.size(); ++i)
            out += (i ? ", " : "") + JsonString(items_[i].first) + ": " + items_[i].second;
        return out + "}";
    }
    std::string Str() const { return Body() + "\n"; }

private:
    std::vector<std::pair<std::string, std::string>> items_;
};

void PrintInfo(const DeviceInfo& d, bool json, std::ostream& out) {
    const OperationTime t = SplitOperationCounter(d.OperationCounter);
    if (json) {
        JsonObject j;
        j.Add("firmware", d.ControllerFirmware);
        j.AddText("part_number", FormatPartNumber(d));
        j.Add("serial_number", d.SerialNumber);
        j.AddText("production_year", FormatBcd(d.ProductionYear));
        j.AddText("production_week", FormatBcd(d.ProductionWeek));
        j.AddText("calibration_year", FormatBcd(d.CalibrationYear));
        j.AddText("calibration_month", FormatBcd(d.CalibrationMonth));
        j.AddText("calibration_day", FormatBcd(d.CalibrationDay));
        j.Add("operation_minutes", d.OperationCounter);
        j.Add("calibration_counter", d.CalibrationCounter);
        j.Add("calibration_status", d.CalibrationStatus);
        j.Add("calibration_temperature", d.CalibrationTemperature);
        j.Add("valve_temperature", d.ValveTemperature);
        out << j.Str();
        return;
    }
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "Controller Firmware:  %02d\n"
                  "Part Number:          %s\n"
                  "Serial No.:           %d\n"
                  "Production Date:      Year %s  Week %s\n"
                  "Operation Counter:    %02d Days  %02d Hours  %02d Min\n"
                  "Calibration Date:     Year %s  Month %s  Day %s\n"
                  "Calibration Status:   %d\n"
                  "Calibration Counter:  %d\n"
                  "Temperature / \xC2\xB0"
                  "C:    Calibration %d  Valve %d\n",
                  d.ControllerFirmware, FormatPartNumber(d).c_str(), d.SerialNumber,
                  FormatBcd(d.ProductionYear).c_str(), FormatBcd(d.ProductionWeek).c_str(), t.days, t.hours,
                  t.minutes, FormatBcd(d.CalibrationYear).c_str(), FormatBcd(d.CalibrationMonth).c_str(),
                  FormatBcd(d.CalibrationDay).c_str(), d.CalibrationStatus, d.CalibrationCounter,
                  d.CalibrationTemperature, d.ValveTemperature);
    out << buf;
}

void PrintStatus(const StatusInfo& st, bool json, std::ostream& out) {
    const struct {
        const char* key;
        const char* label;
        int32_t value;
    } leds[] = {{"led_red", "RED", st.LedRed},
                {"led_green", "GREEN", st.LedGreen},
                {"led_yellow", "YELLOW", st.LedYellow}};
    static const char* LED_STATES[] = {"off", "on", "unknown", "blinking"};
    if (json) {
        JsonObject j;
        for (const StatusPair& f : StatusPairs())
            j.Add(f.key, st.*f.field);
        for (const auto& l : leds)
            j.Add(l.key, l.value);
        j.Add("valid", st.Valid);
        out << j.Str();
        return;
    }
    char buf[128];
    for (const StatusPair& f : StatusPairs()) {
        const int32_t v = st.*f.field;
        std::snprintf(buf, sizeof buf, "%-17s %s\n", f.groupCaption,
                      v == 1   ? f.firstCaption
                      : v == 2 ? f.secondCaption
                               : "--");
        out << buf;
    }
    for (const auto& l : leds) {
        std::snprintf(buf, sizeof buf, "LED %-13s %s (%d)\n", l.label, LED_STATES[l.value & 3], l.value);
        out << buf;
    }
}

JsonObject ParamsJson(const ParameterBlock& b) {
    JsonObject j;
    for (const ParameterDescription& p : ParameterTable())
        j.Add(p.name, FormatValue(b, p));
    return j;
}

void PrintParams(const ParameterBlock& b, bool json, std::ostream& out) {
    if (json) {
        out << ParamsJson(b).Str();
        return;
    }
    const TextSource texts;
    for (const ParameterDescription& p : ParameterTable()) {
        std::string line = std::string(p.name) +
                           std::string(32 - std::min<size_t>(31, std::strlen(p.name)), ' ') +
                           FormatValue(b, p);
        const std::string unit = *p.unit ? std::string(" ") + p.unit : std::string();
        if (HasChoices(p)) {
            const std::string choice = ChoiceText(p, static_cast<int32_t>(GetValue(b, p)), texts);
            if (!choice.empty()) line += "  (" + choice + unit + ")";
        } else {
            line += unit;
        }
        out << line << "\n";
    }
}

// The parameters a write sends, where the valve's value differs from the project's.
struct Difference {
    const char* name;
    std::string project, valve;
};
std::vector<Difference> Differences(const ParameterBlock& project, const ParameterBlock& valve) {
    std::vector<Difference> out;
    for (const ParameterDescription& p : ParameterTable()) {
        if (p.telegram == ParamTelegram::None || p.wire == Wire::NotSent ||
            !TelegramInfo(p.telegram).writeName)
            continue;
        const std::string a = FormatValue(project, p), b = FormatValue(valve, p);
        if (a != b) out.push_back({p.name, a, b});
    }
    return out;
}

void PrintDifferences(const std::vector<Difference>& diffs, bool json, std::ostream& out) {
    if (json) {
        out << "[";
        for (size_t i = 0; i < diffs.size(); ++i) {
            JsonObject j;
            j.AddText("name", diffs[i].name);
            j.AddText("project", diffs[i].project);
            j.AddText("valve", diffs[i].valve);
            out << (i ? ", " : "") << j.Body();
        }
        out << "]\n";
        return;
    }
    char buf[160];
    for (const Difference& d : diffs) {
        std::snprintf(buf, sizeof buf, "%-31s project %-10s valve %s\n", d.name, d.project.c_str(),
                      d.valve.c_str());
        out << buf;
    }
}

// How many samples the stored recording holds.
int RecordedSamples(const ProjectFile& p) {
    bool any = false;
    for (uint8_t b : p.samples)
        any = any || b != 0;
    return StoredSampleCount(p.scopeSetup, !any);
}

void PrintProject(const ProjectFile& p, bool json, std::ostream& out) {
    const ProjectInfo& i = p.info;
    const std::pair<const char*, std::string> texts[] = {
        {"name", FieldText(i.ProjectName)}, {"file", FieldText(i.FileName)},   {"path", FieldText(i.Path)},
        {"company", FieldText(i.Company)},  {"address", FieldText(i.Address)}, {"city", FieldText(i.City)},
        {"phone", FieldText(i.Phone)},      {"email", FieldText(i.Email)}};
    char version[32];
    std::snprintf(version, sizeof version, "%.2f", static_cast<double>(FormatVersion(p)));
    const ScopeSetup& s = p.scopeSetup;
    if (json) {
        JsonObject project, scope, recording, all;
        for (const auto& [key, text] : texts)
            project.AddText(key, Cp1252ToUtf8(text));
        project.Add("version", static_cast<long>(i.Version));
        scope.Add("mode", s.Mode);
        scope.Add("acquisition_time", s.AcquisitionTime);
        scope.Add("sample_rate_index", s.SampleRateIndex);
        scope.Add("trigger_channel", s.TriggerChannel);
        recording.Add("samples", RecordedSamples(p));
        all.Add("project", project.Body());
        all.Add("format_version", std::isfinite(FormatVersion(p)) ? std::string(version) : "null");
        all.Add("parameters", ParamsJson(p.editBlock).Body());
        all.Add("scope", scope.Body());
        all.Add("recording", recording.Body());
        out << all.Str();
        return;
    }
    for (const auto& [key, text] : texts)
        out << key << std::string(16 - std::strlen(key), ' ') << Cp1252ToUtf8(text) << "\n";
    out << "version         " << i.Version << "\nformat version  " << version << "\n";
    out << "scope           mode " << s.Mode << ", " << s.AcquisitionTime << " s, sample rate index "
        << s.SampleRateIndex << "\nrecording       " << RecordedSamples(p) << " samples\n\nparameters\n";
    PrintParams(p.editBlock, false, out);
}

// ---- running the engine -------------------------------------------------------------------

const char* SignalName(int signo) {
    switch (signo) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

// A request that did not complete. A parameter write that had begun ends with its own status,
// whatever stopped it, because the valve may now hold a mix of old and new values.
int ReportFailure(uint32_t code, const QlnState& s, const Options& o, const std::string& device,
                  const CliInterrupt* interrupt, std::ostream& err) {
    const TextSource texts;
    const int32_t acked = o.command == "write-params" ? s.ParamsWriteAcked.load() : -1;
    const bool writeBegun = acked >= 0 && acked < PARAM_WRITE_COUNT;
    if (code == NOTIFY_CANCELLED) {
        const int signo = interrupt ? interrupt->Signal() : 0;
        err << "qln-cli: stopped by " << SignalName(signo) << " after the telegram on the line.\n";
        if (writeBegun) {
            err << WriteOutcomeText(acked, texts) << "\n";
            return EXIT_WRITE_INCOMPLETE;
        }
        err << "Nothing was written to the valve.\n";
        return EXIT_SIGNAL_BASE + signo;
    }
    if (code == 0) {
        err << "The request ended without a result. Run again with --trace and look at debug.txt.\n";
        return 1;
    }
    if (code == NOTIFY_BAUDRATE_ERROR) {
        err << LoadText(IDS_BAUDRATE_ERROR) << "\n";
        const int openError = LastOpenError(s.link);
        if (!o.testMode && openError != 0)
            err << PortOpenAdvice(openError, device) << "\n";
        else if (s.LastFailure.load() == LineFailure::FirmwareZero)
            err << LineFailureText(LineFailure::FirmwareZero, texts) << "\n";
        else
            err << "The valve did not answer at "
                << (o.baudIndex == 0 ? std::string("19200 or 57600")
                                     : std::to_string(BaudRateOf(o.baudIndex)))
                << " baud on " << device << ". Check the cable, the port"
                << (o.baudIndex == 0 ? "" : ", the line speed") << " and that the valve is powered.\n";
        return static_cast<int>(code);
    }
    err << LoadText(IDS_COMMUNICATION_ERROR) << " on " << device << "\n";
    const std::string line = LineFailureText(s.LastFailure.load(), texts);
    err << (line.empty() ? "Check the cable, the port and that the valve is powered." : line) << "\n";
    if (const std::string setpoint = SerialSetpointText(s, texts); !setpoint.empty()) err << setpoint << "\n";
    if (writeBegun) {
        err << WriteOutcomeText(acked, texts) << "\n";
        return EXIT_WRITE_INCOMPLETE;
    }
    return static_cast<int>(code);
}

// The project named on the command line. A missing file is a new project for read-params (named
// after the file, as New Project names it); for every other command it is an error.
bool LoadProject(const Options& o, ProjectFile& project, std::string& error) {
    ResetProject(project);
    struct stat st {};
    const bool mayBeNew = o.command == "read-params" || o.command == "record" || o.command == "read-matrix";
    if (::stat(o.file.c_str(), &st) != 0 && errno == ENOENT && mayBeNew) {
        const std::string name = AdjustExtension(FileNameOfPath(o.file));
        SetFieldText(project.info.ProjectName, name.substr(0, name.rfind('.')));
        SetFieldText(project.info.FileName, name);
        return true;
    }
    if (!ReadProjectFile(o.file, project, &error)) {
        error = "cannot use project file " + error;
        return false;
    }
    // A file that ends before the parameter set holds none: writing or comparing the reset values
    // in its place would mislead.
    const bool needsParameters =
        o.command == "write-params" || o.command == "diff" || o.command == "test-function";
    if (needsParameters &&
        static_cast<size_t>(st.st_size) < EDIT_BLOCK_RECORD.offset + EDIT_BLOCK_RECORD.size) {
        error = "'" + o.file + "' is too short to be a project file (it holds no parameter set)";
        return false;
    }
    const bool needsCalibration = o.command == "write-matrix" || o.command == "calibration";
    if (needsCalibration &&
        static_cast<size_t>(st.st_size) < CALIBRATION_RECORD.offset + CALIBRATION_RECORD.size) {
        error = "'" + o.file + "' is too short to be a project file (it holds no calibration record)";
        return false;
    }
    return true;
}

// ---- record ---------------------------------------------------------------------------------

std::string SavePath(const Options& o);

// Drives a recording to its end. There is no view to draw, so each progress is taken at once; a
// duration in roll mode ends the recording as Stop Acquisition does; a recording ended by an error
// is followed by a hard stop, so that the valve is never left streaming.
uint32_t RunRecording(QlnState& s, CliNotifier& notifier, const Options& o, IClock& clock,
                      std::ostream& err) {
    const int32_t mode = CopyScopeSetup(s).Mode;
    const bool progress = &err == &std::cerr && ::isatty(STDERR_FILENO);
    const uint32_t start = clock.NowMs();
    bool stopAsked = false;
    RequestAction(s, mode == 0 ? CMD_STEP_MODE : mode == 1 ? CMD_RAMP_MODE : CMD_ROLL_TRIGGER);
    for (;;) {
        const uint32_t code = notifier.Next(s);
        if (code == NOTIFY_ACQUISITION_PROGRESS) {
            s.DisplayUpdatePending.store(0);
            if (progress) err << "\rrecording: " << s.SamplesReceived.load() << " samples " << std::flush;
            const auto elapsed = static_cast<double>(clock.NowMs() - start);
            if (o.record.forSeconds && !stopAsked && elapsed >= *o.record.forSeconds * 1000) {
                stopAsked = true;
                RequestStopAcquisition(s.THREAD_CMD);
                WakeEngine(s.link);
            }
            continue;
        }
        if (progress) err << "\n";
        if (code == NOTIFY_ACQUISITION_ENDED || code == 0 || code == NOTIFY_BAUDRATE_ERROR) return code;
        if (code >= 1 && code <= 8) {
            // The message is about the failure, not about the hard stop that follows it.
            const LineFailure failure = s.LastFailure.load();
            RequestAction(s, CMD_HARD_STOP);
            for (uint32_t c = 0; c != NOTIFY_ACQUISITION_ENDED && c != NOTIFY_HARD_STOP_FAILED;)
                if ((c = notifier.Next(s)) == 0) break;
            s.LastFailure.store(failure);
            return code;
        }
    }
}

// A first signal stops the recording as Stop Acquisition does (the valve is told to stop
// streaming); a second one does the hard stop.
void StopRecordingOnSignal(QlnState& s, int count) {
    if (count == 1)
        RequestStopAcquisition(s.THREAD_CMD);
    else
        s.THREAD_CMD.fetch_or(CMD_HARD_STOP);
    WakeEngine(s.link);
}

int PrintRecording(const QlnState& s, ProjectFile& project, const Options& o, std::ostream& out,
                   std::ostream& err) {
    const ScopeSetup setup = CopyScopeSetup(s);
    const bool roll = setup.Mode == 2;
    const RecordedRange range = RecordedRangeOf(roll, s.FillIndex.load(), s.SamplesReceived.load());
    const float period = roll ? SamplePeriod(setup.SampleRateIndex) : SamplePeriod(0);
    if (o.record.csv && *o.record.csv == "-") {
        WriteCsv(s.samples, range, period, out);
    } else if (o.record.csv) {
        std::ostringstream csv;
        WriteCsv(s.samples, range, period, csv);
        const std::string text = csv.str();
        std::string reason;
        if (!WriteFileAtomically(*o.record.csv, text.data(), text.size(), &reason)) {
            err << "qln-cli: the recording could not be saved to " << *o.record.csv << ": " << reason
                << ".\n";
            return EXIT_PROJECT_NOT_SAVED;
        }
    }
    std::ostream& summary = o.record.csv && *o.record.csv == "-" ? err : out;
    if (o.json) {
        JsonObject j;
        j.Add("samples", range.count);
        j.Add("display_update_too_fast", static_cast<long>(s.DisplayTooFast.load()));
        summary << j.Str();
    } else {
        summary << "Recorded " << range.count << " samples (" << s.DisplayTooFast.load()
                << " display updates too fast).\n";
    }
    if (o.file.empty()) return 0;
    project.scopeSetup = setup;
    s.samples.SaveTo(project.samples);
    std::string error;
    if (!WriteProjectFile(SavePath(o), project, &error)) {
        err << "qln-cli: " << error << " The file was left as it was.\n";
        return EXIT_PROJECT_NOT_SAVED;
    }
    return 0;
}

// The path read-params saves to: the file given, with the project extension for a new project.
std::string SavePath(const Options& o) {
    struct stat st {};
    if (::stat(o.file.c_str(), &st) == 0) return o.file;
    const size_t slash = o.file.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : o.file.substr(0, slash + 1);
    return folder + AdjustExtension(FileNameOfPath(o.file));
}

// A set with values outside their ranges is refused before a single telegram goes out, unless the
// user asks for it with --force (deliberate tests of a valve's own checks).
bool CheckBeforeWriting(const ParameterBlock& edit, const Options& o, std::ostream& err) {
    const auto problems = CheckWrittenFields(edit);
    if (problems.empty()) return true;
    for (const RangeProblem& p : problems)
        err << "qln-cli: " << DescribeProblem(p) << "\n";
    if (o.force) {
        err << "qln-cli: writing " << problems.size()
            << " value(s) outside their ranges as they stand, because --force was given.\n";
        return true;
    }
    err << "qln-cli: '" << o.file << "' holds " << problems.size()
        << " value(s) outside their ranges, so nothing was written. Correct the project in qln, or use "
           "--force to write it as it is.\n";
    return false;
}
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

// Writes the test function and its time. The controller fields that travel in the same telegram
// are the project's edited ones when a project is given, else the valve's own, read just before:
// never zeros that would change the valve's controller.
template <class Request>
uint32_t WriteTestFunction(const Options& o, const ProjectFile& project, QlnState& s, Request& request,
                           uint32_t& wanted) {
    if (!o.testFunction || o.file.empty()) {
        const uint32_t code = request(CMD_READ_TEST_FUNCTION, wanted = NOTIFY_TEST_FUNCTION_READ);
        if (!o.testFunction || code != wanted) return code;
        // Only the controller fields of the CCR reply are used from it.
        s.params.EditBlock = s.params.ValveBlock;
    } else {
        s.params.EditBlock = project.editBlock;
    }
    StoreShared(s.testFunction.Selection, *o.testFunction);
    StoreShared(s.testFunction.TestTime, static_cast<float>(o.testTime.value_or(DEFAULT_TEST_TIME)));
    return request(CMD_WRITE_TEST_FUNCTION, wanted = NOTIFY_TEST_FUNCTION_WRITTEN);
}

void PrintDriveResult(const Options& o, const QlnState& s, std::ostream& out, std::ostream& err) {
    JsonObject j;
    std::string text;
    if (o.command == "setpoint") {
        const std::string percent = FormatTenthOf(o.setpoint.value_or(0));
        if (o.setpoint) {
            j.Add("serial_setpoint", percent);
            text = "Serial setpoint " + percent + " % sent.\n";
            // Nobody else knows: the valve must not be left on the PC's setpoint unawares.
            err << "qln-cli: the valve now follows the serial setpoint of " << percent
                << " % instead of its own setpoint source, until you run: qln-cli" << ConnectionArgs(o)
                << " setpoint off\n";
        } else {
            text = "The valve follows its own setpoint source again.\n";
        }
        j.Add("active", o.setpoint ? 1L : 0L);
    } else if (o.command == "autotune") {
        j.AddText("autotune", "started");
        text = "Auto-tune started: the valve now tunes its controller on its own.\n";
    } else {
        const int32_t f = o.testFunction.value_or(s.testFunction.ReadBack) & 3;
        const std::string name = LoadText(TEST_FUNCTION_TEXTS[f]);
        j.AddText("test_function", TEST_FUNCTION_WORDS[f]);
        j.Add("selection", static_cast<long>(f));
        if (o.testFunction) {
            const std::string time = FormatTenthOf(o.testTime.value_or(DEFAULT_TEST_TIME));
            j.Add("time", time);
            text = "Test function " + name + " with " + time + " s written.\n";
        } else {
            text = "Test function: " + name + "\n";
        }
    }
    out << (o.json ? j.Str() : text);
}
int FinishCalibrationCommand(const Options& o, const QlnState& s, intptr_t value, ProjectFile& project,
                             std::ostream& out, std::ostream& err) {
    const CalibrationData c = CopyCalibration(s);
    if (o.command == "calibration") {
        PrintCalibrationStep(o.calibrationStep, value, c, o.json, out);
        return 0;
    }
    if (o.command == "write-matrix") {
        if (o.json)
            out << "{\"written_rows\": " << MATRIX_TRANSFER_ROWS << "}\n";
        else
            out << "Wrote " << MATRIX_TRANSFER_ROWS
                << " matrix rows, the DAC spans, the PWM offsets and the outside temperature.\n";
        return 0;
    }
    PrintMatrix(c, o.json, out);
    if (o.file.empty()) return 0;
    // The whole record: the read-back values are new, everything else is the project's as loaded.
    project.calibration = c;
    std::string error;
    if (!WriteProjectFile(SavePath(o), project, &error)) {
        err << "qln-cli: " << error << " The file was left as it was.\n";
        return EXIT_PROJECT_NOT_SAVED;
    }
    return 0;
}
} // namespace

void CliInterrupt::Raise(int signo) {
    std::lock_guard<std::mutex> lock(m_);
    signal_ = signo;
    ++count_;
    Apply();
}

void CliInterrupt::Apply() {
    if (!state_ || count_ == 0) return;
    if (handler_) {
        handler_(*state_, count_);
    } else {
        state_->CancelRequested.store(1);
        WakeEngine(state_->link);
    }
}

int CliInterrupt::Signal() const {
    std::lock_guard<std::mutex> lock(m_);
    return signal_;
}

void CliInterrupt::Attach(QlnState* s, Handler handler) {
    std::lock_guard<std::mutex> lock(m_);
    state_ = s;
    handler_ = std::move(handler);
    Apply();
}

int RunCli(const std::vector<std::string>& args, IClock& clock, std::ostream& out, std::ostream& err,
           CliInterrupt* interrupt) {
    Options o;
    const std::string usageError = ParseArgs(args, o);
    if (usageError == "help") {
        out << USAGE;
        return 0;
    }
    if (!usageError.empty()) {
        err << "qln-cli: " << usageError << "\n" << USAGE;
        return EXIT_USAGE;
    }

    if (o.command == "autotune" && !o.yes) {
        err << "qln-cli: " << Caution(IDS_AUTOTUNE_CAUTION) << "\nqln-cli: " << Caution(IDS_AUTOTUNE_CONFIRM)
            << "\nqln-cli: nothing was started; run again with --yes to start the auto-tune.\n";
        return EXIT_USAGE;
    }
    auto state = std::make_unique<QlnState>(clock);
    QlnState& s = *state;
    auto project = std::make_unique<ProjectFile>();
    if (!o.file.empty()) {
        std::string error;
        if (!LoadProject(o, *project, error)) {
            err << "qln-cli: " << error << "\n";
            return EXIT_USAGE;
        }
    }
    if (o.command == "show") {
        PrintProject(*project, o.json, out);
        return 0;
    }
    if (o.command == "write-params") {
        s.params.EditBlock = project->editBlock;
        if (!CheckBeforeWriting(s.params.EditBlock, o, err)) return EXIT_USAGE;
    }
    std::string comError;
    const ComSettings com = ReadComSettings("", &comError);
    // The settings file decides the port only when none is given on the command line; then a file
    // that names no port must not silently mean COM1, which is a console port on many machines.
    if (!o.testMode && !o.device && !o.port) {
        if (!comError.empty())
            err << "qln-cli: warning: " << kComSettingsFile << ": " << comError << "; COM1 ("
                << com.DevicePath[0] << ") is used instead.\n";
        else if (!com.warning.empty())
            err << "qln-cli: warning: " << com.warning << "\n";
    }
    for (int i = 0; i < 8; ++i)
        s.link.DevicePath[static_cast<size_t>(i)] = com.DevicePath[static_cast<size_t>(i)];
    s.link.PortIndex.store(o.port.value_or(com.PortIndex));
    if (o.device) {
        s.link.PortIndex.store(0);
        s.link.DevicePath[0] = *o.device;
    }
    const std::string device = s.link.DevicePath[static_cast<size_t>(s.link.PortIndex.load())];
    if (o.testMode) s.link.uTestMode.store(1);
    s.link.FixedBaudIndex.store(o.baudIndex);
    if (o.trace) {
        s.link.trace.TraceEnabled.store(1);
        const std::string traceError =
            s.link.trace.OpenTrace("debug.txt", LoadText(IDS_APP_TITLE), s.link.uTestMode.load());
        if (!traceError.empty()) err << "qln-cli: warning: " << traceError << "\n";
    }

    CliNotifier notifier;
    EngineThreads threads(s, notifier);
    if (o.command == "record") {
        ScopeSetup setup = o.file.empty() ? DefaultScopeSetup() : project->scopeSetup;
        const std::string error = ApplyRecordOptions(o.record, setup);
        if (!error.empty()) {
            err << "qln-cli: " << error << "\n";
            return EXIT_USAGE;
        }
        StoreScopeSetup(s, setup);
    }
    if (interrupt)
        interrupt->Attach(&s, o.command == "record" ? StopRecordingOnSignal : CliInterrupt::Handler());
    threads.Start();

    auto request = [&](uint32_t bits, uint32_t wanted) {
        RequestAction(s, bits);
        return notifier.Wait(wanted, s);
    };
    uint32_t code = 0;
    uint32_t wanted = 0;
    if (o.command == "info") {
        code = request(CMD_READ_DEVICE_INFO, wanted = NOTIFY_DEVICE_INFO);
    } else if (o.command == "status") {
        code = request(CMD_READ_STATUS, wanted = NOTIFY_STATUS);
    } else if (o.command == "read-params" || o.command == "diff") {
        code = request(CMD_READ_PARAMETER, wanted = NOTIFY_PARAMETERS_READ);
    } else if (o.command == "write-params") {
        code = request(CMD_WRITE_PARAMETER, wanted = NOTIFY_PARAMETERS_WRITTEN);
    } else if (o.command == "record") {
        code = RunRecording(s, notifier, o, clock, err);
        wanted = NOTIFY_ACQUISITION_ENDED;
    } else if (o.command == "setpoint") {
        // The value and the flag first: the engine picks STS or RTS by the flag.
        StoreShared(s.testFunction.SerialSetpoint, static_cast<float>(o.setpoint.value_or(0)));
        StoreShared(s.testFunction.SerialSetpointActive, o.setpoint ? 1 : 0);
        code = request(CMD_SERIAL_SETPOINT, wanted = NOTIFY_SERIAL_SETPOINT);
    } else if (o.command == "test-function") {
        code = WriteTestFunction(o, *project, s, request, wanted);
    } else if (o.command == "autotune") {
        code = request(CMD_AUTOTUNE, wanted = NOTIFY_AUTOTUNE);
    } else if (IsCalibrationCommand(o.command)) {
        // The project's record is what a write sends and what a read fills.
        StoreCalibration(s, project->calibration);
        const CalibrationRequest r = CalibrationRequestFor(o.command, o.calibrationStep);
        code = request(r.bit, wanted = r.done);
    } else {
        code = request(CMD_READ_PARAMETER, wanted = NOTIFY_PARAMETERS_READ);
        if (code == wanted) {
            // Only PARAMETER_SET changes, so no other flag of the CAS telegram moves.
            s.params.EditBlock = s.params.ValveBlock;
            const bool factory = o.command == "factory";
            s.params.EditBlock.PARAMETER_SET = factory ? 1 : 0;
            code = request((factory ? CMD_FACTORY_SET : CMD_CUSTOM_SET) | CMD_READ_PARAMETER,
                           wanted = NOTIFY_SET_SWITCHED);
            if (code == wanted) code = notifier.Wait(wanted = NOTIFY_PARAMETERS_READ, s);
        }
    }
    threads.Stop();
    if (interrupt) interrupt->Attach(nullptr);
    const std::string traceWriteError = s.link.trace.TakeWriteError();
    if (!traceWriteError.empty()) err << "qln-cli: warning: " << traceWriteError << "\n";
    s.link.trace.CloseTrace();

    for (const std::string& m : notifier.TakeMessages())
        err << m << "\n";
    if (code != wanted) return ReportFailure(code, s, o, device, interrupt, err);

    if (o.command == "setpoint" || o.command == "test-function" || o.command == "autotune") {
        PrintDriveResult(o, s, out, err);
    } else if (IsCalibrationCommand(o.command)) {
        return FinishCalibrationCommand(o, s, notifier.ValueOf(wanted), *project, out, err);
    } else if (o.command == "info") {
        PrintInfo(s.deviceInfo, o.json, out);
    } else if (o.command == "status") {
        PrintStatus(s.statusInfo, o.json, out);
    } else if (o.command == "record") {
        return PrintRecording(s, *project, o, out, err);
    } else if (o.command == "write-params") {
        if (o.json)
            out << "{\"written\": " << PARAM_WRITE_COUNT << "}\n";
        else
            out << "Wrote " << PARAM_WRITE_COUNT << " parameters.\n";
    } else if (o.command == "diff") {
        const auto diffs = Differences(project->editBlock, s.params.ValveBlock);
        PrintDifferences(diffs, o.json, out);
        return diffs.empty() ? 0 : EXIT_DIFFERENT;
    } else {
        PrintParams(s.params.ValveBlock, o.json, out);
        if (o.command == "read-params" && !o.file.empty()) {
            // Kept as the project's edited set, the way the editor's Copy takes the valve's values.
            project->editBlock = s.params.ValveBlock;
            std::string error;
            if (!WriteProjectFile(SavePath(o), *project, &error)) {
                err << "qln-cli: " << error << " The file was left as it was.\n";
                return EXIT_PROJECT_NOT_SAVED;
            }
        }
    }
    return 0;
}
