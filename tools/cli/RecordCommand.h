#pragma once
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "scope/Acquisition.h"
#include "scope/RecordingCsv.h"
#include "scope/SampleBuffer.h"
#include "scope/ScopeSetup.h"

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

// When args[i] is an option of `record`, takes it (and its value, moving i on) and returns ""
// or the usage error; returns nullopt when it is no option of `record`.
std::optional<std::string> ParseRecordOption(const std::vector<std::string>& args, size_t& i,
                                             RecordOptions& o);

// --time of `record`: whole seconds, 4 to 20 (test-function reads its own --time).
std::string ParseRecordTime(const std::string& text, RecordOptions& o);

// Puts the options over `setup`. Returns "" or the usage error of a combination that cannot be
// recorded (a trigger or a duration outside roll mode).
std::string ApplyRecordOptions(const RecordOptions& o, ScopeSetup& setup);
