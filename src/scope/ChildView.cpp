#include "scope/ChildView.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "engine/QlnState.h"
#include "scope/Acquisition.h"

namespace {
// The plot area in the logical space, and where its 100 % and 0 % lines lie.
constexpr int PLOT_LEFT = 300, PLOT_TOP = 30, PLOT_RIGHT = 1230, PLOT_BOTTOM = 910;
const QColor CURVE_COLOURS[4] = {Qt::red, Qt::blue, QColor(0, 128, 0), Qt::magenta};
} // namespace

CChildView::CChildView(QWidget* parent) : QWidget(parent) {
    // Everything is painted in one pass over an opaque background; no erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

void CChildView::ToggleGrid() {
    grid_ = !grid_;
    update();
}

void CChildView::ResetForAcquisition(bool roll) {
    roll_ = roll;
    marker_ = roll ? 0 : -1;
    update();
}

// The engine waits in this call (a synchronous notification) and goes on decoding afterwards;
// the display-update flag is cleared once the new samples have been painted.
void CChildView::OnAcquisitionProgress(intptr_t value) {
    marker_ = static_cast<int>(value);
    update();
}

void CChildView::OnAcquisitionEnded(intptr_t) {
    marker_ = -1;
    update();
}

void CChildView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const double sx = static_cast<double>(width()) / std::max(width(), kLogicalWidth);
    const double sy = static_cast<double>(height()) / std::max(height(), kLogicalHeight);
    p.fillRect(rect(), Qt::white);
    p.scale(sx, sy);
    p.setPen(QPen(Qt::black, 0));
    p.setBrush(Qt::white);
    p.drawRect(QRect(QPoint(PLOT_LEFT, PLOT_TOP), QPoint(PLOT_RIGHT, PLOT_BOTTOM)));
    if (s_) {
        DrawRecording(p);
        s_->DisplayUpdatePending.store(0);
    }
}

// The four analog curves over the whole window of the recording, and the acquisition marker.
void CChildView::DrawRecording(QPainter& p) {
    const ScopeSetup setup = CheckedForRecording(CopyScopeSetup(*s_));
    const bool roll = setup.Mode == 2;
    const int n = roll ? PlanRoll(setup).windowLength : PlanRecording(setup).windowLength;
    const int fill = std::clamp(s_->FillIndex.load(), 0, n);
    if (n < 2 || fill < 1) return;
    const double dx = static_cast<double>(PLOT_RIGHT - PLOT_LEFT) / (n - 1);
    const double dy = static_cast<double>(PLOT_BOTTOM - PLOT_TOP) / 200.0; // -100 .. 100 %
    const double zero = (PLOT_TOP + PLOT_BOTTOM) / 2.0;
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int c = 0; c < 4; ++c) {
        QPainterPath path;
        for (int i = 0; i < fill; ++i) {
            const QPointF pt(PLOT_LEFT + i * dx, zero - s_->samples.Analog(c, i) * dy);
            if (i == 0)
                path.moveTo(pt);
            else
                path.lineTo(pt);
        }
        p.setPen(QPen(CURVE_COLOURS[c], 0));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    if (marker_ >= 0) {
        const double x = PLOT_LEFT + std::min(marker_, n - 1) * dx;
        p.setPen(QPen(Qt::yellow, 3));
        p.drawLine(QPointF(x, PLOT_TOP), QPointF(x, PLOT_BOTTOM));
    }
}
