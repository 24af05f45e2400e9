#include "dialogs/ColorButton.h"

CColorButton::CColorButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    setAutoFillBackground(true);
    ApplyPalette();
}

QColor CColorButton::SetColour(QColor background) {
    const QColor previous = background_;
    if (background != background_) {
        background_ = background;
        ApplyPalette();
    }
    return previous;
}

void CColorButton::ApplyPalette() {
    QPalette p = palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Window, background_);
        p.setColor(g, QPalette::Button, background_);
    }
    // Black text on either colour.
    p.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
    p.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    setPalette(p);
    update();
}
