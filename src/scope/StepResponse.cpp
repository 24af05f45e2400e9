#include "scope/StepResponse.h"

#include <algorithm>
#include <cmath>

#include "scope/Acquisition.h"

namespace {
// The time before a step over which the flow's starting level is averaged, in seconds.
constexpr double LEVEL_BEFORE = 0.2;
// The final level is the mean over this share of the span, and over at least MIN_FINAL samples.
constexpr double FINAL_SHARE = 0.2;
constexpr int MIN_FINAL = 5;
// The settling band: a share of the flow's change, but never narrower than the valve's resolution.
constexpr double SETTLE_SHARE = 0.02;
constexpr double SETTLE_MIN = 0.5;

bool Finite(float v) {
    return std::isfinite(v);
}

// The mean of the finite samples in [from, to), or nothing when there is none.
std::optional<double> Mean(std::span<const float> y, int from, int to) {
    double sum = 0;
    int n = 0;
    for (int i = std::max(from, 0); i < to; ++i)
        if (Finite(y[static_cast<size_t>(i)])) {
            sum += static_cast<double>(y[static_cast<size_t>(i)]);
            ++n;
        }
    if (n == 0) return std::nullopt;
    return sum / n;
}

// The sample of every step, and the setpoint just before it (the last finite one).
struct StepAt {
    int k;
    double from;
};
std::vector<StepAt> FindSteps(std::span<const float> w) {
    std::vector<StepAt> steps;
    std::optional<double> last;
    for (size_t i = 0; i < w.size(); ++i) {
        if (!Finite(w[i])) continue;
        const double v = static_cast<double>(w[i]);
        if (last && std::fabs(v - *last) >= STEP_MIN_CHANGE) steps.push_back({static_cast<int>(i), *last});
        last = v;
    }
    return steps;
}

// One step's span and its levels, as the figures below read them.
struct Span {
    std::span<const float> y;
    double period;
    int k, end;
    double y0, yEnd, dy;
    double Time(int i) const { return i * period; }
    double Sign() const { return dy > 0 ? 1.0 : -1.0; }
};

// T(p): when the flow first reaches y0 + p dy, interpolated linearly from the sample before.
std::optional<double> Crossing(const Span& s, double p) {
    const double target = s.y0 + p * s.dy;
    std::optional<int> previous;
    if (s.k > 0 && Finite(s.y[static_cast<size_t>(s.k - 1)])) previous = s.k - 1;
    for (int i = s.k; i < s.end; ++i) {
        const float v = s.y[static_cast<size_t>(i)];
        if (!Finite(v)) continue;
        const double yi = static_cast<double>(v);
        if ((yi - target) * s.Sign() >= 0) {
            double t = s.Time(i);
            if (previous) {
                const double yp = static_cast<double>(s.y[static_cast<size_t>(*previous)]);
                const double f = yi == yp ? 1.0 : std::clamp((target - yp) / (yi - yp), 0.0, 1.0);
                t = s.Time(*previous) + f * (s.Time(i) - s.Time(*previous));
            }
            return std::max(0.0, t - s.Time(s.k));
        }
        previous = i;
    }
    return std::nullopt;
}

void Overshoot(const Span& s, StepFigures& f) {
    double largest = 0;
    std::optional<int> peak;
    for (int i = s.k; i < s.end; ++i) {
        const float v = s.y[static_cast<size_t>(i)];
        if (!Finite(v)) continue;
        const double beyond = (static_cast<double>(v) - s.yEnd) * s.Sign();
        if (beyond > largest) {
            largest = beyond;
            peak = i;
        }
    }
    f.overshootPct = largest / std::fabs(s.dy) * 100.0;
    if (peak) f.peakTime = s.Time(*peak) - s.Time(s.k);
}

void Settling(const Span& s, StepFigures& f) {
    const double band = std::max(SETTLE_SHARE * std::fabs(s.dy), SETTLE_MIN);
    std::optional<int> last;
    for (int i = s.k; i < s.end; ++i) {
        const float v = s.y[static_cast<size_t>(i)];
        if (Finite(v) && std::fabs(static_cast<double>(v) - s.yEnd) > band) last = i;
    }
    f.settled = !last || *last != s.end - 1;
    if (*f.settled) f.settlingTime = last ? s.Time(*last + 1) - s.Time(s.k) : 0.0;
}

void Figures(const Span& s, StepFigures& f) {
    f.deadTime = Crossing(s, 0.05);
    f.t63 = Crossing(s, 0.632);
    f.t86 = Crossing(s, 0.865);
    f.t98 = Crossing(s, 0.98);
    const std::optional<double> t10 = Crossing(s, 0.1), t90 = Crossing(s, 0.9);
    if (t10 && t90) f.riseTime = *t90 - *t10;
    Overshoot(s, f);
    Settling(s, f);
}

StepFigures Analyze(std::span<const float> y, double period, StepAt step, int end, double w1) {
    StepFigures f;
    f.sample = step.k;
    f.spanEnd = end;
    f.t0 = step.k * period;
    f.setpointFrom = step.from;
    f.setpointTo = w1;
    const int count = end - step.k;
    if (count < STEP_MIN_SPAN) {
        f.note = StepNote::SpanTooShort;
        return f;
    }
    const int before = std::max(1, static_cast<int>(std::lround(LEVEL_BEFORE / period)));
    const int final = std::max(MIN_FINAL, static_cast<int>(std::lround(FINAL_SHARE * count)));
    f.flowFrom = Mean(y, step.k - before, step.k);
    f.flowFinal = Mean(y, end - final, end);
    if (!f.flowFrom || !f.flowFinal) {
        f.note = StepNote::NoResponse;
        return f;
    }
    const double dy = *f.flowFinal - *f.flowFrom;
    f.travelGain = dy / (w1 - step.from);
    f.deviationPct = w1 - *f.flowFinal;
    if (std::fabs(dy) < STEP_MIN_RESPONSE) {
        f.note = StepNote::NoResponse;
        return f;
    }
    Figures(Span{y, period, step.k, end, *f.flowFrom, *f.flowFinal, dy}, f);
    return f;
}
} // namespace

