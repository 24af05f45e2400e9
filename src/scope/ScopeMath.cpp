#include "scope/ScopeMath.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

using namespace scope_layout;

namespace {
constexpr double PERIODS[6] = {0.004, 0.01, 0.02, 0.04, 0.1, 0.2};
constexpr int MAX_VALUE_ROWS = 25;
// Values beyond this are far outside any plot; keeping them here keeps every conversion to int
// defined.
constexpr double VALUE_LIMIT = 1.0e6;

double Finite(double v, double fallback) {
    return std::isfinite(v) ? v : fallback;
}

// A usable period: a recording never samples faster than 1 ms or slower than 1 s.
double Period(const ScopeWindow& w) {
    const double p = Finite(w.period, DEFAULT_PERIOD);
    return p >= 0.001 && p <= 1.0 ? p : DEFAULT_PERIOD;
}

double Span(const ScopeWindow& w) {
    return std::max(0.0, Finite(w.end, 0.0) - Finite(w.start, 0.0));
}

double AcquisitionTime(const ScopeWindow& w) {
    return std::max(Finite(w.acquisitionTime, 0.0), Period(w));
}

int Round(double v) {
    return static_cast<int>(std::lround(std::clamp(Finite(v, 0.0), -1.0e9, 1.0e9)));
}

int ClampIndex(long i) {
    return static_cast<int>(std::clamp<long>(i, 0, LAST_INDEX));
}

long long FloorDiv(long long a, long long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

long long Ms(double seconds) {
    return std::llround(std::clamp(Finite(seconds, 0.0), -1.0e6, 1.0e6) * 1000.0);
}

int PeriodMs(const ScopeWindow& w) {
    return std::max(1, static_cast<int>(std::lround(Period(w) * 1000.0)));
}

// A fixed-point number with a '.' whatever the user's locale ("%1.1f", "%3.3f").
std::string Fixed(double v, int decimals) {
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

// Reduces the points of one column to its first, lowest, highest and last, in sample order.
class ColumnReducer {
public:
    ColumnReducer(std::vector<PlotPoint>& out, double columnWidth) : out_(out), width_(columnWidth) {}
    void Add(PlotPoint p) {
        const long column = std::lround(std::floor((p.x - TIME_LEFT) / width_));
        if (count_ > 0 && column != column_) Flush();
        if (count_ == 0) {
            column_ = column;
            first_ = lowest_ = highest_ = last_ = p;
            lowestAt_ = highestAt_ = 0;
        } else {
            if (p.y < lowest_.y) lowest_ = p, lowestAt_ = count_;
            if (p.y > highest_.y) highest_ = p, highestAt_ = count_;
            last_ = p;
        }
        ++count_;
    }
    void Flush() {
        if (count_ == 0) return;
        out_.push_back(first_);
        const bool lowFirst = lowestAt_ <= highestAt_;
        for (const PlotPoint& p : {lowFirst ? lowest_ : highest_, lowFirst ? highest_ : lowest_, last_})
            if (out_.back().x != p.x || out_.back().y != p.y) out_.push_back(p);
        count_ = 0;
    }

private:
    std::vector<PlotPoint>& out_;
    double width_;
    long column_ = 0;
    int count_ = 0;
    PlotPoint first_{}, lowest_{}, highest_{}, last_{};
    int lowestAt_ = 0, highestAt_ = 0;
};
} // namespace

double ViewSamplePeriod(int32_t mode, int32_t rateIndex, double previous) {
    if (mode != 2) return PERIODS[0];
    if (rateIndex >= 0 && rateIndex < 6) return PERIODS[rateIndex];
    return previous;
}

ScopeWindow ResetTimeAxis(int32_t mode, int32_t rateIndex, int32_t acquisitionTime, double previousPeriod) {
    ScopeWindow w;
    w.trigger = mode == 2;
    w.period = ViewSamplePeriod(mode, rateIndex, previousPeriod);
    w.period = Period(w);
    w.acquisitionTime = std::clamp(acquisitionTime, 4, 20);
    w.start = 0.0;
    w.end = w.fullLength = w.acquisitionTime;
    w.readoutTime = w.acquisitionTime / 2.0;
    return w;
}

bool IsFullView(const ScopeWindow& w) {
    return w.start == 0.0 && w.end == w.acquisitionTime && w.lower == DEFAULT_LOWER &&
           w.upper == DEFAULT_UPPER;
}

ScopeWindow ResetZoom(const ScopeWindow& w) {
    ScopeWindow z = w;
    z.start = 0.0;
    z.end = z.fullLength = AcquisitionTime(w);
    z.lower = DEFAULT_LOWER;
    z.upper = DEFAULT_UPPER;
    z.readoutTime = ReadoutTimeInWindow(z);
    return z;
}

int VisibleSampleCount(const ScopeWindow& w) {
    const double visible = std::min(Span(w), std::max(0.0, Finite(w.fullLength, 0.0)));
    return std::clamp(Round(visible / Period(w)), 1, SampleBuffer::LENGTH);
}

double UnitsPerSample(const ScopeWindow& w) {
    return static_cast<double>(TIME_WIDTH) / VisibleSampleCount(w);
}

int TimeDivisionCount(long samples) {
    long m = samples < 1 ? 1 : samples;
    for (long power = 5; m > 10; power *= 5)
        m = std::max(1L, std::lround(static_cast<double>(samples) / static_cast<double>(power)));
    return static_cast<int>(m);
}

TimeDivisions TimeDivisionsOf(const ScopeWindow& w) {
    TimeDivisions d;
    const double span = Span(w);
    d.count = TimeDivisionCount(std::lround(std::min(span / Period(w), 1.0e6)));
    for (int i = 0; i <= d.count; ++i) {
        const auto at = static_cast<size_t>(i);
        d.x[at] = TIME_LEFT + Round(static_cast<double>(TIME_WIDTH) * i / d.count);
        const double part = span * i / d.count;
        d.time[at] = w.trigger ? w.end - part : w.start + part;
    }
    return d;
}

ValueDivisions ValueDivisionsOf(int lower, int upper) {
    ValueDivisions d;
    const int span = std::max(1, upper - lower);
    d.count = span / 10;
    if (d.count <= 2) d.count = std::max(1, span < 11 ? span : span / 2);
    d.step = std::max(1, span / d.count);
    for (int i = 0; i <= d.count && i < MAX_VALUE_ROWS; ++i) {
        const int v = upper - i * d.step;
        d.rows.push_back({Round(static_cast<double>(d.step) * i * VALUE_HEIGHT / span) + VALUE_TOP, v,
                          2 * v - 100, i < d.count});
    }
    return d;
}

std::string ValueLabel(int value, bool top) {
    char buf[24];
    std::snprintf(buf, sizeof buf, top ? "%3d %%" : "%3d", value);
    return buf;
}

std::string TimeLabel(double seconds) {
    return Fixed(Finite(seconds, 0.0), 3);
}

int FirstSampleIndex(const ScopeWindow& w) {
    const double t = w.trigger ? AcquisitionTime(w) - Finite(w.end, 0.0) : Finite(w.start, 0.0);
    return ClampIndex(Round(t / Period(w)));
}

int SampleX(int k, double unitsPerSample) {
    return TIME_LEFT + Round(k * unitsPerSample);
}

std::optional<int> AnalogY(int channel, double value, int lower, int upper) {
    if (std::isnan(value)) return std::nullopt;
    const double v = std::clamp(value, -VALUE_LIMIT, VALUE_LIMIT);
    const double span = std::max(1, upper - lower);
    if (channel < 2) return VALUE_BOTTOM + Round((lower - v) * VALUE_HEIGHT / span);
    return VALUE_BOTTOM + Round((2.0 * lower - 100.0 - v) * (VALUE_HEIGHT / 2) / span);
}

bool AnalogChannelShown(int channel, int32_t signal) {
    return !((channel == 2 && signal == 3) || (channel == 3 && signal == 4));
}

int CurveStride(int n, bool running) {
    return running ? std::max(1, (n + 1) / 500) : 1;
}

int BinaryStride(int n, bool running) {
    return running ? std::clamp((n + 1) / 500, 1, 10) : 1;
}

std::vector<PlotPoint> AnalogCurve(const SampleBuffer& b, int channel, const ScopeWindow& w, bool running,
                                   double columnWidth, int fromX, int toX) {
    std::vector<PlotPoint> out;
    const int n = VisibleSampleCount(w);
    const int first = FirstSampleIndex(w);
    const int last = std::min(first + n, LAST_INDEX) - first; // the window's last k
    const double ups = UnitsPerSample(w);
    const int stride = CurveStride(n, running);
    // Only the samples that reach into [fromX, toX], one more on each side so the line enters.
    int kFrom = 0, kTo = last;
    if (fromX != INT_MIN) kFrom = std::max(0, static_cast<int>((fromX - TIME_LEFT) / ups) - 1);
    if (toX != INT_MAX) kTo = std::min(last, static_cast<int>((toX - TIME_LEFT) / ups) + 2);
    kFrom -= kFrom % stride;
    if (kTo < kFrom) return out; // nothing of the curve lies in the area
    out.reserve(static_cast<size_t>(std::min(4 * TIME_WIDTH + 8, (kTo - kFrom) / stride + 2)));
    ColumnReducer columns(out, std::max(1.0, columnWidth));
    for (int k = kFrom; k <= kTo; k += stride) {
        const auto y = AnalogY(channel, b.Analog(channel, first + k), w.lower, w.upper);
        if (y) columns.Add({SampleX(k, ups), *y});
    }
    columns.Flush();
    return out;
}

std::vector<PlotPoint> BinaryTrace(const SampleBuffer& b, int channel, const ScopeWindow& w, bool running,
                                   double columnWidth) {
    std::vector<PlotPoint> out;
    const int n = VisibleSampleCount(w);
    const int first = FirstSampleIndex(w);
    const int last = std::min(first + n, LAST_INDEX) - first;
    const double ups = UnitsPerSample(w);
    const int base = STRIP_BASE[channel & 3];
    const int stride = BinaryStride(n, running);
    // Edges that share a column become one vertical line there.
    ColumnReducer columns(out, std::max(1.0, columnWidth));
    int level = b.Binary(channel, first) & 1;
    columns.Add({TIME_LEFT, base - STRIP_HIGH * level});
    for (int k = stride; k <= last; k += stride) {
        const int now = b.Binary(channel, first + k) & 1;
        if (now == level) continue;
        const int x = SampleX(k, ups);
        columns.Add({x, base - STRIP_HIGH * level});
        columns.Add({x, base - STRIP_HIGH * now});
        level = now;
    }
    columns.Add({SampleX(last, ups), base - STRIP_HIGH * level});
    columns.Flush();
    return out;
}

int ReadoutIndex(const ScopeWindow& w, double time) {
    const double t = Finite(time, 0.0);
    return ClampIndex(Round((w.trigger ? AcquisitionTime(w) - t : t) / Period(w)));
}

ReadoutValues TakeReadout(const SampleBuffer& b, const ScopeWindow& w) {
    ReadoutValues r;
    const int i = ReadoutIndex(w, w.readoutTime);
    for (int c = 0; c < 4; ++c) {
        r.analog[static_cast<size_t>(c)] = b.Analog(c, i);
        r.binary[static_cast<size_t>(c)] = b.Binary(c, i);
    }
    return r;
}

int ReadoutCursorX(const ScopeWindow& w) {
    const double t = Finite(w.readoutTime, 0.0);
    const double offset = std::min(w.trigger ? w.end - t : t - w.start, Finite(w.fullLength, 0.0));
    return TIME_LEFT + Round(Round(offset / Period(w)) * UnitsPerSample(w));
}

std::string AnalogReadoutText(int channel, int32_t signal, float value) {
    if (!AnalogChannelShown(channel, signal) || std::isnan(value)) return "--";
    return Fixed(std::clamp(static_cast<double>(value), -VALUE_LIMIT, VALUE_LIMIT), 1);
}

double SnapTime(double t, double period, double windowEnd) {
    const double time = std::clamp(Finite(t, 0.0), 0.0, 1.0e6);
    long long ms = static_cast<long long>((time + 0.0005) * 1000.0);
    const long long p =
        std::max(1LL, static_cast<long long>((Finite(period, DEFAULT_PERIOD) + 0.0005) * 1000.0));
    if (ms % p != 0) {
        if (time < windowEnd)
            ms = (ms / p + 1) * p;
        else if (time > 0.001)
            ms = (ms / p) * p;
    }
    return static_cast<double>(ms) / 1000.0;
}

double ReadoutTimeInWindow(const ScopeWindow& w) {
    const double t = w.readoutTime;
    if (std::isfinite(t) && t >= w.start && t <= w.end) return t;
    return SnapTime((w.start + w.end) / 2.0, Period(w), w.end);
}

double CursorTimeAtX(const ScopeWindow& w, double logicalX) {
    const double x =
        std::clamp(Finite(logicalX, TIME_LEFT) - TIME_LEFT, 0.0, static_cast<double>(TIME_WIDTH));
    const double offset = x * Span(w) / TIME_WIDTH;
    const double t = SnapTime(w.trigger ? w.end - offset : w.start + offset, Period(w), w.end);
    return std::clamp(t, w.start, std::max(w.start, w.end));
}

ReadoutEntry TakeReadoutEntry(const ScopeWindow& w, const std::string& typed) {
    const std::string number = typed.substr(0, typed.find_first_not_of("0123456789."));
    double parsed = 0.0; // nothing readable is 0
    std::from_chars(number.data(), number.data() + number.size(), parsed);
    const double value = std::clamp(Finite(parsed, 0.0), w.start, std::max(w.start, w.end));
    ReadoutEntry e{value, Fixed(value, 1)};
    const double snapped = SnapTime(value, Period(w), w.end);
    if (snapped != value) e = {snapped, Fixed(snapped, 3)};
    return e;
}

ScopeWindow ZoomWindow(const ScopeWindow& w, LogicalRect r) {
    ScopeWindow z = w;
    // Time, in whole milliseconds.
    const long long p = PeriodMs(w), three = 3 * p;
    const long long start = Ms(w.start), end = Ms(w.end), full = Ms(w.fullLength);
    const double perUnit = Span(w) / TIME_WIDTH * 1000.0;
    double a = (Finite(r.left, TIME_LEFT) - TIME_LEFT) * perUnit;
    double c = (Finite(r.right, TIME_LEFT) - TIME_LEFT) * perUnit;
    if (a > c) std::swap(a, c);
    // The small allowance keeps 3320.0000001 ms from rounding up a whole period.
    const long long t1 = FloorDiv(static_cast<long long>(std::floor(a + 1e-6)), p) * p;
    long long t2 = -FloorDiv(-static_cast<long long>(std::ceil(c - 1e-6)), p) * p;
    if (t2 - t1 <= three) t2 = t1 + three;
    long long s = w.trigger ? end - t2 : start + t1;
    long long e = w.trigger ? end - t1 : start + t2;
    if (s <= start || s <= 0) s = start;
    e = std::min(e, full);
    if (e >= end || e <= three) e = end;
    if (s > e) {
        if (s > three)
            s -= three;
        else if (e >= full - three)
            s = 0, e = full;
        else
            e += three;
    }
    if (e - s <= three) e = s + three;
    z.start = static_cast<double>(s) / 1000.0;
    z.end = static_cast<double>(e) / 1000.0;

    // Value: percent of the current range per logical unit above y 600.
    const double perPercent = (w.upper - w.lower) * 0.002;
    const double top = (VALUE_BOTTOM - std::min(Finite(r.top, 0), Finite(r.bottom, 0))) * perPercent;
    const double bottom = (VALUE_BOTTOM - std::max(Finite(r.top, 0), Finite(r.bottom, 0))) * perPercent;
    if (top - bottom > 5.0) {
        z.lower = static_cast<int>(w.lower + bottom);
        z.upper = static_cast<int>(w.lower + top);
    }
    // An empty range would leave nothing to divide by: it is widened like an inverted one.
    if (z.upper <= z.lower) {
        if (z.lower >= -5)
            z.lower -= 5;
        else if (z.upper > 94)
            z.lower = DEFAULT_LOWER, z.upper = DEFAULT_UPPER;
        else
            z.upper += 5;
    }
    z.readoutTime = ReadoutTimeInWindow(z);
    return z;
}

int MarkerPosition(int64_t count, double period, double acquisitionTime) {
    const double p = Finite(period, DEFAULT_PERIOD) > 0 ? period : DEFAULT_PERIOD;
    const double t = Finite(acquisitionTime, 0.0) > 0 ? acquisitionTime : 8.0;
    return std::clamp(Round(static_cast<double>(count) * p * TIME_WIDTH / t), 0, TIME_WIDTH);
}

MarkerRepaint MarkerRepaintAreas(int previous, int now) {
    MarkerRepaint r{};
    // Ordered, so a move backwards repaints what it swept too.
    const double left = std::min(previous, now) + (now < previous ? 420.0 : 423.0);
    const double right = std::max(previous, now) + 442.0;
    r.strip = {left, 95.0, right, 935.0};
    if (now < previous) r.oldPlace = LogicalRect{1120.0, 100.0, 1150.0, 935.0};
    return r;
}

std::optional<ClientScale> ClientScaleOf(int clientWidth, int clientHeight) {
    if (clientWidth <= 0 || clientHeight <= 0) return std::nullopt;
    return ClientScale{static_cast<double>(clientWidth) / std::max(clientWidth, LOGICAL_WIDTH),
                       static_cast<double>(clientHeight) / std::max(clientHeight, LOGICAL_HEIGHT)};
}
