#include "view/ChildView.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "engine/QlnState.h"
#include "scope/Acquisition.h"
#include "scope/ScopeSignalNames.h"
#include "scope/StepTable.h"
#include "view/StepFiguresTable.h"

using namespace scope_layout;

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int CHANNEL_RGB[4][3] = {{0, 255, 255}, {0, 255, 0}, {255, 0, 0}, {0, 0, 255}};
// The curve area where a zoom drag starts, and the plot area a moved cursor repaints.
constexpr LogicalRect ZOOM_AREA{ZOOM_LEFT, CURVE_TOP, CURVE_RIGHT, CURVE_BOTTOM};
constexpr LogicalRect CURSOR_AREA{395, 95, 1235, 925};
// The handle of the readout cursor, and how far beside it a click still takes it.
// The step figures' table: the right part of the curve area's top, rows a little lower than the panel's.
constexpr double STEP_TABLE_LEFT = 720, STEP_TABLE_RIGHT = 1128, STEP_TABLE_TOP = 102, STEP_TABLE_ROWS = 8;
constexpr double HANDLE_HALF = 8, HANDLE_TOP = 860, HANDLE_BOTTOM = 910, HANDLE_SLACK = 10;

bool Inside(QPointF p, const LogicalRect& r) {
    return p.x() >= r.left && p.x() <= r.right && p.y() >= r.top && p.y() <= r.bottom;
}

// Only a changed text is set: a paint refreshes the panel, and setting a text repaints its control.
template <class W> void SetText(W* w, const QString& text) {
    if (w->text() != text) w->setText(text);
}

template <class W> void SetName(W* w, const QString& name) {
    if (w->accessibleName() != name) w->setAccessibleName(name);
}

bool SameWindow(const ScopeWindow& a, const ScopeWindow& b) {
    return a.start == b.start && a.end == b.end && a.fullLength == b.fullLength &&
           a.acquisitionTime == b.acquisitionTime && a.period == b.period && a.trigger == b.trigger &&
           a.lower == b.lower && a.upper == b.upper && a.readoutTime == b.readoutTime;
}

// Whether two plots give the same picture of the same samples. The marker is left out: while
// recording, it moves with the samples, and both are rendered again in the strip it swept.
bool SamePicture(const PlotInput& a, const PlotInput& b) {
    return a.samples == b.samples && SameWindow(a.window, b.window) && a.analogNames == b.analogNames &&
           a.binaryNames == b.binaryNames && a.analogShown == b.analogShown && a.grid == b.grid &&
           a.running == b.running && a.cursor == b.cursor && a.timeUnit == b.timeUnit;
}

QLineEdit* Field(QWidget* parent, const char* name) {
    auto* f = new QLineEdit(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setReadOnly(true);
    f->setFocusPolicy(Qt::NoFocus);
    f->setStyleSheet(QStringLiteral("QLineEdit { background: rgb(192, 192, 192); color: black; }"));
    return f;
}
} // namespace

CChildView::CChildView(QWidget* parent) : QWidget(parent) {
    // Everything is painted in one pass over an opaque background; no erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    CreateControls();
}

void CChildView::Attach(QlnState* s) {
    s_ = s;
    ScopeSetup setup = CopyScopeSetup(*s_);
    setup.AcquisitionTime = 8;
    StoreScopeSetup(*s_, setup);
    ResetTimeAxis();
}

// ---- state --------------------------------------------------------------------------------------

bool CChildView::Acquiring() const {
    return s_ && (s_->THREAD_CMD.load() & ACQUISITION_BITS) != 0;
}

// The set-up can change between two paints (a project opened, the dialog's OK): the window keeps
// the time axis of its last reset, and takes the set-up's acquisition time for trigger-mode times.
void CChildView::SyncWithSetup() {
    if (!s_) return;
    const ScopeSetup setup = CheckedForRecording(CopyScopeSetup(*s_));
    mode_ = setup.Mode;
    w_.acquisitionTime = setup.AcquisitionTime;
    w_.trigger = setup.Mode == 2;
}

void CChildView::ResetTimeAxis() {
    if (!s_) return;
    const ScopeSetup setup = CheckedForRecording(CopyScopeSetup(*s_));
    mode_ = setup.Mode;
    w_ = ::ResetTimeAxis(setup.Mode, setup.SampleRateIndex, setup.AcquisitionTime, w_.period);
    AnalyzeSteps();
    TakeReadoutValues();
    InvalidatePlot();
}

