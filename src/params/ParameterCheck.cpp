#include "params/ParameterCheck.h"

#include <cmath>
#include <cstdio>

namespace {
std::string Number(const ParameterDescription& p, double v) {
    char buf[64];
    if (p.type == FieldType::Float)
        std::snprintf(buf, sizeof buf, p.format, v);
    else
        std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
}
} // namespace

std::vector<RangeProblem> CheckWrittenFields(const ParameterBlock& b) {
    std::vector<RangeProblem> out;
    for (const ParameterDescription& p : ParameterTable()) {
        if (!SentByWrite(p)) continue;
        const double v = GetValue(b, p);
        const double slack = p.type == FieldType::Float ? p.step / 1000 : 0;
        if (std::isfinite(v) && v >= p.min - slack && v <= p.max + slack) continue;
        std::string allowed = Number(p, p.min) + " to " + Number(p, p.max);
        if (*p.unit && !HasChoices(p)) allowed += std::string(" ") + p.unit;
        out.push_back({&p, FormatValue(b, p), allowed});
    }
    return out;
}

std::string DescribeProblem(const RangeProblem& p) {
    return std::string(p.field->name) + " is " + p.value + ", allowed " + p.allowed;
}
