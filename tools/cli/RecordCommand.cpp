#include "RecordCommand.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "AnalyzeCommand.h"
#include "CliRun.h"
#include "engine/DeviceCommands.h"
#include "scope/Acquisition.h"
#include "scope/RecordingCsv.h"
#include "scope/SampleBuffer.h"
#include "system/AtomicFile.h"
#include "text/Texts.h"

const RecordOptionRow RECORD_OPTIONS[8] = {
    {"--mode", "step|ramp|roll", "the recording: a setpoint step, a ramp, or rolling until stopped"},
    {"--rate", "MS", "roll: the sample period, 4, 10, 20, 40, 100 or 200 ms"},
    {"--begin", "PCT", "the setpoint the step or ramp starts from, 0 to 100 %"},
    {"--end", "PCT", "the setpoint the step or ramp ends at, 0 to 100 %"},
    {"--ramp-time", "S", "ramp: its time from begin to end, 0 to 20 s"},
    {"--trigger", "CH:rising|falling:VALUE",
     "roll: start when channel CH (1-4 analog, 5-8 binary channels 1-4) crosses VALUE (-100 to 100 %)"},
    {"--for", "S", "roll: stop after S seconds"},
    {"--csv", "FILE|-", "also write the samples as CSV to FILE, or to stdout with -"},
};

namespace {
constexpr int RATES_MS[] = {4, 10, 20, 40, 100, 200};

bool ParseNumber(const std::string& text, double& v) {
    const std::optional<double> n = ::ParseNumber(text);
    v = n.value_or(0);
    return n.has_value();
}

bool WholeNumber(double v) {
    return v == std::floor(v);
}

// CH:rising|falling:VALUE, CH 1..4 analog, 5..8 binary channels 1..4.
std::string ParseTrigger(const std::string& text, RecordOptions& o) {
    const size_t a = text.find(':'), b = text.find(':', a == std::string::npos ? a : a + 1);
    double ch = 0, value = 0;
    if (a == std::string::npos || b == std::string::npos || !ParseNumber(text.substr(0, a), ch) ||
        !ParseNumber(text.substr(b + 1), value) || !WholeNumber(ch) || ch < 1 || ch > 8 ||
        !WholeNumber(value) || value < -100 || value > 100)
        return "--trigger takes CH:rising|falling:VALUE (CH 1-4 analog, 5-8 binary channels 1-4; VALUE -100 "
               "to "
               "100 %)";
    const std::string slope = text.substr(a + 1, b - a - 1);
    if (slope != "rising" && slope != "falling") return "--trigger slope must be rising or falling";
    o.triggerChannel = static_cast<int32_t>(ch);
    o.triggerSlope = slope == "falling" ? 1 : 0;
    o.triggerValue = static_cast<int32_t>(value);
    return "";
}

// Drives a recording to its end. There is no view to draw, so each progress is taken at once; a
// duration in roll mode ends the recording as Stop Acquisition does; a recording ended by an error
// is followed by a hard stop, so that the valve is never left streaming.
uint32_t RunRecording(QlnState& s, CliNotifier& notifier, const Options& o, IClock& clock,
                      std::ostream& err) {
    const int32_t mode = CopyScopeSetup(s).Mode;
    const bool progress = IsTerminal(err);
    const uint32_t start = clock.NowMs();
    bool stopAsked = false;
    RequestAction(s, AcquisitionStartFor(mode).bit);
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
    const RecordingSteps steps = StepsOfRecording(s.samples, setup, range);
    if (o.json) {
        JsonObject j;
        AddStepsJson(steps, j);
        j.Add("display_update_too_fast", static_cast<long>(s.DisplayTooFast.load()));
        summary << j.Str();
    } else {
        summary << "Recorded " << range.count << " samples (" << s.DisplayTooFast.load()
                << " display updates too fast).\n";
        PrintSteps(steps, summary);
    }
    if (o.file.empty()) return 0;
    project.scopeSetup = setup;
    s.samples.SaveTo(project.samples);
    return SaveProject(o.file, project, err);
}
} // namespace

