#include "Cli.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <utility>

#include "app/ComSettings.h"
#include "app/Texts.h"
#include "dialogs/ValveInfoFormat.h"
#include "engine/DeviceCommands.h"
#include "engine/EngineThreads.h"
#include "link/SerialPort.h"

namespace {
constexpr size_t PROJECT_EDIT_BLOCK_OFFSET = 1280;
constexpr int EXIT_USAGE = 2;

const char* USAGE = "usage: qln-cli [--test-mode | --port COM1..COM8 | --device PATH] [--baud 19200|57600] "
                    "[--trace] [--json]\n"
                    "               COMMAND [FILE]\n"
                    "commands:\n"
                    "  info                 read the valve information\n"
                    "  status               read the valve status and LEDs\n"
                    "  read-params          read all parameters\n"
                    "  write-params FILE    write the working parameters stored in project FILE (.QPJ)\n"
                    "  factory | custom     switch the valve to its factory or custom parameter set\n"
                    "options:\n"
                    "  --test-mode          use the built-in simulated valve\n"
                    "  --port COMn          use COMn as mapped in QLN_com.ini of the current folder\n"
                    "  --device PATH        use this serial device\n"
                    "  --baud 19200|57600   the valve's line speed: only this speed is tried\n"
                    "  --trace              write the trace log debug.txt in the current folder\n"
                    "  --json               print one JSON object\n";

struct Options {
    bool testMode = false;
    bool trace = false;
    bool json = false;
    std::optional<int> port;
    std::optional<std::string> device;
    int32_t baudIndex = 0; // 0: found by the baud-rate test
    std::string command;
    std::string file;
};

bool IsCommand(const std::string& c) {
    for (const char* k : {"info", "status", "read-params", "write-params", "factory", "custom"})
        if (c == k) return true;
    return false;
}

std::optional<int> ParseCom(const std::string& s) {
    for (int i = 0; i < 8; ++i)
        if (s == ComName(i)) return i;
    return std::nullopt;
}

// Returns an error message, or "" when the arguments are good.
std::string ParseArgs(const std::vector<std::string>& args, Options& o) {
    std::vector<std::string> positional;
    int sources = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--test-mode") {
            o.testMode = true;
            ++sources;
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--json") {
            o.json = true;
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
    const size_t wanted = o.command == "write-params" ? 2 : 1;
    if (positional.size() != wanted)
        return o.command == "write-params" ? "write-params needs exactly one project file"
                                           : "too many arguments";
    if (wanted == 2) o.file = positional[1];
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
        std::unique_lock<std::mutex> lock(m_);
        int idleLooks = 0;
        for (;;) {
            while (!codes_.empty()) {
                const uint32_t c = codes_.front();
                codes_.pop_front();
                if (c == wanted || (c >= 1 && c <= 8)) return c;
            }
            // Every end of an action is notified; the slow look at an idle engine only keeps a
            // request that ended silently (one the engine does not know) from hanging the tool.
            if (cv_.wait_for(lock, std::chrono::seconds(1)) == std::cv_status::timeout)
                idleLooks = s.THREAD_CMD.load() == 0 ? idleLooks + 1 : 0;
            if (idleLooks >= 3) return 0;
        }
    }

    std::vector<std::string> TakeMessages() {
        std::lock_guard<std::mutex> lock(m_);
        return std::exchange(messages_, {});
    }
    std::string ErrorText() {
        std::lock_guard<std::mutex> lock(m_);
        return errorText_;
    }

private:
    void Push(uint32_t code, intptr_t value) {
        std::lock_guard<std::mutex> lock(m_);
        if (code >= 1 && code <= 8 && value != 0) errorText_ = reinterpret_cast<const char*>(value);
        codes_.push_back(code);
        cv_.notify_all();
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<uint32_t> codes_;
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
    std::string Str() const {
        std::string out = "{";
        for (size_t i = 0; i < items_.size(); ++i)
            out += (i ? ", " : "") + JsonString(items_[i].first) + ": " + items_[i].second;
        return out + "}\n";
    }

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
    struct Flag {
        const char* key;
        const char* label;
        int32_t value;
        const char* one;
        const char* two;
    };
    const Flag flags[] = {
        {"overvoltage", "Overvoltage", st.Overvoltage, "NO", "YES"},
        {"undervoltage", "Undervoltage", st.Undervoltage, "NO", "YES"},
        {"overtemperature", "Overtemperature", st.Overtemperature, "NO", "YES"},
        {"digital_output", "Digital Out", st.DigitalOutput, "High", "Low"},
        {"jumper", "Jumper", st.Jumper, "ON", "OFF"},
        {"key_lock", "Key Lock", st.KeyLock, "Disabled", "Enabled"},
        {"manual_setpoint", "Manual Setpoint", st.ManualSetpoint, "Disabled", "Enabled"},
        {"reserve", "Reserve", st.Reserve, "Disabled", "Enabled"},
    };
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
        for (const Flag& f : flags)
            j.Add(f.key, f.value);
        for (const auto& l : leds)
            j.Add(l.key, l.value);
        j.Add("valid", st.Valid);
        out << j.Str();
        return;
    }
    char buf[128];
    for (const Flag& f : flags) {
        std::snprintf(buf, sizeof buf, "%-17s %s\n", f.label,
                      f.value == 1   ? f.one
                      : f.value == 2 ? f.two
                                     : "--");
        out << buf;
    }
    for (const auto& l : leds) {
        std::snprintf(buf, sizeof buf, "LED %-13s %s (%d)\n", l.label, LED_STATES[l.value & 3], l.value);
        out << buf;
    }
}

