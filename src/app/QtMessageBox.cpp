#include "app/QtMessageBox.h"

#include <QMessageBox>

namespace {
QMessageBox::StandardButton ToQt(MbResult r) {
    switch (r) {
    case MbResult::Ok:
        return QMessageBox::Ok;
    case MbResult::Cancel:
        return QMessageBox::Cancel;
    case MbResult::Yes:
        return QMessageBox::Yes;
    case MbResult::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}
} // namespace

MbResult QtMessageBox::Show(const std::string& text, const std::string& caption, MbIcon icon,
                            MbButtons buttons, MbResult defaultButton) {
    QMessageBox box(owner_);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
    case MbIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MbIcon::Stop:
        box.setIcon(QMessageBox::Critical);
        break;
    case MbIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MbIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MbIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    QMessageBox::StandardButtons set = QMessageBox::Ok;
    MbResult escape = MbResult::Ok;
    switch (buttons) {
    case MbButtons::Ok:
        break;
    case MbButtons::OkCancel:
        set = QMessageBox::Ok | QMessageBox::Cancel;
        escape = MbResult::Cancel;
        break;
    case MbButtons::YesNo:
        set = QMessageBox::Yes | QMessageBox::No;
        escape = MbResult::No;
        break;
    case MbButtons::YesNoCancel:
        set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        escape = MbResult::Cancel;
        break;
    }
    box.setStandardButtons(set);
    if (set.testFlag(ToQt(defaultButton))) box.setDefaultButton(ToQt(defaultButton));
    box.setEscapeButton(ToQt(escape));
    switch (box.exec()) {
    case QMessageBox::Ok:
        return MbResult::Ok;
    case QMessageBox::Cancel:
        return MbResult::Cancel;
    case QMessageBox::Yes:
        return MbResult::Yes;
    case QMessageBox::No:
        return MbResult::No;
    default:
        return escape;
    }
}
