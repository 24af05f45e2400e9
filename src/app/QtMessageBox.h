#pragma once
#include <QPointer>
#include <QWidget>

#include "dialogs/MessageBox.h"

class TextSource;

// Message boxes with QMessageBox, owned by the given window (none before the window exists). The
// buttons carry the program's texts (in the language library's words once it is loaded), not Qt's.
class QtMessageBox : public IMessageBox {
public:
    void SetOwner(QWidget* owner) { owner_ = owner; }
    void SetTexts(const TextSource* texts) { texts_ = texts; }
    MbResult Show(const std::string& text, const std::string& caption, MbIcon icon, MbButtons buttons,
                  MbResult defaultButton) override;

private:
    QPointer<QWidget> owner_;
    const TextSource* texts_ = nullptr;
};