std::string ParseRecordOption(const std::string& a, const std::string& v, RecordOptions& o) {
    double x = 0;
    const bool number = ParseNumber(v, x);
    if (a == "--mode") {
        if (v == "step")
            o.mode = 0;
        else if (v == "ramp")
            o.mode = 1;
        else if (v == "roll")
            o.mode = 2;
        else
            return "--mode takes step, ramp or roll";
    } else if (a == "--rate") {
        for (int k = 0; k < 6; ++k)
            if (number && x == RATES_MS[k]) {
                o.rateIndex = k;
                return "";
            }
        return "--rate takes 4, 10, 20, 40, 100 or 200 (ms)";
    } else if (a == "--begin" || a == "--end") {
        if (!number || x < 0 || x > 100) return a + " takes a percentage from 0 to 100";
        // The valve takes the setpoints in steps of 0.5 %.
        (a == "--begin" ? o.begin : o.end) = static_cast<float>(std::floor(x * 2) / 2);
    } else if (a == "--ramp-time") {
        if (!number || x < 0 || x > 20) return "--ramp-time takes seconds from 0 to 20";
        o.rampTime = static_cast<float>(std::floor(x * 10 + 1e-9) / 10);
    } else if (a == "--trigger") {
        return ParseTrigger(v, o);
    } else if (a == "--for") {
        if (!number || x <= 0 || x > 86400) return "--for takes seconds (more than 0)";
        o.forSeconds = x;
    } else if (a == "--csv") {
        o.csv = v;
    } else {
        return "unknown option '" + a + "'";
    }
    return "";
}

std::string ParseRecordTime(const std::string& text, RecordOptions& o) {
    double x = 0;
    if (!ParseNumber(text, x) || !WholeNumber(x) || x < 4 || x > 20)
        return "record: --time takes whole seconds from 4 to 20";
    o.seconds = static_cast<int32_t>(x);
    return "";
}

std::string ApplyRecordOptions(const RecordOptions& o, ScopeSetup& s) {
    if (o.mode) s.Mode = *o.mode;
    if (o.triggerChannel && !o.mode) s.Mode = 2;
    // A mode no recording has (a damaged project) is refused as the window's Start refuses it;
    // --mode (or --trigger) chooses one, as the set-up dialog would.
    if (AcquisitionStartFor(s.Mode).bit == 0)
        return FillPlaceholders(LoadText(IDS_UNKNOWN_ACQUISITION_MODE), {std::to_string(s.Mode)});
    if (s.Mode != 2 && (o.triggerChannel || o.forSeconds || o.rateIndex))
        return "--trigger, --for and --rate belong to --mode roll (step and ramp record at 4 ms)";
    if (o.seconds) s.AcquisitionTime = *o.seconds;
    if (o.rateIndex) s.SampleRateIndex = *o.rateIndex;
    if (o.begin) s.SetpointBegin = *o.begin;
    if (o.end) s.SetpointEnd = *o.end;
    if (o.rampTime) s.RampTime = *o.rampTime;
    if (o.triggerChannel) {
        s.TriggerChannel = *o.triggerChannel;
        s.TriggerSlope = *o.triggerSlope;
        s.TriggerValue = *o.triggerValue;
    } else if (o.mode && *o.mode == 2) {
        s.TriggerChannel = 0;
    }
    return "";
}

int RunRecord(CommandContext& c) {
    ScopeSetup setup = c.o.file.empty() ? DefaultScopeSetup() : c.project.scopeSetup;
    const std::string error = ApplyRecordOptions(c.o.record, setup);
    if (!error.empty()) {
        c.err << "qln-cli: " << error << "\n";
        return EXIT_USAGE;
    }
    ValveRun run(c);
    QlnState& s = run.State();
    StoreScopeSetup(s, setup);
    run.Start(StopRecordingOnSignal);
    const uint32_t code = RunRecording(s, run.Notifier(), c.o, c.clock, c.err);
    if (const int failed = run.End(code, NOTIFY_ACQUISITION_ENDED); failed >= 0) return failed;
    return PrintRecording(s, c.project, c.o, c.out, c.err);
}
