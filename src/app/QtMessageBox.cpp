#include "app/QtMessageBox.h"

#include <QMessageBox>
#include <QPushButton>

#include "text/Texts.h"

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

// The program's texts for the standard buttons: 7 "OK", 39 "Cancel", 12 "Yes", 13 "No".
struct ButtonText {
    QMessageBox::StandardButton button;
    unsigned text;
};
constexpr ButtonText BUTTON_TEXTS[] = {
    {QMessageBox::Ok, 7}, {QMessageBox::Cancel, 39}, {QMessageBox::Yes, 12}, {QMessageBox::No, 13}};
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
    if (texts_)
        for (const ButtonText& b : BUTTON_TEXTS)
            if (QAbstractButton* button = box.button(b.button))
                button->setText(QString::fromStdString(texts_->GetSilently(b.text)));
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