void CChildView::ResetForAcquisition(bool roll) {
    ResetTimeAxis();
    markerSample_ = 0;
    previousMarker_ = 0;
    marker_ = roll ? TIME_WIDTH : 0;
    if (roll) w_.readoutTime = 0.0;
    steps_ = {};
    setCursor(Qt::ArrowCursor);
    TakeReadoutValues();
    InvalidatePlot();
}

void CChildView::ResetZoom() {
    SyncWithSetup();
    if (IsFullView(w_)) return;
    w_ = ::ResetZoom(w_);
    TakeReadoutValues();
    update();
}

void CChildView::AfterScopeSetup(bool changed) {
    if (!s_) return;
    const ScopeSetup setup = CheckedForRecording(CopyScopeSetup(*s_));
    SyncWithSetup();
    if (changed) w_ = ::ResetZoom(w_);
    w_.period = ViewSamplePeriod(setup.Mode, setup.SampleRateIndex, w_.period);
    AnalyzeSteps();
    TakeReadoutValues();
    InvalidatePlot();
}

void CChildView::SetScreenClass(int screenClass) {
    screenClass_ = screenClass;
    PlaceControls();
    InvalidatePlot();
}

void CChildView::ToggleGrid() {
    grid_ = !grid_;
    update();
}

void CChildView::ShowStepFigures(bool on) {
    stepFigures_ = on;
    AnalyzeSteps();
    RefreshStepTable();
    InvalidatePlot();
}

void CChildView::AnalyzeSteps() {
    steps_ = {};
    if (!s_ || !stepFigures_) return;
    const ScopeSetup setup = CopyScopeSetup(*s_);
    const RecordedRange range =
        RecordedRangeOf(setup.Mode == 2, s_->FillIndex.load(), s_->SamplesReceived.load());
    steps_ = StepsOfRecording(s_->samples, setup, range);
    stepsFirst_ = range.first;
}

void CChildView::RefreshStepTable() {
    if (!s_) return;
    const int readout = ReadoutIndex(w_, w_.readoutTime) - stepsFirst_;
    stepTable_->Show(steps_, StepAtSample(steps_.steps, readout), *s_->texts);
}

void CChildView::TakeReadoutValues() {
    if (!s_) return;
    readout_ = TakeReadout(s_->samples, w_);
    RefreshPanel();
    RefreshStepTable();
}

// ---- notifications ------------------------------------------------------------------------------

// The engine waits in this call (a synchronous notification) and goes on decoding afterwards;
// the display-update flag is cleared once the new samples have been painted.
void CChildView::OnAcquisitionProgress(intptr_t value) {
    if (!s_) return;
    SyncWithSetup();
    markerSample_ = static_cast<int>(value);
    const int now = MarkerPosition(value, w_.period, w_.acquisitionTime);
    TakeReadoutValues();
    QRegion changed;
    if (w_.trigger) {
        // A rolling window moves every curve, not only the samples beside the marker.
        changed = Device({CURVE_LEFT, 95, CURVE_RIGHT + 20, 935});
    } else {
        const MarkerRepaint r = MarkerRepaintAreas(previousMarker_, now);
        changed = Device(r.strip);
        if (r.oldPlace) changed += Device(*r.oldPlace);
    }
    dirty_ += changed;
    if (!isVisible() || closing_) {
        // Nothing will be painted: the engine need not wait for a paint that never comes.
        s_->DisplayUpdatePending.store(0);
    } else {
        update(changed);
    }
    marker_ = previousMarker_ = now;
}

void CChildView::OnAcquisitionEnded(intptr_t) {
    markerSample_ = -1;
    AnalyzeSteps();
    TakeReadoutValues();
    InvalidatePlot();
}

// ---- the readout panel --------------------------------------------------------------------------

void CChildView::CreateControls() {
    for (size_t i = 0; i < 4; ++i) {
        analogLabels_[i] = new QLabel(this);
        const int* rgb = CHANNEL_RGB[i];
        analogLabels_[i]->setStyleSheet(
            QStringLiteral("QLabel { background: white; color: rgb(%1, %2, %3); }")
                .arg(rgb[0])
                .arg(rgb[1])
                .arg(rgb[2]));
        analogFields_[i] = Field(this, "analogReadout");
        binaryFields_[i] = Field(this, "binaryReadout");
    }
    timeLabel_ = new QLabel(this);
    timeLabel_->setStyleSheet(QStringLiteral("QLabel { background: white; color: black; }"));
    timeField_ = new QLineEdit(this);
    timeField_->setObjectName(QStringLiteral("readoutTime"));
    zoomBack_ = new QPushButton(this);
    zoomBack_->setObjectName(QStringLiteral("zoomBack"));
    connect(zoomBack_, &QPushButton::clicked, this, [this] {
        focusIndex_ = 1;
        ResetZoom();
    });
    connect(timeField_, &QLineEdit::editingFinished, this, [this] { TakeReadoutEntry(); });
    setTabOrder(timeField_, zoomBack_);
    stepTable_ = new StepFiguresTable(this);
    PlaceControls();
}

