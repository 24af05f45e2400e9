#pragma once
#include "dialogs/DriveDialogRules.h"
#include "dialogs/NotifiedDialog.h"

class CSpinButton;
class IMessageBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TextSource;
struct QlnState;

// Valve > Serial Setpoint: the user sends a setpoint in percent that the valve follows instead of
// its setpoint input ("Transmit") and switches it back ("Off"). While the valve follows the PC as
// the user asked, the dialog cannot be closed, by Close, Escape or the window's close box: nobody
// would be in charge. After a failed STS or RTS the valve may still follow: the dialog shows it
// active with Off usable, and it closes only when the user confirms (the line may be dead).
class CSerialSetpointDialog : public CNotifiedDialog {
    Q_OBJECT
public:
    CSerialSetpointDialog(QWidget* parent, QlnState& state, const TextSource& texts, IMessageBox& messages);

    // Every code re-applies the enabling; a communication error also clears the active flag.
    void OnMsgReceive(uint32_t code, intptr_t value) override;

    QLineEdit* Edit() const { return edit_; }
    CSpinButton* Spin() const { return spin_; }
    QPushButton* TransmitButton() const { return transmit_; }
    QPushButton* OffButton() const { return off_; }
    QPushButton* CloseButton() const { return close_; }
    QRadioButton* OnRadio() const { return onRadio_; }
    QRadioButton* OffRadio() const { return offRadio_; }

public slots:
    void reject() override;
    void OnTransmit();
    void OnOff();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The edit's text as on leaving it; returns the value taken.
    double TakeEdit();
    void OnSpun(int delta);
    void Refresh();
    void ApplyEnabling();

    SerialSetpointControl control_;
    const TextSource& texts_;
    IMessageBox& messages_;
    QLineEdit* edit_ = nullptr;
    CSpinButton* spin_ = nullptr;
    QRadioButton* onRadio_ = nullptr;
    QRadioButton* offRadio_ = nullptr;
    QPushButton* transmit_ = nullptr;
    QPushButton* off_ = nullptr;
    QPushButton* close_ = nullptr;
};
