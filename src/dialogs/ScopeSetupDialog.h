#pragma once
#include <QDialog>
#include <array>

#include "dialogs/ScopeSetupRules.h"

class CSpinButton;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class TextSource;
class IMessageBox;
struct QlnState;

// Scope > Setup: how the valve is driven while recording (step, ramp, or roll with an optional
// trigger), how long and how fast, and which signal each channel shows. It works on its own copy
// of the set-up; OK stores the copy (and marks it changed when it differs), Cancel asks before
// dropping changes.
class CScopeSetupDialog : public QDialog {
    Q_OBJECT
public:
    CScopeSetupDialog(QWidget* parent, QlnState& state, const TextSource& texts, IMessageBox& messages);

    bool Changed() const { return changed_; }
    const ScopeSetup& Copy() const { return copy_; }

    QComboBox* AnalogList(int c) const { return analog_[static_cast<size_t>(c)]; }
    QComboBox* BinaryList(int c) const { return binary_[static_cast<size_t>(c)]; }
    QComboBox* TriggerChannelList() const { return triggerChannel_; }
    QComboBox* SampleRateList() const { return rate_; }
    QRadioButton* ModeButton(int mode) const { return modes_[static_cast<size_t>(mode)]; }
    QRadioButton* SlopeButton(bool falling) const { return falling ? falling_ : rising_; }
    QRadioButton* SlaveButton(bool slave) const { return slave ? slave_ : master_; }
    QLineEdit* Field(ScopeFieldKind kind) const { return fields_[static_cast<size_t>(kind)]; }
    QLineEdit* Reported(int i) const { return reported_[static_cast<size_t>(i)]; }
    QPushButton* OkButton() const { return ok_; }
    QTimer* Timer() const { return timer_; }

public slots:
    void accept() override;
    void reject() override;
    void ApplyEnabling();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildChannels(QWidget* page);
    QWidget* BuildTiming();
    void AddField(ScopeFieldKind kind, unsigned label, QWidget* parent, class QGridLayout* grid, int row);
    void ShowCopy();
    void ShowReported(const ScopeSetup& record);
    void TakeField(ScopeFieldKind kind);
    void TakeOver();
    QString Text(unsigned id) const;

    QlnState& s_;
    const TextSource& texts_;
    IMessageBox& messages_;
    ScopeSetup copy_{};
    int32_t structure_ = 0;
    bool changed_ = false;
    bool showing_ = false; // the dialog checks the mode itself
    std::array<QComboBox*, 4> analog_{}, binary_{};
    QComboBox* triggerChannel_ = nullptr;
    QComboBox* rate_ = nullptr;
    std::array<QRadioButton*, 3> modes_{};
    QRadioButton *rising_ = nullptr, *falling_ = nullptr, *master_ = nullptr, *slave_ = nullptr;
    std::array<QLineEdit*, 5> fields_{};
    std::array<CSpinButton*, 5> spins_{};
    std::array<QLineEdit*, 7> reported_{}; // time, begin, end, analog 1..4
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QTimer* timer_ = nullptr;
};
