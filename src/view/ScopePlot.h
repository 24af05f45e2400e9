#pragma once
#include <QColor>
#include <QFont>
#include <QPen>
#include <QRectF>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "scope/ScopeMath.h"
#include "scope/StepTable.h"

class QPainter;

// The scope plot drawn onto any QPainter: the screen view, the exported picture and the printed
// page all draw the same plot from the arithmetic of ScopeMath.h. The plot's logical space of
// 1280 x 960 units is scaled, independently in x and y, onto the target rectangle.

// How the plot is drawn: the screen tells the channels apart by colour, a printed page by line
// style. Widths are in logical units (0: one device pixel).
struct PlotStyle {
    std::array<QPen, 4> curves;         // analog channels 1..4
    std::array<QColor, 4> legendColour; // the legend's and the readout labels' text
    bool legendLines = false;           // a short line in the channel's pen before each legend entry
    QPen binary;                        // the binary traces
    QColor binaryLabel;
    QPen axis; // axis lines
    QPen line; // ticks, baselines, the cursor, the panel frame
    QPen grid; // grid lines
    QColor marker;
    QColor fieldBackground; // the readout panel's value fields
    QFont font;             // pixel size in logical units
    int rowHeight = 30;     // the height of a label or a field, logical units
};

// The screen's look: 800 or 1024 screen class; thin binary traces while recording.
PlotStyle ScreenPlotStyle(int screenClass, bool running);
// A printed page's: black 1-pixel pens, channel 1 solid, 2 dotted, 3 dashed, 4 dash-dot; the grid
// in strokes each followed by two dots.
PlotStyle PrintPlotStyle();

struct PlotInput {
    const SampleBuffer* samples = nullptr; // nothing: axes only
    ScopeWindow window;
    std::array<std::string, 4> analogNames; // signal names (UTF-8)
    std::array<std::string, 4> binaryNames;
    std::array<bool, 4> analogShown{true, true, true, true}; // false for a channel showing "none"
    bool grid = false;
    bool running = false; // an acquisition runs: curves decimated
    bool cursor = true;   // the readout cursor and its handle
    int marker = -1;      // the acquisition marker's position 0..700, -1 for none
    std::string timeUnit = "t/s";
    // Short marks on the flow curve at the steps' dead time, T63, T86 and settling point.
    std::vector<StepMark> stepMarks;
    // The logical area that needs painting (a partial repaint); curves outside it are not built.
    std::optional<LogicalRect> exposed;
};

// The mapping of the logical space onto `target`.
QTransform LogicalToTarget(const QRectF& target);

// Fills the target white and draws the graph panel, axes, divisions and labels, grid, legend,
// binary strips and traces, the readout cursor, the marker, and last the analog curves clipped to
// the curve area, in the order channel 4, 3, 2, 1.
void PaintScopePlot(QPainter& p, const QRectF& target, const PlotInput& in, const PlotStyle& style);

// The readout panel as a picture (the screen view uses real fields for it): the four analog
// labels "Ch1: ..." with their values, the four binary values, the readout time.
struct ReadoutPanelInput {
    std::array<std::string, 4> analogLabels; // "Ch1: Setpoint"
    std::array<std::string, 4> analogValues; // "50.0", "--"
    std::array<std::string, 4> binaryValues; // "1"
    std::string timeLabel;                   // "Readout Time"
    std::string timeValue;                   // "4.000"
};
void PaintReadoutPanel(QPainter& p, const QRectF& target, const ReadoutPanelInput& in,
                       const PlotStyle& style);
// Of the panel only the readout time: its label, and its value in a field (the printed page).
void PaintReadoutTime(QPainter& p, const QRectF& target, const std::string& label, const std::string& value,
                      const PlotStyle& style);

// Where the readout panel's controls stand, in logical units, for a row height.
struct PanelLayout {
    std::array<QRectF, 4> analogLabel, analogValue, binaryValue;
    QRectF timeLabel, timeValue, zoomBack;
};
PanelLayout ReadoutPanelLayout(int rowHeight);
