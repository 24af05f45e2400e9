#include "params/ParameterText.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {
// The digit after "%1." in a printf format ("%1.2f" -> 2); "%d" has none.
int FormatDecimals(const char* format) {
    const char* dot = std::strchr(format, '.');
    return dot && dot[1] >= '0' && dot[1] <= '9' ? dot[1] - '0' : 0;
}

// A list of seconds: its choices are computed from the index, not listed.
bool IsSecondsList(const ParameterDescription& p) {
    return HasChoices(p) && p.choices.empty();
}
} // namespace

std::string FixedText(double value, int decimals) {
    if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("?");
}

std::string FormatNumber(const ParameterDescription& p, double value) {
    if (p.type == FieldType::Int) return FixedText(std::trunc(value), 0);
    return FixedText(value, FormatDecimals(p.format));
}

std::string ChoiceStatusText(const ParameterDescription& p, int32_t value, const TextSource& texts) {
    if (value < 0 || value >= ChoiceCount(p)) return std::to_string(value) + " (?)";
    if (IsSecondsList(p)) return FixedText(IndexSeconds(p.ini, value), FormatDecimals(p.format));
    return ChoiceText(p, value, texts);
}

unsigned FeedbackSourceText(int32_t controllerStructure) {
    return controllerStructure == STRUCTURE_FLOW ? 245 : 374;
}
