#include "dialogs/Artwork.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {
const QColor BLUE(20, 70, 140);
const QColor LIGHT(235, 242, 250);
const QColor ACCENT(240, 150, 30);

// The valve symbol in a square of side `s` at `origin`.
void DrawValve(QPainter& p, QPointF origin, double s, const QColor& fg) {
    p.save();
    p.translate(origin);
    p.scale(s / 64.0, s / 64.0);
    p.setPen(QPen(fg, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath body;
    body.moveTo(8, 28);
    body.lineTo(32, 42);
    body.lineTo(8, 56);
    body.closeSubpath();
    body.moveTo(56, 28);
    body.lineTo(32, 42);
    body.lineTo(56, 56);
    body.closeSubpath();
    p.drawPath(body);
    // The actuator: a stem and a coil box.
    p.drawLine(QPointF(32, 42), QPointF(32, 22));
    p.drawRect(QRectF(22, 8, 20, 14));
    p.drawLine(QPointF(26, 12), QPointF(38, 18));
    // The flow arrow beneath the seat.
    p.setPen(QPen(ACCENT, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(12, 61), QPointF(50, 61));
    p.drawLine(QPointF(50, 61), QPointF(44, 58));
    p.drawLine(QPointF(50, 61), QPointF(44, 64));
    p.restore();
}

QPixmap IconPixmap(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QLinearGradient g(0, 0, 0, size);
    g.setColorAt(0, BLUE.lighter(130));
    g.setColorAt(1, BLUE);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
    DrawValve(p, QPointF(size * 0.1, size * 0.02), size * 0.8, Qt::white);
    return pm;
}
} // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(IconPixmap(s));
    return icon;
}

QPixmap ProgramLogo() {
    QPixmap pm(220, 71);
    pm.fill(LIGHT);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(QPen(BLUE, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1, 1, 218, 69));
    DrawValve(p, QPointF(8, 3), 64, BLUE);
    QFont big(QStringLiteral("Sans Serif"));
    big.setBold(true);
    // The largest size that fits whatever font the system substitutes.
    for (int px = 30; px >= 12; --px) {
        big.setPixelSize(px);
        if (QFontMetrics(big).horizontalAdvance(QStringLiteral("QUILLON")) <= 132) break;
    }
    p.setFont(big);
    p.setPen(BLUE);
    p.drawText(QRectF(78, 6, 138, 36), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("QUILLON"));
    QFont small(QStringLiteral("Sans Serif"));
    small.setPixelSize(12);
    p.setFont(small);
    p.setPen(BLUE.darker(120));
    p.drawText(QRectF(80, 42, 136, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("flow control service"));
    p.setPen(QPen(ACCENT, 2));
    p.drawLine(QPointF(80, 42), QPointF(208, 42));
    return pm;
}
