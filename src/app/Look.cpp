#include "app/Look.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

void ApplyProgramLook(QApplication& app) {
    // Where Fusion is missing (it is built into Qt, so only in a stripped build) the platform's
    // style stays, still one for all windows.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
    app.setPalette(QApplication::style()->standardPalette());
}
