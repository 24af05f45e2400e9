#include "dialogs/ScopeSetupRules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dialogs/ParameterPageRules.h"
#include "scope/ScopeSignalNames.h"

namespace {
struct FieldLimits {
    double low, high;
    int scale; // spin position = value x scale
    bool integer;
};
// In ScopeFieldKind order.
constexpr FieldLimits LIMITS[] = {
    {4, 20, 1, true}, {-100, 100, 1, true}, {0, 100, 2, false}, {0, 100, 2, false}, {0, 20, 10, false}};

const FieldLimits& Limits(ScopeFieldKind kind) {
    return LIMITS[static_cast<int>(kind)];
}

std::string Format(const FieldLimits& l, double v) {
    char buf[32];
    if (l.integer)
        std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v));
    else
        std::snprintf(buf, sizeof buf, "%1.1f", v);
    return buf;
}

int Selection(int selected, int count) {
    if (selected < 0 || count <= 0) return 0;
    return std::min(selected, count - 1);
}
} // namespace

void PrepareScopeSetup(ScopeSetup& record) {
    record.AcquisitionTime = std::clamp(record.AcquisitionTime, 4, 20);
    ForceFixedBinaryChannels(record);
}

ScopeSetupEnabling ScopeSetupEnable(const ScopeSetup& copy, uint32_t threadCmd, int32_t structure) {
    ScopeSetupEnabling e{};
    e.masterSlave = structure == CONTROLLER_CASCADED;
    if (threadCmd != 0) {
        e.masterSlave = false;
        return e;
    }
    e.analog = e.binary = e.acquisitionTime = e.modes = true;
    const bool trigger = copy.Mode == 2;
    e.setpoints = !trigger;
    e.rampTime = copy.Mode == 1;
    e.triggerChannel = trigger;
    e.triggerValue = trigger && copy.TriggerChannel >= 1 && copy.TriggerChannel <= 4;
    e.slope = trigger && copy.TriggerChannel >= 1 && copy.TriggerChannel <= 8;
    return e;
}

ScopeField ScopeFieldOf(ScopeFieldKind kind, double value) {
    const FieldLimits& l = Limits(kind);
    const double v = std::isfinite(value) ? std::clamp(value, l.low, l.high) : l.low;
    // A hair below a step counts as on it (0.3 is stored as 0.29999...).
    return {v, Format(l, v), static_cast<int>(std::floor(v * l.scale + 1e-4))};
}

ScopeField ReadScopeField(ScopeFieldKind kind, const std::string& text) {
    const FieldLimits& l = Limits(kind);
    std::string t = text;
    if (l.integer) {
        int32_t v = 0;
        ValidateIntEdit(t, v, static_cast<int32_t>(l.low), static_cast<int32_t>(l.high));
        return ScopeFieldOf(kind, v);
    }
    float v = 0;
    ValidateFloatEdit(t, v, static_cast<float>(l.low), static_cast<float>(l.high));
    return ScopeFieldOf(kind, v);
}

ScopeField StepScopeField(ScopeFieldKind kind, int position, int delta) {
    const FieldLimits& l = Limits(kind);
    const int low = static_cast<int>(l.low * l.scale), high = static_cast<int>(l.high * l.scale);
    const int p = std::clamp(position + delta, low, high);
    return ScopeFieldOf(kind, static_cast<double>(p) / l.scale);
}

ScopeSetup TakeOverScopeSetup(const ScopeSetup& copy, const ScopeSetupInputs& in, int32_t structure) {
    ScopeSetup s = copy;
    for (int c = 0; c < 4; ++c) {
        s.Analog[c].Signal = Selection(in.analog[static_cast<size_t>(c)], AnalogSignalCount(c));
        s.Binary[c] = Selection(in.binary[static_cast<size_t>(c)], BINARY_SIGNAL_COUNT);
    }
    ForceFixedBinaryChannels(s);
    s.TriggerChannel = Selection(in.triggerChannel, 9);
    s.TriggerSlope = in.falling ? 1 : 0;
    s.MasterSlave = in.slave && structure == CONTROLLER_CASCADED ? 1 : 0;
    s.TriggerValue =
        static_cast<int32_t>(ReadScopeField(ScopeFieldKind::TriggerValue, in.triggerValue).value);
    s.SampleRateIndex = Selection(in.rateIndex, 6);
    s.Mode = std::clamp(in.mode, 0, 2);
    s.SetpointBegin = static_cast<float>(ReadScopeField(ScopeFieldKind::SetpointBegin, in.begin).value);
    s.SetpointEnd = static_cast<float>(ReadScopeField(ScopeFieldKind::SetpointEnd, in.end).value);
    s.RampTime = static_cast<float>(ReadScopeField(ScopeFieldKind::RampTime, in.rampTime).value);
    s.AcquisitionTime =
        static_cast<int32_t>(ReadScopeField(ScopeFieldKind::AcquisitionTime, in.acquisitionTime).value);
    return s;
}
