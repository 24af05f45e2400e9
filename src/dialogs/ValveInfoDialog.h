#pragma once
#include <array>

#include "dialogs/NotifiedDialog.h"
#include "dialogs/StatusInfoRules.h"
#include "engine/ValveInfoFormat.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TextSource;
struct QlnState;

// Diagnosis > Valve Info: the valve's identity and history as the engine last read them. The one
// button asks the engine for a new read; the fields follow when it reports back.
class CValveInfoDialog : public CNotifiedDialog {
    Q_OBJECT
public:
    CValveInfoDialog(QWidget* parent, QlnState& state, const TextSource& texts);

    // 80 (valve info read) and the communication errors redraw the fields; every code re-checks
    // the button.
    void OnMsgReceive(uint32_t code, intptr_t value) override;

    QLineEdit* Field(ValveInfoField f) const { return fields_[f]; }
    QPushButton* ReadButton() const { return read_; }
    QTimer* Timer() const { return timer_; }
    // Whether the fields are marked as not confirmed by the valve for a while.
    bool ShowsStale() const { return staleShown_; }
    QLabel* StaleNote() const { return staleNote_; }

public slots:
    void OnReadClicked();
    // The button is enabled exactly while the engine is idle; a tick catches the engine
    // returning to idle without a notification for this dialog.
    void OnTimerTick();
    // Greys the fields, with a note, while a read has not been answered for 3 s.
    void UpdateStale();

private:
    void Refresh();
    void UpdateButton();

    QlnState& s_;
    const TextSource& texts_;
    std::array<QLineEdit*, VI_FIELD_COUNT> fields_{};
    QPushButton* read_ = nullptr;
    QTimer* timer_ = nullptr;
    QLabel* staleNote_ = nullptr;
    StaleWatch stale_;
    bool staleShown_ = false;
};