CChildView::~CChildView() {
    timeField_->disconnect(this);
    zoomBack_->disconnect(this);
}

void CChildView::PlaceControls() {
    const PlotStyle st = ScreenPlotStyle(screenClass_, false);
    const PanelLayout l = ReadoutPanelLayout(st.rowHeight);
    const auto scale = ClientScaleOf(width(), height());
    QFont f = st.font;
    f.setPixelSize(std::max(8, static_cast<int>(st.font.pixelSize() * (scale ? scale->sy : 1.0))));
    auto place = [&](QWidget* w, const QRectF& r) {
        w->setFont(f);
        w->setGeometry(Device({r.left(), r.top(), r.right(), r.bottom()}));
    };
    for (size_t i = 0; i < 4; ++i) {
        place(analogLabels_[i], l.analogLabel[i]);
        place(analogFields_[i], l.analogValue[i]);
        place(binaryFields_[i], l.binaryValue[i]);
    }
    place(timeLabel_, l.timeLabel);
    place(timeField_, l.timeValue);
    place(zoomBack_, l.zoomBack);
    QFont small = f;
    small.setPixelSize(std::max(8, f.pixelSize() * 3 / 4));
    stepTable_->setFont(small);
    const double rows = STEP_TABLE_ROWS * st.rowHeight * 3 / 4;
    stepTable_->setGeometry(
        Device({STEP_TABLE_LEFT, STEP_TABLE_TOP, STEP_TABLE_RIGHT, STEP_TABLE_TOP + rows}));
    stepTable_->Fit();
}

// The labels and fields show the set-up's names and the readout values; the readout time field
// is read-only while an acquisition runs, and keeps what the user is typing.
void CChildView::RefreshPanel() {
    const PlotInput plot = CurrentPlot();
    const ReadoutPanelInput panel = CurrentPanel();
    for (size_t i = 0; i < 4; ++i) {
        const QString label = Q(panel.analogLabels[i]);
        SetText(analogLabels_[i], label);
        SetText(analogFields_[i], Q(panel.analogValues[i]));
        SetName(analogFields_[i], label);
        SetText(binaryFields_[i], Q(panel.binaryValues[i]));
        SetName(binaryFields_[i], QStringLiteral("Ch%1: ").arg(i + 1) + Q(plot.binaryNames[i]));
    }
    SetText(timeLabel_, Q(panel.timeLabel));
    SetName(timeField_, Q(panel.timeLabel));
    const QString button = s_ ? Q(s_->texts->Get(102)) : QStringLiteral("Zoom Back");
    SetText(zoomBack_, button);
    SetName(zoomBack_, button);
    const bool acquiring = Acquiring();
    if (timeField_->isReadOnly() != acquiring) {
        timeField_->setReadOnly(acquiring);
        timeField_->setStyleSheet(acquiring ? QStringLiteral("QLineEdit { background: rgb(192, 192, 192); }")
                                            : QStringLiteral("QLineEdit { background: white; }"));
    }
    const bool typing = timeField_->hasFocus() && timeField_->isModified();
    if (!typing) SetText(timeField_, Q(panel.timeValue));
}

PlotInput CChildView::CurrentPlot() const {
    PlotInput in;
    in.window = w_;
    in.grid = grid_;
    in.running = Acquiring();
    in.marker = in.running ? marker_ : -1;
    if (!s_) return in;
    in.samples = &s_->samples;
    in.stepMarks = StepMarks(steps_, stepsFirst_);
    const ScopeSetup setup = CheckedForRecording(CopyScopeSetup(*s_));
    const bool flow = s_->params.EditBlock.CONTROLLER_STRUCTURE == FLOW_CONTROL_STRUCTURE;
    for (size_t c = 0; c < 4; ++c) {
        const int ch = static_cast<int>(c);
        in.analogNames[c] = s_->texts->Get(static_cast<unsigned>(
            AnalogSignalTextId(ch, setup.Analog[c].Signal, flow, setup.MasterSlave == 1)));
        in.binaryNames[c] = s_->texts->Get(static_cast<unsigned>(BinarySignalTextId(setup.Binary[c])));
        in.analogShown[c] = AnalogChannelShown(ch, setup.Analog[c].Signal);
    }
    return in;
}

