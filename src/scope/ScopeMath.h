#pragma once
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scope/SampleBuffer.h"

// The arithmetic of the scope plot, away from any widget: where the time and value divisions
// stand and what they read, which samples are drawn where, the readout, snapping and zooming.
// Everything is in the plot's logical space of 1280 x 960 units (x to the right, y down); the
// screen view and the printed page map that space onto their own surfaces and draw what these
// functions return. Every function is pure, and each takes any input without harm: a period or a
// time of 0, NaN or infinity is replaced by a usable value, and no index leaves the buffer.

namespace scope_layout {
constexpr int LOGICAL_WIDTH = 1280;
constexpr int LOGICAL_HEIGHT = 960;
// The time axis: origin and width of the plot.
constexpr int TIME_LEFT = 430;
constexpr int TIME_WIDTH = 700;
// The analog value axis: the lower limit at y 600, the upper limit at y 100.
constexpr int VALUE_BOTTOM = 600;
constexpr int VALUE_TOP = 100;
constexpr int VALUE_HEIGHT = 500;
// Where the analog curves are drawn (the clip) and where a zoom drag may start.
constexpr int CURVE_LEFT = 398, CURVE_TOP = 98, CURVE_RIGHT = 1132, CURVE_BOTTOM = 602;
constexpr int ZOOM_LEFT = 428;
// The binary strips: baselines, and the high level above each.
constexpr int STRIP_BASE[4] = {680, 740, 800, 860};
constexpr int STRIP_HIGH = 30;
// The default value range of channels 1 and 2 (percent).
constexpr int DEFAULT_LOWER = -11;
constexpr int DEFAULT_UPPER = 100;
constexpr int LAST_INDEX = SampleBuffer::LENGTH - 1;
constexpr double DEFAULT_PERIOD = 0.004;
} // namespace scope_layout

// What the plot shows of a recording: the visible time window, the value range and the readout
// time, with what they depend on.
struct ScopeWindow {
    double start = 0.0;           // seconds
    double end = 8.0;             // seconds
    double fullLength = 8.0;      // the acquisition time at the last time-axis reset
    double acquisitionTime = 8.0; // the set-up's; trigger-mode times count back from it
    double period = scope_layout::DEFAULT_PERIOD;
    bool trigger = false; // roll/trigger mode: time runs from the window end on the left
    int lower = scope_layout::DEFAULT_LOWER;
    int upper = scope_layout::DEFAULT_UPPER;
    double readoutTime = 4.0;
};

// The period the view uses: in trigger mode (2) the set-up's rate (an unknown index keeps
// `previous`), in step and ramp mode always 4 ms.
double ViewSamplePeriod(int32_t mode, int32_t rateIndex, double previous);

// A new recording (or project): the whole acquisition time, the default range, the readout in
// the middle.
ScopeWindow ResetTimeAxis(int32_t mode, int32_t rateIndex, int32_t acquisitionTime, double previousPeriod);
// Back to the full view; the readout time stays where it is as far as the window allows.
ScopeWindow ResetZoom(const ScopeWindow& w);
bool IsFullView(const ScopeWindow& w);

// Samples in the window (at least 1), and logical units per sample (700 / n).
int VisibleSampleCount(const ScopeWindow& w);
double UnitsPerSample(const ScopeWindow& w);

// The time divisions shared by the analog axis and the binary strips: `count` equal parts of
// the plot's width, ticks at x[0..count], each with the time its label shows.
struct TimeDivisions {
    int count = 1;
    std::array<int, 11> x{};
    std::array<double, 11> time{};
};
// How many divisions a window of `samples` samples gets (at most 10: 2000 gives 3).
int TimeDivisionCount(long samples);
TimeDivisions TimeDivisionsOf(const ScopeWindow& w);

// The value divisions: rows from the top (i = 0) down; `left` is the reading of channels 1 and 2
// and `right` that of channels 3 and 4; a tick stands at every row but the last.
struct ValueRow {
    int y;
    int left;
    int right;
    bool tick;
};
struct ValueDivisions {
    int count = 1;
    int step = 1;
    std::vector<ValueRow> rows; // at most 25
};
ValueDivisions ValueDivisionsOf(int lower, int upper);
// "100 %" for the top row, "-10" below (printf "%3d %%" and "%3d").
std::string ValueLabel(int value, bool top);
// A time label and the readout time: "%3.3f".
std::string TimeLabel(double seconds);

