#include "AnalyzeCommand.h"

#include <cmath>
#include <memory>
#include <ostream>

#include "CliRun.h"
#include "project/ProjectLayout.h"
#include "scope/Acquisition.h"
#include "scope/StepTable.h"
#include "system/Files.h"
#include "system/Host.h"
#include "text/Texts.h"

namespace {
// Larger than any CSV of 5100 samples.
constexpr uint64_t LARGEST_FILE = 16u << 20;

// A figure in JSON: the number, or null where it does not apply.
std::string Json(const std::optional<double>& v, int decimals) {
    return v && std::isfinite(*v) ? FigureText(*v, decimals) : "null";
}
// ... and in a plain line.
std::string Plain(const std::optional<double>& v, int decimals, const char* unit) {
    return v && std::isfinite(*v) ? FigureText(*v, decimals) + unit : "--";
}

// The figures in the order the JSON gives them; "settled" follows the settling time.
struct JsonFigure {
    const char* key;
    std::optional<double> StepFigures::*figure;
    int decimals;
};
constexpr JsonFigure JSON_FIGURES[] = {
    {"flow_from", &StepFigures::flowFrom, 2},
    {"flow_final", &StepFigures::flowFinal, 2},
    {"dead_time_s", &StepFigures::deadTime, 4},
    {"t63_s", &StepFigures::t63, 4},
    {"t86_s", &StepFigures::t86, 4},
    {"t98_s", &StepFigures::t98, 4},
    {"rise_time_s", &StepFigures::riseTime, 4},
    {"overshoot_pct", &StepFigures::overshootPct, 2},
    {"peak_time_s", &StepFigures::peakTime, 4},
    {"settling_time_s", &StepFigures::settlingTime, 4},
    {"travel_gain", &StepFigures::travelGain, 3},
    {"deviation_pct", &StepFigures::deviationPct, 2},
};

std::string StepJson(const StepFigures& f) {
    JsonObject j;
    j.Add("t0_s", FigureText(f.t0, 4));
    j.Add("setpoint_from", FigureText(f.setpointFrom, 2));
    j.Add("setpoint_to", FigureText(f.setpointTo, 2));
    for (const JsonFigure& figure : JSON_FIGURES) {
        j.Add(figure.key, Json(f.*figure.figure, figure.decimals));
        if (figure.figure == &StepFigures::settlingTime)
            j.Add("settled", f.settled ? (*f.settled ? "true" : "false") : "null");
    }
    j.Add("note", f.note == StepNote::None ? "null" : JsonString(StepNoteText(f.note)));
    return j.Body();
}

std::string StepLine(const StepFigures& f, size_t n, size_t count) {
    std::string line = "step " + std::to_string(n) + " of " + std::to_string(count) + " at " +
                       FigureText(f.t0, 3) + " s: setpoint " + FigureText(f.setpointFrom, 1) + " -> " +
                       FigureText(f.setpointTo, 1) + " %, flow " + Plain(f.flowFrom, 1, "") + " -> " +
                       Plain(f.flowFinal, 1, " %");
    if (f.note == StepNote::SpanTooShort) return line + ", " + StepNoteText(f.note);
    line += ", travel gain " + Plain(f.travelGain, 3, "") + ", deviation " + Plain(f.deviationPct, 1, " %");
    if (f.note == StepNote::NoResponse) return line + ", " + StepNoteText(f.note);
    return line + ", dead time " + Plain(f.deadTime, 3, " s") + ", T63 " + Plain(f.t63, 3, " s") + ", T86 " +
           Plain(f.t86, 3, " s") + ", T98 " + Plain(f.t98, 3, " s") + ", rise time " +
           Plain(f.riseTime, 3, " s") + ", overshoot " + Plain(f.overshootPct, 1, " %") + " (peak " +
           Plain(f.peakTime, 3, " s") + "), settling time " +
           (*f.settled ? Plain(f.settlingTime, 3, " s") : std::string("not settled"));
}

// The recording in FILE: a CSV in the export's form, or a project's sample buffer.
std::string ReadRecording(const std::string& path, RecordingSteps& r) {
    const FileRead file = ReadRegularFile(path, LARGEST_FILE, LARGEST_FILE);
    if (file.status == FileRead::TooLarge) return path + " is too large for a recording";
    if (file.status != FileRead::Ok)
        return "cannot read " + path + (file.error ? ": " + SystemErrorText(file.error) : "");
    if (LooksLikeCsv(file.data)) {
        CsvRecording csv;
        const std::string why = ReadCsv(file.data, csv);
        if (!why.empty()) return path + " is no recording CSV: " + why;
        r = StepsOfCsv(csv);
        return "";
    }
    if (file.data.size() < PROJECT_FILE_SIZE)
        return path + " is neither a project file (it is too short to hold a recording) nor a CSV of a "
                      "recording (t_s,ana1..ana4,bin1..bin4)";
    auto project = std::make_unique<ProjectFile>();
    const std::string error = LoadProject(path, ProjectNeeds::Anything, *project);
    if (!error.empty()) return error;
    auto samples = std::make_unique<SampleBuffer>();
    samples->LoadFrom(project->samples);
    const int count = StoredSampleCount(project->scopeSetup, samples->Empty());
    r = StepsOfRecording(*samples, project->scopeSetup, {0, count});
    return "";
}
} // namespace

void AddStepsJson(const RecordingSteps& r, JsonObject& j) {
    j.Add("period_s", r.period > 0 ? FigureText(r.period, 4) : "null");
    j.Add("samples", r.samples);
    std::string steps = "[";
    for (const StepFigures& f : r.steps)
        steps += (steps.size() > 1 ? "," : "") + StepJson(f);
    j.Add("steps", steps + "]");
    if (!r.channelsApply) j.AddText("note", LoadText(IDS_STEP_CHANNELS));
}

void PrintSteps(const RecordingSteps& r, std::ostream& out) {
    if (!r.channelsApply) {
        out << LoadText(IDS_STEP_CHANNELS) << "\n";
        return;
    }
    for (size_t s = 0; s < r.steps.size(); ++s)
        out << StepLine(r.steps[s], s + 1, r.steps.size()) << "\n";
}

int RunAnalyze(CommandContext& c) {
    RecordingSteps r;
    const std::string error = ReadRecording(c.o.file, r);
    if (!error.empty()) {
        c.err << "qln-cli: " << error << "\n";
        return EXIT_USAGE;
    }
    if (c.o.json) {
        JsonObject j;
        AddStepsJson(r, j);
        c.out << j.Str();
    } else {
        c.out << r.steps.size() << (r.steps.size() == 1 ? " step" : " steps") << " in " << r.samples
              << " samples\n";
        PrintSteps(r, c.out);
    }
    return 0;
}