ReadoutPanelInput CChildView::CurrentPanel() const {
    ReadoutPanelInput panel;
    const PlotInput plot = CurrentPlot();
    const ScopeSetup setup = s_ ? CheckedForRecording(CopyScopeSetup(*s_)) : ScopeSetup{};
    for (size_t c = 0; c < 4; ++c) {
        panel.analogLabels[c] = "Ch" + std::to_string(c + 1) + ": " + plot.analogNames[c];
        panel.analogValues[c] =
            AnalogReadoutText(static_cast<int>(c), setup.Analog[c].Signal, readout_.analog[c]);
        panel.binaryValues[c] = std::to_string(readout_.binary[c]);
    }
    panel.timeLabel = s_ ? s_->texts->Get(101) : "Readout Time";
    panel.timeValue = TimeLabel(w_.readoutTime);
    return panel;
}

QImage CChildView::RenderPicture(QSize size) const {
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    const QRectF all(0, 0, image.width(), image.height());
    const PlotStyle st = ScreenPlotStyle(screenClass_, false);
    PlotInput plot = CurrentPlot();
    plot.marker = -1;
    PaintScopePlot(p, all, plot, st);
    PaintReadoutPanel(p, all, CurrentPanel(), st);
    return image;
}

// ---- readout time -------------------------------------------------------------------------------

void CChildView::TakeReadoutEntry() {
    if (!s_ || timeField_->isReadOnly()) return;
    SyncWithSetup();
    const ReadoutEntry e = ::TakeReadoutEntry(w_, timeField_->text().toStdString());
    timeField_->setText(Q(e.text));
    timeField_->setModified(false);
    if (e.time == w_.readoutTime) return;
    w_.readoutTime = e.time;
    TakeReadoutValues();
    update();
}

void CChildView::MoveReadoutTime(double logicalX) {
    w_.readoutTime = CursorTimeAtX(w_, logicalX);
    TakeReadoutValues();
    update(Device(CURSOR_AREA));
}

// ---- focus --------------------------------------------------------------------------------------

void CChildView::FocusStop(int index) {
    focusIndex_ = index;
    if (index == 0)
        timeField_->setFocus(Qt::TabFocusReason);
    else
        zoomBack_->setFocus(Qt::TabFocusReason);
}

void CChildView::NextReadoutField() {
    const bool onStop = timeField_->hasFocus() || zoomBack_->hasFocus();
    FocusStop(onStop && focusIndex_ == 0 ? 1 : onStop ? 0 : 1);
}

void CChildView::PreviousReadoutField() {
    NextReadoutField(); // two stops: both directions lead to the other one
}

void CChildView::TakeReadoutCommand() {
    if (timeField_->hasFocus())
        TakeReadoutEntry();
    else if (zoomBack_->hasFocus())
        zoomBack_->click();
}

void CChildView::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    if (!closing_) FocusStop(focusIndex_);
}

// ---- painting -----------------------------------------------------------------------------------

QRect CChildView::Device(const LogicalRect& r) const {
    const auto scale = ClientScaleOf(width(), height());
    if (!scale) return {};
    return QRectF(QPointF(r.left * scale->sx, r.top * scale->sy),
                  QPointF(r.right * scale->sx, r.bottom * scale->sy))
        .toAlignedRect()
        .adjusted(-1, -1, 1, 1);
}

std::optional<QPointF> CChildView::Logical(QPointF device) const {
    const auto scale = ClientScaleOf(width(), height());
    if (!scale) return std::nullopt;
    return QPointF(device.x() / scale->sx, device.y() / scale->sy);
}

LogicalRect CChildView::DragRect() const {
    return {std::min(dragStart_.x(), dragNow_.x()), std::min(dragStart_.y(), dragNow_.y()),
            std::max(dragStart_.x(), dragNow_.x()), std::max(dragStart_.y(), dragNow_.y())};
}

void CChildView::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    PlaceControls();
    InvalidatePlot();
}

void CChildView::InvalidatePlot() {
    dirty_ = QRegion(rect());
    update();
}