// The buffer index drawn at the left edge of the window, 0..5099.
int FirstSampleIndex(const ScopeWindow& w);
// x of the k-th sample of the window.
int SampleX(int k, double unitsPerSample);
// y of a value of analog channel 0..3 (channels 0 and 1 on the left scale, 2 and 3 on the right);
// nothing for NaN, and an infinite or huge value stays far outside the plot.
std::optional<int> AnalogY(int channel, double value, int lower, int upper);
// Whether an analog channel shows a signal: channel 3's signal 3 and channel 4's signal 4 are "none".
bool AnalogChannelShown(int channel, int32_t signal);

struct PlotPoint {
    int x;
    int y;
};
// Every how many samples a curve takes: every one, or about 500 per curve while recording.
int CurveStride(int n, bool running);
// ... and a binary trace: every one, or 1..10 while recording.
int BinaryStride(int n, bool running);
// The polyline of analog channel 0..3 over the window. Samples that share a column of
// `columnWidth` logical units (a device pixel) are reduced to their first, lowest, highest and
// last point, which draws the same line; only samples with x in [fromX, toX] (and one on each
// side) are taken, for a partial repaint. NaN samples are left out.
std::vector<PlotPoint> AnalogCurve(const SampleBuffer& b, int channel, const ScopeWindow& w, bool running,
                                   double columnWidth = 1.0, int fromX = INT_MIN, int toX = INT_MAX);
// The step trace of binary channel 0..3 over the window (level: bit 0 of the sample); edges that
// share a column are reduced as in AnalogCurve.
std::vector<PlotPoint> BinaryTrace(const SampleBuffer& b, int channel, const ScopeWindow& w, bool running,
                                   double columnWidth = 1.0);

// The readout: the buffer index of a time, the eight values there, the cursor's x.
int ReadoutIndex(const ScopeWindow& w, double time);
struct ReadoutValues {
    std::array<float, 4> analog{};
    std::array<int32_t, 4> binary{};
};
ReadoutValues TakeReadout(const SampleBuffer& b, const ScopeWindow& w);
int ReadoutCursorX(const ScopeWindow& w);
// The value field of analog channel 0..3: "%1.1f", or "--" for a channel showing "none" (and for
// a NaN from a damaged file).
std::string AnalogReadoutText(int channel, int32_t signal, float value);

// A time on the sample grid, in whole milliseconds: up to the next multiple of the period while
// below the window end, else down.
double SnapTime(double t, double period, double windowEnd);
// The readout time kept inside the window (the middle, snapped, when it has left it).
double ReadoutTimeInWindow(const ScopeWindow& w);
// Dragging the cursor handle to logical x: the snapped time there, within the window.
double CursorTimeAtX(const ScopeWindow& w, double logicalX);
// The readout time typed into its field: digits and dots up to the first other character,
// limited to the window and snapped; `text` is what the field shows afterwards.
struct ReadoutEntry {
    double time;
    std::string text;
};
ReadoutEntry TakeReadoutEntry(const ScopeWindow& w, const std::string& typed);

// A rectangle in logical units.
struct LogicalRect {
    double left, top, right, bottom;
};
// The rubber-band zoom: the new window and value range for a rectangle drawn over the curves.
// A band not more than 5 % high changes only the time; the window is never narrower than three
// periods.
ScopeWindow ZoomWindow(const ScopeWindow& w, LogicalRect r);

// The acquisition marker after `count` samples: 0..700.
int MarkerPosition(int64_t count, double period, double acquisitionTime);
// The areas a moving marker repaints: the strip it swept, and after a move backwards the place
// at the right end where the old marker stood.
struct MarkerRepaint {
    LogicalRect strip;
    std::optional<LogicalRect> oldPlace;
};
MarkerRepaint MarkerRepaintAreas(int previous, int now);

// The client's mapping: a client smaller than the logical space shows it squeezed, a larger one
// at one unit per pixel. Nothing for a client of zero width or height.
struct ClientScale {
    double sx, sy; // device pixels per logical unit, at most 1
};
std::optional<ClientScale> ClientScaleOf(int clientWidth, int clientHeight);
