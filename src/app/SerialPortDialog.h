#pragma once
#include <QDialog>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "link/PortList.h"
#include "settings/ComSettings.h"

class IMessageBox;
class QLabel;
class QListWidget;
class QRadioButton;
class QTimer;
class TextSource;
struct QlnState;

// The Serial Port dialog: which of COM1..COM8 the valve hangs on (each shown with the device it
// stands for) and, for the selected one, which of the devices present it stands for. The line
// speed is only shown; the engine finds it.
class CSerialPortDialog : public QDialog {
    Q_OBJECT
public:
    // The devices present, listed afresh whenever the link counts an arrival or removal.
    using PortSource = std::function<std::vector<PortEntry>()>;

    CSerialPortDialog(QWidget* parent, QlnState& state, const std::array<std::string, kComPortCount>& devices,
                      const TextSource& texts, IMessageBox& messages, PortSource ports = {});

    bool Changed() const { return changed_; }
    QRadioButton* PortButton(int i) const { return ports_[static_cast<size_t>(i)]; }
    QRadioButton* BaudButton(int i) const { return i == 0 ? baud19200_ : baud57600_; }
    QTimer* Timer() const { return timer_; }
    QListWidget* DeviceList() const { return list_; }
    QLabel* DeviceLabel() const { return listLabel_; }
    // The device chosen for each port so far (stored by OK).
    const std::array<std::string, kComPortCount>& ChosenDevices() const { return chosen_; }
    // Lists the devices again when the link has counted arrivals or removals since the last time
    // (every 250 ms).
    void FollowPortEvents();
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

    void FillDeviceList();
    void TakeDeviceSelection();
    void LabelPort(int i);
    bool DevicesChanged() const;
    int ShownPort() const;

    PortSource source_;
    std::vector<PortEntry> present_;
    uint32_t seenEvents_ = 0;
    std::array<std::string, kComPortCount> chosen_;
    QLabel* listLabel_ = nullptr;
    QListWidget* list_ = nullptr;
    bool filling_ = false;
};
