#include "ParamsCommands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "engine/DeviceCommands.h"
#include "engine/StatusPairs.h"
#include "engine/ValveInfoFormat.h"
#include "params/ParameterCheck.h"
#include "text/Texts.h"

namespace {
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

} // namespace

void PrintDifferences(const std::vector<Difference>& diffs, bool json, std::ostream& out, const char* first,
                      const char* second) {
    if (json) {
        out << "[";
        for (size_t i = 0; i < diffs.size(); ++i) {
            JsonObject j;
            j.AddText("name", diffs[i].name);
            j.AddText(first, diffs[i].first);
            j.AddText(second, diffs[i].second);
            out << (i ? ", " : "") << j.Body();
        }
        out << "]\n";
        return;
    }
    char buf[160];
    for (const Difference& d : diffs) {
        std::snprintf(buf, sizeof buf, "%-31s %s %-10s %s %s\n", d.name, first, d.first.c_str(), second,
                      d.second.c_str());
        out << buf;
    }
}

namespace {

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

// Reads the valve's parameters (a job the history records as read-params); returns the exit
// status of a failure, or -1.
int ReadParameters(ValveRun& run) {
    if (const int failed = run.Begin("read-params"); failed >= 0) return failed;
    const uint32_t code = run.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ);
    return run.End(code, NOTIFY_PARAMETERS_READ);
}

// Only PARAMETER_SET changes, so no other flag of the CAS telegram moves; the set is read back.
int SwitchSet(CommandContext& c, bool factory) {
    ValveRun run(c);
    QlnState& s = run.State();
    if (const int failed = run.Begin("set-switch"); failed >= 0) return failed;
    uint32_t wanted = NOTIFY_PARAMETERS_READ;
    uint32_t code = run.Request(CMD_READ_PARAMETER, wanted);
    if (code == wanted) {
        s.params.EditBlock = s.params.ValveBlock;
        s.params.EditBlock.PARAMETER_SET = factory ? 1 : 0;
        code = run.Request((factory ? CMD_FACTORY_SET : CMD_CUSTOM_SET) | CMD_READ_PARAMETER,
                           wanted = NOTIFY_SET_SWITCHED);
        if (code == wanted) code = run.Notifier().Wait(wanted = NOTIFY_PARAMETERS_READ, s);
    }
    if (const int failed = run.End(code, wanted); failed >= 0) return failed;
    PrintParams(s.params.ValveBlock, c.o.json, c.out);
    return 0;
}
} // namespace

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

int RunInfo(CommandContext& c) {
    ValveRun run(c);
    run.Start();
    const uint32_t code = run.Request(CMD_READ_DEVICE_INFO, NOTIFY_DEVICE_INFO);
    if (const int failed = run.End(code, NOTIFY_DEVICE_INFO); failed >= 0) return failed;
    PrintInfo(run.State().deviceInfo, c.o.json, c.out);
    return 0;
}

int RunStatus(CommandContext& c) {
    ValveRun run(c);
    run.Start();
    const uint32_t code = run.Request(CMD_READ_STATUS, NOTIFY_STATUS);
    if (const int failed = run.End(code, NOTIFY_STATUS); failed >= 0) return failed;
    PrintStatus(run.State().statusInfo, c.o.json, c.out);
    return 0;
}

int RunReadParams(CommandContext& c) {
    ValveRun run(c);
    if (const int failed = ReadParameters(run); failed >= 0) return failed;
    const ParameterBlock& valve = run.State().params.ValveBlock;
    PrintParams(valve, c.o.json, c.out);
    if (c.o.file.empty()) return 0;
    // Kept as the project's edited set, the way the editor's Copy takes the valve's values.
    c.project.editBlock = valve;
    return SaveProject(c.o.file, c.project, c.err);
}

// Each number goes out as the parameter editor would show and send it.
int RunWriteParams(CommandContext& c) {
    ParameterBlock edit = c.project.editBlock;
    RoundToValveSteps(edit);
    if (!CheckBeforeWriting(edit, c.o, c.err)) return EXIT_USAGE;
    ValveRun run(c);
    run.State().params.EditBlock = edit;
    // With the history on, the valve's set is read and kept as the backup first; a write whose
    // backup could not be read does not start.
    if (const int failed = run.Begin("backup"); failed >= 0) return failed;
    if (run.HistoryEnabled()) {
        const uint32_t read = run.Request(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ);
        if (read != NOTIFY_PARAMETERS_READ) return run.End(read, NOTIFY_PARAMETERS_READ);
    }
    run.CompleteStep("write-params");
    const uint32_t code = run.Request(CMD_WRITE_PARAMETER, NOTIFY_PARAMETERS_WRITTEN);
    if (const int failed = run.End(code, NOTIFY_PARAMETERS_WRITTEN, true); failed >= 0) return failed;
    if (c.o.json)
        c.out << "{\"written\": " << PARAM_WRITE_COUNT << "}\n";
    else
        c.out << "Wrote " << PARAM_WRITE_COUNT << " parameters.\n";
    return 0;
}

// The project's numbers as write-params sends them: after a write, no difference is left.
int RunDiff(CommandContext& c) {
    ValveRun run(c);
    if (const int failed = ReadParameters(run); failed >= 0) return failed;
    ParameterBlock project = c.project.editBlock;
    RoundToValveSteps(project);
    const auto diffs = Differences(project, run.State().params.ValveBlock);
    PrintDifferences(diffs, c.o.json, c.out);
    return diffs.empty() ? 0 : EXIT_DIFFERENT;
}

int RunFactorySet(CommandContext& c) {
    return SwitchSet(c, true);
}

int RunCustomSet(CommandContext& c) {
    return SwitchSet(c, false);
}
