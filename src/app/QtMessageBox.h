#pragma once
#include <QPointer>
#include <QWidget>

#include "dialogs/MessageBox.h"

// Message boxes with QMessageBox, owned by the given window (none before the window exists).
class QtMessageBox : public IMessageBox {
public:
    void SetOwner(QWidget* owner) { owner_ = owner; }
    MbResult Show(const std::string& text, const std::string& caption, MbIcon icon, MbButtons buttons,
                  MbResult defaultButton) override;

private:
    QPointer<QWidget> owner_;
};
