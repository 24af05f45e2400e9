#pragma once
#include <QDialog>
#include <array>
#include <string>

#include "settings/ComSettings.h"

class IMessageBox;
class QRadioButton;
class QTimer;
class TextSource;
struct QlnState;

// The Serial Port dialog: which of COM1..COM8 the valve hangs on (each shown with the device it
// stands for). The line speed is only shown; the engine finds it.
class CSerialPortDialog : public QDialog {
    Q_OBJECT
public:
    CSerialPortDialog(QWidget* parent, QlnState& state, const std::array<std::string, kComPortCount>& devices,
                      const TextSource& texts, IMessageBox& messages);

    bool Changed() const { return changed_; }
    QRadioButton* PortButton(int i) const { return ports_[static_cast<size_t>(i)]; }
    QRadioButton* BaudButton(int i) const { return i == 0 ? baud19200_ : baud57600_; }
    QTimer* Timer() const { return timer_; }
    // The checked port 0..7, or -1.
    int Selected() const;
    // Enables the port buttons only while the engine is idle (at opening and every 5 s).
    void RefreshEnabling();

    void accept() override;
    void reject() override;

private:
    QlnState& state_;
    const TextSource& texts_;
    IMessageBox& messages_;
    const std::array<std::string, kComPortCount> devices_;
    std::array<QRadioButton*, kComPortCount> ports_{};
    QRadioButton* baud19200_;
    QRadioButton* baud57600_;
    QTimer* timer_;
    bool changed_ = false;
};
