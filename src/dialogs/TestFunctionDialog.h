#pragma once
#include <array>

#include "dialogs/DriveDialogRules.h"
#include "dialogs/NotifiedDialog.h"

class CColorButton;
class CSpinButton;
class QButtonGroup;
class QLineEdit;
class QPushButton;
class QTimer;
class TextSource;
struct QlnState;

// Valve > Test Function: the user chooses the valve's built-in test function (off, ramp, step,
// multistep) and its ramp/step time, writes them and reads back what the valve runs. A red button
// marks the function the valve runs when it is not the one selected.
class CTestFunctionDialog : public CNotifiedDialog {
    Q_OBJECT
public:
    CTestFunctionDialog(QWidget* parent, QlnState& state, const TextSource& texts);

    // 128 and 129 (read, written) refresh the display; the communication errors re-check the
    // controls; other codes are ignored.
    void OnMsgReceive(uint32_t code, intptr_t value) override;

    QLineEdit* TimeEdit() const { return time_; }
    CSpinButton* Spin() const { return spin_; }
    QLineEdit* ReadBackBox() const { return readBack_; }
    CColorButton* Radio(int selection) const { return radios_[static_cast<size_t>(selection)]; }
    QPushButton* WriteButton() const { return write_; }
    QPushButton* ReadButton() const { return read_; }
    QPushButton* CancelButton() const { return cancel_; }
    QTimer* Timer() const { return timer_; }

public slots:
    // Cancel, Escape and the close box: the chosen values stay in the shared values.
    void reject() override;
    void OnWrite();
    void OnRead();
    void ApplyEnabling();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int CheckedSelection() const;
    void TakeTime();
    void TakeOver();
    void OnSpun(int delta);
    void Refresh();

    TestFunctionControl control_;
    const TextSource& texts_;
    QLineEdit* readBack_ = nullptr;
    std::array<CColorButton*, 4> radios_{};
    QButtonGroup* group_ = nullptr;
    QLineEdit* time_ = nullptr;
    CSpinButton* spin_ = nullptr;
    QPushButton* write_ = nullptr;
    QPushButton* read_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QTimer* timer_ = nullptr;
    bool refreshing_ = false; // the dialog checks a function itself
};
