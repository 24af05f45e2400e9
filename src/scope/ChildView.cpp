#include "scope/ChildView.h"

#include <QPainter>
#include <algorithm>

CChildView::CChildView(QWidget* parent) : QWidget(parent) {
    // Everything is painted in one pass over an opaque background; no erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

void CChildView::ToggleGrid() {
    grid_ = !grid_;
    update();
}

void CChildView::OnAcquisitionProgress(intptr_t) {}

void CChildView::OnAcquisitionEnded(intptr_t) {
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
    p.drawRect(QRect(QPoint(300, 30), QPoint(1230, 910)));
}
