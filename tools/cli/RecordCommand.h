#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "scope/ScopeSetup.h"

struct CommandContext;

// The options of `qln-cli record` and what they make of a scope set-up (the CSV is written by
// scope/RecordingCsv.h, shared with the desktop program's export).
struct RecordOptions {
    std::optional<int32_t> mode; // 0 step, 1 ramp, 2 roll/trigger
    std::optional<int32_t> seconds;
    std::optional<int32_t> rateIndex;
    std::optional<float> begin, end, rampTime;
    std::optional<int32_t> triggerChannel, triggerSlope, triggerValue;
    std::optional<double> forSeconds;
    std::optional<std::string> csv; // a path, or "-" for stdout
};

// The options only `record` takes (its --time is a global option, as test-function has one too).
struct RecordOptionRow {
    const char* name;
    const char* value; // the value's form in the usage text
    const char* help;
};
extern const RecordOptionRow RECORD_OPTIONS[8];

// One option of RECORD_OPTIONS with its value: returns "" and keeps the value in `o`, or the
// usage error.
std::string ParseRecordOption(const std::string& name, const std::string& value, RecordOptions& o);

// --time of `record`: whole seconds, 4 to 20 (test-function reads its own --time).
std::string ParseRecordTime(const std::string& text, RecordOptions& o);

// Puts the options over `setup`. Returns "" or the usage error of a combination that cannot be
// recorded: a mode that is none of step, ramp and roll (from a damaged project, unless --mode or
// --trigger chooses one), a trigger or a duration outside roll mode.
std::string ApplyRecordOptions(const RecordOptions& o, ScopeSetup& setup);

// Records over the set-up of the project (or the defaults) with the options over it; the project,
// when one is given, keeps the set-up and the recording. A first signal stops the recording as
// Stop Acquisition does, a second one does the hard stop.
int RunRecord(CommandContext& c);
