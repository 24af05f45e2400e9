#include "scope/StepTable.h"

#include <charconv>
#include <cmath>

namespace {
// Text ids of the figures' labels and of the words that stand for a value.
enum : int {
    T0 = 603,
    SETPOINT,
    FLOW,
    DEAD_TIME,
    T63,
    T86,
    T98,
    RISE_TIME,
    OVERSHOOT,
    SETTLING_TIME,
    TRAVEL_GAIN,
    DEVIATION,
    SPAN_TOO_SHORT,
    NO_RESPONSE,
    NOT_SETTLED
};

std::string Fixed(const std::optional<double>& v, int decimals) {
    return v ? FigureText(*v, decimals) : "--";
}

std::string FromTo(const std::optional<double>& from, const std::optional<double>& to) {
    return Fixed(from, 1) + " \u2192 " + Fixed(to, 1);
}
} // namespace

std::string FigureText(double v, int decimals) {
    if (!std::isfinite(v)) return "--";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

std::vector<StepCell> StepCells(const StepFigures& f) {
    std::vector<StepCell> cells = {
        {T0, FigureText(f.t0, 3)},
        {SETPOINT, FromTo(f.setpointFrom, f.setpointTo)},
        {FLOW, FromTo(f.flowFrom, f.flowFinal)},
        {DEAD_TIME, Fixed(f.deadTime, 3)},
        {T63, Fixed(f.t63, 3)},
        {T86, Fixed(f.t86, 3)},
        {T98, Fixed(f.t98, 3)},
        {RISE_TIME, Fixed(f.riseTime, 3)},
        {OVERSHOOT, Fixed(f.overshootPct, 1)},
        {SETTLING_TIME, Fixed(f.settlingTime, 3)},
        {TRAVEL_GAIN, Fixed(f.travelGain, 2)},
        {DEVIATION, Fixed(f.deviationPct, 1)},
    };
    if (f.settled == false) cells[9] = {SETTLING_TIME, "", NOT_SETTLED};
    return cells;
}

int StepNoteId(StepNote note) {
    return note == StepNote::SpanTooShort ? SPAN_TOO_SHORT : note == StepNote::NoResponse ? NO_RESPONSE : 0;
}

std::vector<StepMark> StepMarks(const RecordingSteps& r, int first) {
    std::vector<StepMark> marks;
    for (const StepFigures& f : r.steps) {
        if (f.note != StepNote::None || r.period <= 0) continue;
        const double y0 = *f.flowFrom, dy = *f.flowFinal - *f.flowFrom;
        auto at = [&](const std::optional<double>& t, double value) {
            if (t) marks.push_back({first + (f.t0 + *t) / r.period, value});
        };
        at(f.deadTime, y0 + 0.05 * dy);
        at(f.t63, y0 + 0.632 * dy);
        at(f.t86, y0 + 0.865 * dy);
        at(f.settlingTime, *f.flowFinal);
    }
    return marks;
}

double StepMarkX(const ScopeWindow& w, double sample) {
    return scope_layout::TIME_LEFT + (sample - FirstSampleIndex(w)) * UnitsPerSample(w);
}