void PrintParams(const ParameterBlock& b, bool json, std::ostream& out) {
    JsonObject j;
    for (const ParameterField& f : ParameterFields()) {
        const std::string value = FormatValue(b, f);
        if (json) {
            j.Add(f.name, value);
            continue;
        }
        std::string line =
            std::string(f.name) + std::string(32 - std::min<size_t>(31, std::strlen(f.name)), ' ') + value;
        if (*f.unit) line += std::string(" ") + f.unit;
        const std::string option = OptionText(f, static_cast<int32_t>(GetValue(b, f)));
        if (!option.empty()) line += "  (" + option + ")";
        out << line << "\n";
    }
    if (json) out << j.Str();
}

// ---- running the engine -------------------------------------------------------------------

int ReportFailure(uint32_t code, const QlnState& s, const Options& o, const std::string& device,
                  std::ostream& err) {
    if (code == 0) {
        err << "The request ended without a result. Run again with --trace and look at debug.txt.\n";
        return 1;
    }
    if (code == NOTIFY_BAUDRATE_ERROR) {
        err << LoadText(IDS_BAUDRATE_ERROR) << "\n";
        const int openError = LastOpenError(s.link);
        if (!o.testMode && openError != 0)
            err << PortOpenAdvice(openError, device) << "\n";
        else
            err << "The valve did not answer at "
                << (o.baudIndex == 0 ? std::string("19200 or 57600")
                                     : std::to_string(BaudRateOf(o.baudIndex)))
                << " baud on " << device << ". Check the cable, the port"
                << (o.baudIndex == 0 ? "" : ", the line speed") << " and that the valve is powered.\n";
        return static_cast<int>(code);
    }
    err << LoadText(IDS_COMMUNICATION_ERROR) << "\n";
    switch (code) {
    case NOTIFY_SEND_FAILURE:
        err << "The telegram could not be sent on " << device
            << ". Check that the adapter is still plugged in and the port is right.\n";
        break;
    case NOTIFY_REPLY_TIMEOUT:
        err << "The valve stopped answering. Check the cable, the port and that the valve is powered.\n";
        break;
    case NOTIFY_BAD_REPLY:
        err << "The valve's replies were damaged or refused. Check the cable and its shielding, the port and "
               "the "
               "power.\n";
        break;
    default:
        err << "Check the cable, the port and that the valve is powered.\n";
        break;
    }
    return static_cast<int>(code);
}

bool LoadProjectBlock(const std::string& path, ParameterBlock& block, std::string& error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = "cannot open project file '" + path + "': " + std::strerror(errno);
        return false;
    }
    f.seekg(static_cast<std::streamoff>(PROJECT_EDIT_BLOCK_OFFSET));
    f.read(reinterpret_cast<char*>(&block), sizeof block);
    if (!f || f.gcount() != static_cast<std::streamsize>(sizeof block)) {
        error = "'" + path + "' is too short to be a project file (it holds no parameter set)";
        return false;
    }
    return true;
}
} // namespace

int RunCli(const std::vector<std::string>& args, IClock& clock, std::ostream& out, std::ostream& err) {
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

    auto state = std::make_unique<QlnState>(clock);
    QlnState& s = *state;
    if (o.command == "write-params") {
        std::string error;
        if (!LoadProjectBlock(o.file, s.params.EditBlock, error)) {
            err << "qln-cli: " << error << "\n";
            return EXIT_USAGE;
        }
    }
    const ComSettings com = ReadComSettings("");
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
        s.link.trace.OpenTrace("debug.txt", LoadText(IDS_APP_TITLE), s.link.uTestMode.load());
    }

    CliNotifier notifier;
    EngineThreads threads(s, notifier);
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
    } else if (o.command == "read-params") {
        code = request(CMD_READ_PARAMETER, wanted = NOTIFY_PARAMETERS_READ);
    } else if (o.command == "write-params") {
        code = request(CMD_WRITE_PARAMETER, wanted = NOTIFY_PARAMETERS_WRITTEN);
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
    s.link.trace.CloseTrace();

    for (const std::string& m : notifier.TakeMessages())
        err << m << "\n";
    if (code != wanted) return ReportFailure(code, s, o, device, err);

    if (o.command == "info") {
        PrintInfo(s.deviceInfo, o.json, out);
    } else if (o.command == "status") {
        PrintStatus(s.statusInfo, o.json, out);
    } else if (o.command == "write-params") {
        if (o.json)
            out << "{\"written\": " << PARAM_WRITE_COUNT << "}\n";
        else
            out << "Wrote " << PARAM_WRITE_COUNT << " parameters.\n";
    } else {
        PrintParams(s.params.ValveBlock, o.json, out);
    }
    return 0;
}
