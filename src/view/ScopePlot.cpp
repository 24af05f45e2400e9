#include "view/ScopePlot.h"

#include <QPainter>
#include <QPolygon>
#include <QTransform>
#include <cmath>
#include <vector>

using namespace scope_layout;

namespace {
// The channels' colours on the screen: cyan, green, red, blue.
const QColor CHANNEL_COLOURS[4] = {QColor(0, 255, 255), QColor(0, 255, 0), QColor(255, 0, 0),
                                   QColor(0, 0, 255)};
// The channels' line styles on paper.
constexpr Qt::PenStyle PRINT_STYLES[4] = {Qt::SolidLine, Qt::DotLine, Qt::DashLine, Qt::DashDotLine};
const QColor BINARY_COLOUR(255, 0, 0);
const QColor MARKER_COLOUR(255, 255, 0);
const QColor FIELD_GREY(192, 192, 192);

// Fixed elements of the plot, in logical units.
constexpr QRect GRAPH_PANEL(QPoint(300, 30), QPoint(1230, 910));
constexpr int AXIS_LEFT_X = 400, AXIS_RIGHT_X = 1230, AXIS_TOP = 82, AXIS_BOTTOM = 606;
constexpr int BASE_LEFT = 395, BASE_RIGHT = 1130;
struct LegendPlace {
    int left, right, y;
};
constexpr LegendPlace LEGEND[4] = {{400, 630, 23}, {400, 630, 58}, {990, 1220, 23}, {990, 1220, 58}};
constexpr int LEFT_LABELS = 330, RIGHT_LABELS = 1160, LABEL_WIDTH = 50;
constexpr int STRIP_LABEL_LEFT = 210, STRIP_LABEL_RIGHT = 390;
constexpr int TIME_LABEL_Y = 864, TIME_LABEL_WIDTH = 60;
constexpr QRect TIME_UNIT(QPoint(1180, 848), QPoint(1230, 848 + 30));
constexpr int CURSOR_TOP = 100, HANDLE_TIP = 885, HANDLE_BASE = 910, HANDLE_HALF = 8;
constexpr int STEP_MARK_HALF = 12, STEP_MARK_WIDTH = 2;
constexpr int MARKER_LEFT = 425, MARKER_RIGHT = 440, MARKER_TOP = 100, MARKER_BOTTOM = 860;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QPen Pen(const QColor& c, qreal width, Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(c, width, style);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

// What a partial repaint needs: whether a logical rectangle reaches into the exposed area.
class Exposure {
public:
    explicit Exposure(const std::optional<LogicalRect>& r) : r_(r) {}
    bool Shows(double left, double top, double right, double bottom) const {
        return !r_ || (right >= r_->left && left <= r_->right && bottom >= r_->top && top <= r_->bottom);
    }
    int FromX() const { return r_ ? static_cast<int>(r_->left) - 2 : INT_MIN; }
    int ToX() const { return r_ ? static_cast<int>(r_->right) + 2 : INT_MAX; }

private:
    std::optional<LogicalRect> r_;
};

void Text(QPainter& p, const Exposure& ex, const QRectF& r, int flags, const std::string& text) {
    if (!ex.Shows(r.left(), r.top(), r.right(), r.bottom())) return;
    p.drawText(r, flags | Qt::TextDontClip | Qt::TextSingleLine, Q(text));
}

// A solid pen wider than a pixel is drawn as one-pixel polylines side by side, shifted by whole
// device pixels across x and y: the same line to the eye, at a tenth of the cost of stroking
// thousands of short segments (which made a full repaint take 100 ms instead of 3).
void Polyline(QPainter& p, const std::vector<PlotPoint>& points, const QPen& pen) {
    if (points.size() < 2) return;
    QPolygon poly(static_cast<int>(points.size()));
    for (size_t i = 0; i < points.size(); ++i)
        poly.setPoint(static_cast<int>(i), points[i].x, points[i].y);
    const QTransform& t = p.transform();
    const double sx = std::abs(t.m11()), sy = std::abs(t.m22());
    const int n = static_cast<int>(std::lround(pen.widthF() * std::min(sx, sy)));
    if (n <= 1 || pen.style() != Qt::SolidLine || sx <= 0 || sy <= 0 || t.isRotating()) {
        p.setPen(pen);
        p.drawPolyline(poly);
        return;
    }
    QPen thin(pen.color(), 0);
    p.setPen(thin);
    for (int k = 0; k < n; ++k) {
        const double o = k - (n - 1) / 2.0;
        p.save();
        p.translate(o / sx, 0);
        p.drawPolyline(poly);
        p.restore();
        if (o == 0) continue;
        p.save();
        p.translate(0, o / sy);
        p.drawPolyline(poly);
        p.restore();
    }
}

void DrawLegend(QPainter& p, const Exposure& ex, const PlotInput& in, const PlotStyle& st) {
    for (int c = 0; c < 4; ++c) {
        const LegendPlace& at = LEGEND[c];
        const double top = at.y - st.rowHeight / 3.0;
        double left = at.left;
        if (st.legendLines) {
            p.setPen(st.curves[static_cast<size_t>(c)]);
            p.drawLine(QPointF(left, at.y + st.rowHeight / 6.0),
                       QPointF(left + 40, at.y + st.rowHeight / 6.0));
            left += 50;
        }
        p.setPen(st.legendColour[static_cast<size_t>(c)]);
        Text(p, ex, QRectF(left, top, at.right - left, st.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
             "Ch" + std::to_string(c + 1) + ": " + in.analogNames[static_cast<size_t>(c)]);
    }
}

void DrawAnalogAxes(QPainter& p, const Exposure& ex, const PlotInput& in, const PlotStyle& st,
                    const TimeDivisions& td) {
    p.setPen(st.axis);
    p.drawLine(AXIS_LEFT_X, AXIS_TOP, AXIS_LEFT_X, AXIS_BOTTOM);
    p.drawLine(AXIS_RIGHT_X, AXIS_TOP, AXIS_RIGHT_X, AXIS_BOTTOM);
    p.drawLine(BASE_LEFT, VALUE_BOTTOM, BASE_RIGHT, VALUE_BOTTOM);
    for (int i = 0; i <= td.count; ++i) {
        const int x = td.x[static_cast<size_t>(i)];
        p.setPen(st.line);
        p.drawLine(x, VALUE_BOTTOM, x, AXIS_BOTTOM);
        if (in.grid) {
            p.setPen(st.grid);
            p.drawLine(x, AXIS_TOP, x, AXIS_BOTTOM);
        }
    }
    const ValueDivisions vd = ValueDivisionsOf(in.window.lower, in.window.upper);
    const double h = st.rowHeight;
    for (size_t i = 0; i < vd.rows.size(); ++i) {
        const ValueRow& row = vd.rows[i];
        p.setPen(st.line);
        if (row.tick) {
            p.drawLine(BASE_LEFT, row.y, AXIS_LEFT_X, row.y);
            p.drawLine(AXIS_RIGHT_X - 5, row.y, AXIS_RIGHT_X, row.y);
        }
        Text(p, ex, QRectF(LEFT_LABELS, row.y - h / 2, LABEL_WIDTH, h), Qt::AlignRight | Qt::AlignVCenter,
             ValueLabel(row.left, i == 0));
        Text(p, ex, QRectF(RIGHT_LABELS, row.y - h / 2, LABEL_WIDTH, h), Qt::AlignRight | Qt::AlignVCenter,
             ValueLabel(row.right, i == 0));
        if (in.grid) {
            p.setPen(st.grid);
            p.drawLine(AXIS_LEFT_X, row.y, BASE_RIGHT, row.y);
        }
    }
    DrawLegend(p, ex, in, st);
}

void DrawBinaryStrips(QPainter& p, const Exposure& ex, const PlotInput& in, const PlotStyle& st,
                      const TimeDivisions& td) {
    const double h = st.rowHeight;
    for (int j = 0; j < 4; ++j) {
        const int b = STRIP_BASE[j], high = b - STRIP_HIGH;
        p.setPen(st.axis);
        p.drawLine(AXIS_LEFT_X, b + 1, AXIS_LEFT_X, b - 31);
        p.setPen(st.line);
        p.drawLine(BASE_LEFT, b, BASE_RIGHT, b);
        p.drawLine(BASE_LEFT, high, AXIS_LEFT_X, high);
        p.drawLine(TIME_LEFT, b, TIME_LEFT, b + 3);
        p.drawLine(BASE_RIGHT, b, BASE_RIGHT, b + 3);
        for (int i = 0; i <= td.count; ++i) {
            const int x = td.x[static_cast<size_t>(i)];
            p.setPen(st.line);
            p.drawLine(x, b, x, b + 3);
            if (in.grid) {
                p.setPen(st.grid);
                p.drawLine(x, b, x, high);
            }
        }
        p.setPen(st.binaryLabel);
        Text(p, ex, QRectF(STRIP_LABEL_LEFT, high - h / 2, STRIP_LABEL_RIGHT - STRIP_LABEL_LEFT, h),
             Qt::AlignLeft | Qt::AlignVCenter,
             "Ch" + std::to_string(j + 1) + ": " + in.binaryNames[static_cast<size_t>(j)]);
    }
    p.setPen(st.line);
    for (int i = 0; i <= td.count; ++i)
        Text(p, ex, QRectF(td.x[static_cast<size_t>(i)], TIME_LABEL_Y, TIME_LABEL_WIDTH, h),
             Qt::AlignLeft | Qt::AlignTop, TimeLabel(td.time[static_cast<size_t>(i)]));
    Text(p, ex, QRectF(TIME_UNIT.left(), TIME_UNIT.top(), TIME_UNIT.width(), h), Qt::AlignLeft | Qt::AlignTop,
         in.timeUnit);
}

void DrawCursor(QPainter& p, const PlotInput& in, const PlotStyle& st) {
    const int x = ReadoutCursorX(in.window);
    p.setPen(st.line);
    p.drawLine(x, CURSOR_TOP, x, HANDLE_TIP);
    const QPoint handle[3] = {
        {x, HANDLE_TIP}, {x - HANDLE_HALF, HANDLE_BASE}, {x + HANDLE_HALF, HANDLE_BASE}};
    p.setBrush(st.line.color());
    p.drawPolygon(handle, 3);
    p.setBrush(Qt::NoBrush);
}

// A short upright stroke across the flow curve at each mark the window shows.
void DrawStepMarks(QPainter& p, const PlotInput& in, const PlotStyle& st) {
    if (!in.analogShown[1]) return;
    p.setPen(Pen(st.line.color(), STEP_MARK_WIDTH));
    for (const StepMark& m : in.stepMarks) {
        const double x = StepMarkX(in.window, m.sample);
        const std::optional<int> y = AnalogY(1, m.value, in.window.lower, in.window.upper);
        if (y && x >= TIME_LEFT && x <= TIME_LEFT + TIME_WIDTH)
            p.drawLine(QPointF(x, *y - STEP_MARK_HALF), QPointF(x, *y + STEP_MARK_HALF));
    }
}
} // namespace

PlotStyle ScreenPlotStyle(int screenClass, bool running) {
    PlotStyle st;
    for (size_t c = 0; c < 4; ++c) {
        st.curves[c] = Pen(CHANNEL_COLOURS[c], 2);
        st.legendColour[c] = CHANNEL_COLOURS[c];
    }
    st.binary = Pen(BINARY_COLOUR, running ? 1 : 3);
    st.binaryLabel = BINARY_COLOUR;
    st.axis = Pen(Qt::black, 2);
    st.line = Pen(Qt::black, 0);
    st.grid = Pen(Qt::black, 0, Qt::DotLine);
    st.marker = MARKER_COLOUR;
    st.fieldBackground = FIELD_GREY;
    const bool small = screenClass == 800;
    st.rowHeight = small ? 40 : 30;
    st.font.setStyleHint(QFont::SansSerif);
    st.font.setPixelSize(small ? 12 : 16);
    st.font.setWeight(small ? QFont::Medium : QFont::Bold);
    return st;
}

PlotStyle PrintPlotStyle() {
    PlotStyle st;
    for (size_t c = 0; c < 4; ++c) {
        st.curves[c] = Pen(Qt::black, 0, PRINT_STYLES[c]);
        st.legendColour[c] = Qt::black;
    }
    st.legendLines = true;
    st.binary = Pen(Qt::black, 0);
    st.binaryLabel = Qt::black;
    st.axis = Pen(Qt::black, 2);
    st.line = Pen(Qt::black, 0);
    st.grid = Pen(Qt::black, 0, Qt::DashDotDotLine);
    st.marker = Qt::transparent;
    st.fieldBackground = Qt::white;
    st.rowHeight = 30;
    st.font.setStyleHint(QFont::SansSerif);
    st.font.setPixelSize(16);
    st.font.setWeight(QFont::Medium);
    // No ligatures: a PDF's text must read back as typed ("Shut Off", not a glyph for "ff").
    st.font.setStyleStrategy(QFont::PreferNoShaping);
    return st;
}

QTransform LogicalToTarget(const QRectF& target) {
    QTransform t;
    t.translate(target.left(), target.top());
    t.scale(target.width() / LOGICAL_WIDTH, target.height() / LOGICAL_HEIGHT);
    return t;
}

void PaintScopePlot(QPainter& p, const QRectF& target, const PlotInput& in, const PlotStyle& st) {
    if (target.width() <= 0 || target.height() <= 0) return;
    p.save();
    p.setTransform(LogicalToTarget(target), true);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(st.font);
    const Exposure ex(in.exposed);
    p.fillRect(QRect(0, 0, LOGICAL_WIDTH, LOGICAL_HEIGHT), Qt::white);
    p.setPen(st.line);
    p.drawRect(GRAPH_PANEL);

    const TimeDivisions td = TimeDivisionsOf(in.window);
    DrawAnalogAxes(p, ex, in, st, td);
    DrawBinaryStrips(p, ex, in, st, td);
    // One logical column per device pixel, so a curve of 5000 samples costs its width.
    const double columnWidth = std::max(1.0, LOGICAL_WIDTH / target.width());
    if (in.samples) {
        for (int j = 0; j < 4; ++j)
            Polyline(p, BinaryTrace(*in.samples, j, in.window, in.running, columnWidth), st.binary);
    }
    if (in.cursor) DrawCursor(p, in, st);
    if (in.marker >= 0)
        p.fillRect(QRect(QPoint(in.marker + MARKER_LEFT, MARKER_TOP),
                         QPoint(in.marker + MARKER_RIGHT, MARKER_BOTTOM)),
                   st.marker);

    if (in.samples) {
        p.setClipRect(QRect(QPoint(CURVE_LEFT, CURVE_TOP), QPoint(CURVE_RIGHT, CURVE_BOTTOM)),
                      Qt::IntersectClip);
        for (int c = 3; c >= 0; --c) {
            if (!in.analogShown[static_cast<size_t>(c)]) continue;
            Polyline(p, AnalogCurve(*in.samples, c, in.window, in.running, columnWidth, ex.FromX(), ex.ToX()),
                     st.curves[static_cast<size_t>(c)]);
        }
        DrawStepMarks(p, in, st);
    }
    p.restore();
}

PanelLayout ReadoutPanelLayout(int rowHeight) {
    PanelLayout l;
    const double h = rowHeight;
    for (size_t i = 0; i < 4; ++i) {
        const double step = 100.0 * static_cast<double>(i);
        l.analogLabel[i] = QRectF(20, 50 + step, 230, h);
        l.analogValue[i] = QRectF(80, 85 + step, 120, h);
        l.binaryValue[i] = QRectF(80, 650 + 60.0 * static_cast<double>(i), 120, h);
    }
    l.timeLabel = QRectF(20, 500, 230, h);
    l.timeValue = QRectF(80, 535, 120, h);
    l.zoomBack = QRectF(20, 890, 200, 60);
    return l;
}

namespace {
void Field(QPainter& p, const QRectF& r, const std::string& text, const PlotStyle& st) {
    p.fillRect(r, st.fieldBackground);
    p.setPen(st.line);
    p.drawRect(r);
    p.drawText(r.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, Q(text));
}

void ReadoutTimeLocal(QPainter& p, const PanelLayout& l, const std::string& label, const std::string& value,
                      const PlotStyle& st) {
    p.setPen(st.line);
    p.drawText(l.timeLabel, Qt::AlignLeft | Qt::AlignVCenter, Q(label));
    Field(p, l.timeValue, value, st);
}
} // namespace

void PaintReadoutPanel(QPainter& p, const QRectF& target, const ReadoutPanelInput& in, const PlotStyle& st) {
    if (target.width() <= 0 || target.height() <= 0) return;
    p.save();
    p.setTransform(LogicalToTarget(target), true);
    p.setFont(st.font);
    const PanelLayout l = ReadoutPanelLayout(st.rowHeight);
    for (size_t i = 0; i < 4; ++i) {
        p.setPen(st.legendColour[i]);
        p.drawText(l.analogLabel[i], Qt::AlignLeft | Qt::AlignVCenter, Q(in.analogLabels[i]));
        Field(p, l.analogValue[i], in.analogValues[i], st);
        Field(p, l.binaryValue[i], in.binaryValues[i], st);
    }
    ReadoutTimeLocal(p, l, in.timeLabel, in.timeValue, st);
    p.restore();
}

void PaintReadoutTime(QPainter& p, const QRectF& target, const std::string& label, const std::string& value,
                      const PlotStyle& st) {
    if (target.width() <= 0 || target.height() <= 0) return;
    p.save();
    p.setTransform(LogicalToTarget(target), true);
    p.setFont(st.font);
    ReadoutTimeLocal(p, ReadoutPanelLayout(st.rowHeight), label, value, st);
    p.restore();
}