std::vector<StepFigures> StepResponse(std::span<const float> setpoint, std::span<const float> flow,
                                      double period) {
    std::vector<StepFigures> result;
    const size_t n = std::min(setpoint.size(), flow.size());
    if (n < 2 || !std::isfinite(period) || period <= 0) return result;
    const std::vector<StepAt> steps = FindSteps(setpoint.first(n));
    for (size_t s = 0; s < steps.size(); ++s) {
        const int end = s + 1 < steps.size() ? steps[s + 1].k : static_cast<int>(n);
        const double w1 = static_cast<double>(setpoint[static_cast<size_t>(steps[s].k)]);
        result.push_back(Analyze(flow.first(n), period, steps[s], end, w1));
    }
    return result;
}

RecordingSteps StepsOfRecording(const SampleBuffer& buffer, const ScopeSetup& setup, RecordedRange range) {
    const ScopeSetup checked = CheckedForRecording(setup);
    RecordingSteps r;
    r.period = SamplePeriod(checked.Mode == 2 ? checked.SampleRateIndex : 0);
    const int first = std::clamp(range.first, 0, SampleBuffer::LENGTH);
    r.samples = std::clamp(range.count, 0, SampleBuffer::LENGTH - first);
    r.channelsApply = StepChannelsApply(setup);
    if (!r.channelsApply) return r;
    std::vector<float> w(static_cast<size_t>(r.samples)), y(static_cast<size_t>(r.samples));
    for (int i = 0; i < r.samples; ++i) {
        w[static_cast<size_t>(i)] = buffer.Analog(0, first + i);
        y[static_cast<size_t>(i)] = buffer.Analog(1, first + i);
    }
    r.steps = StepResponse(w, y, r.period);
    return r;
}

RecordingSteps StepsOfCsv(const CsvRecording& csv) {
    return {csv.period, static_cast<int>(csv.analog1.size()), true,
            StepResponse(csv.analog1, csv.analog2, csv.period)};
}

bool StepChannelsApply(const ScopeSetup& setup) {
    return setup.Analog[0].Signal == 0 && setup.Analog[1].Signal == 0;
}

std::optional<size_t> StepAtSample(const std::vector<StepFigures>& steps, int i) {
    for (size_t s = steps.size(); s-- > 0;)
        if (i >= steps[s].sample) return s;
    return std::nullopt;
}

const char* StepNoteText(StepNote note) {
    switch (note) {
    case StepNote::SpanTooShort:
        return "span too short";
    case StepNote::NoResponse:
        return "no response";
    default:
        return "";
    }
}
