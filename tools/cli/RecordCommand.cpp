#include "RecordCommand.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace {
constexpr int RATES_MS[] = {4, 10, 20, 40, 100, 200};

bool ParseNumber(const std::string& text, double& v) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(v);
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
} // namespace

std::optional<std::string> ParseRecordOption(const std::vector<std::string>& args, size_t& i,
                                             RecordOptions& o) {
    const std::string& a = args[i];
    static const char* const NAMES[] = {"--mode",      "--rate",    "--begin", "--end",
                                        "--ramp-time", "--trigger", "--for",   "--csv"};
    bool known = false;
    for (const char* n : NAMES)
        known = known || a == n;
    if (!known) return std::nullopt;
    if (i + 1 >= args.size()) return a + " needs a value";
    const std::string& v = args[++i];
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
            if (number && x == RATES_MS[k]) o.rateIndex = k;
        if (!o.rateIndex) return "--rate takes 4, 10, 20, 40, 100 or 200 (ms)";
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
    } else {
        o.csv = v;
    }
    return std::string();
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
    if (s.Mode < 0 || s.Mode > 2) s.Mode = 2;
    return "";
}
