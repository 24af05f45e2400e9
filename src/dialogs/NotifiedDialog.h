#pragma once
#include <QDialog>
#include <cstdint>

// A dialog that the main window keeps in one of its slots while it is open, so that the engine's
// notifications for it reach it (queued, like every forward from the window).
class CNotifiedDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
    virtual void OnMsgReceive(uint32_t code, intptr_t value) = 0;
    // Set when the dialog stored changes that belong to the project.
    bool Changed() const { return changed_; }

protected:
    bool changed_ = false;
};