// Renders what no longer shows the recording into the cache, in one pass clipped to it.
void CChildView::RenderPlot(const PlotInput& plot, const ClientScale& scale) {
    const qreal dpr = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * dpr).toSize();
    if (cache_.size() != pixels || cache_.devicePixelRatioF() != dpr) {
        cache_ = QImage(pixels, QImage::Format_RGB32);
        cache_.setDevicePixelRatio(dpr);
        dirty_ = QRegion(rect());
    }
    if (!SamePicture(plot, cachedPlot_)) dirty_ = QRegion(rect());
    dirty_ &= QRegion(rect());
    if (dirty_.isEmpty()) return;
    PlotInput in = plot;
    const QRectF todo = QRectF(dirty_.boundingRect()).adjusted(-2, -2, 2, 2);
    in.exposed = LogicalRect{todo.left() / scale.sx, todo.top() / scale.sy, todo.right() / scale.sx,
                             todo.bottom() / scale.sy};
    QPainter p(&cache_);
    p.setClipRegion(dirty_);
    p.fillRect(dirty_.boundingRect(), Qt::white);
    const QRectF target(0, 0, LOGICAL_WIDTH * scale.sx, LOGICAL_HEIGHT * scale.sy);
    PaintScopePlot(p, target, in, ScreenPlotStyle(screenClass_, in.running));
    dirty_ = QRegion();
    cachedPlot_ = plot;
    cachedPlot_.exposed.reset();
}

void CChildView::paintEvent(QPaintEvent* e) {
    const auto scale = ClientScaleOf(width(), height());
    if (!scale) return;
    const bool flagged = s_ && s_->DisplayUpdatePending.load() != 0;
    if (flagged) QLN_TRACE_INFO(s_->link.trace, "Display update start OnPaint");
    SyncWithSetup();
    if (!Acquiring()) marker_ = previousMarker_ = 0;
    const double readout = ReadoutTimeInWindow(w_);
    if (readout != w_.readoutTime) {
        w_.readoutTime = readout;
        TakeReadoutValues();
    }
    RefreshPanel();
    RenderPlot(CurrentPlot(), *scale);

    QPainter p(this);
    const qreal dpr = cache_.devicePixelRatioF();
    for (const QRect& r : e->region())
        p.drawImage(r.topLeft(), cache_, QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));
    if (zoomDrag_) {
        const QRectF target(0, 0, LOGICAL_WIDTH * scale->sx, LOGICAL_HEIGHT * scale->sy);
        const LogicalRect r = DragRect();
        p.setTransform(LogicalToTarget(target));
        p.setPen(QPen(Qt::black, 0, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom)));
    }
    if (flagged) {
        s_->DisplayUpdatePending.store(0);
        QLN_TRACE_INFO(s_->link.trace, "Display update done OnPaint");
    }
}

// ---- mouse --------------------------------------------------------------------------------------

void CChildView::mousePressEvent(QMouseEvent* e) {
    const auto at = Logical(e->position());
    if (!at || e->button() != Qt::LeftButton || Acquiring()) return;
    if (!zoomDrag_ && Inside(*at, ZOOM_AREA)) {
        zoomDrag_ = true;
        cursorDrag_ = false;
        dragStart_ = dragNow_ = *at;
    }
    const double x = ReadoutCursorX(w_);
    const LogicalRect handle{x - HANDLE_HALF - HANDLE_SLACK, HANDLE_TOP - HANDLE_SLACK,
                             x + HANDLE_HALF + HANDLE_SLACK, HANDLE_BOTTOM + HANDLE_SLACK};
    if (!cursorDrag_ && Inside(*at, handle)) {
        zoomDrag_ = false;
        cursorDrag_ = true;
    }
}

void CChildView::mouseMoveEvent(QMouseEvent* e) {
    const auto at = Logical(e->position());
    if (!at) return;
    const double x = ReadoutCursorX(w_);
    const LogicalRect handle{x - HANDLE_HALF, HANDLE_TOP, x + HANDLE_HALF, HANDLE_BOTTOM};
    if (Acquiring())
        setCursor(Qt::ArrowCursor);
    else if (cursorDrag_ || Inside(*at, handle))
        setCursor(Qt::SizeHorCursor);
    else if (zoomDrag_ || Inside(*at, ZOOM_AREA))
        setCursor(Qt::CrossCursor);
    else
        setCursor(Qt::ArrowCursor);

    if (zoomDrag_) {
        const LogicalRect old = DragRect();
        dragNow_ = QPointF(std::clamp(at->x(), ZOOM_AREA.left, ZOOM_AREA.right),
                           std::clamp(at->y(), ZOOM_AREA.top, ZOOM_AREA.bottom));
        const LogicalRect now = DragRect();
        update(Device({std::min(old.left, now.left), std::min(old.top, now.top),
                       std::max(old.right, now.right), std::max(old.bottom, now.bottom)}));
    } else if (cursorDrag_) {
        MoveReadoutTime(at->x());
    }
}

void CChildView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !(zoomDrag_ || cursorDrag_)) return;
    if (zoomDrag_ && Logical(e->position())) {
        SyncWithSetup();
        w_ = ZoomWindow(w_, DragRect());
        update();
    }
    zoomDrag_ = cursorDrag_ = false;
    TakeReadoutValues();
}
