#pragma once
#include <array>

#include "dialogs/NotifiedDialog.h"
#include "dialogs/StatusInfoRules.h"

class QLabel;
class QRadioButton;
class QTimer;
class TextSource;
struct QlnState;

// Diagnosis > Status (F2): the valve's state flags and its three LEDs, kept current by asking
// the engine for a status read every two seconds while the dialog is open.
class CStatusInfoDialog : public CNotifiedDialog {
    Q_OBJECT
public:
    CStatusInfoDialog(QWidget* parent, QlnState& state, const TextSource& texts);

    // 112 (status read) redraws; a communication error also stops polling, except the one of a
    // device that vanished: then the dialog waits for it and polls again once it is back.
    void OnMsgReceive(uint32_t code, intptr_t value) override;

    // pair: index into StatusPairs(); which: 0 first button, 1 second.
    QRadioButton* Radio(size_t pair, int which) const { return radios_[pair][static_cast<size_t>(which)]; }
    // The picture shown at an LED (0 red, 1 green, 2 yellow).
    LedPicture Led(size_t led) const;
    bool BlinkPhase() const { return blinkPhase_; }
    bool CommunicationError() const { return commError_; }
    QTimer* PollTimer() const { return poll_; }
    QTimer* BlinkTimer() const { return blink_; }
    // Whether the values are marked as not confirmed by the valve for a while.
    bool ShowsStale() const { return staleShown_; }
    QLabel* StaleNote() const { return staleNote_; }

public slots:
    // Every 2 s: a status read when the engine is idle, no communication error was seen and the
    // port's device is not gone.
    void OnPollTick();
    // Every second: the blink phase turns, the display follows.
    void OnBlinkTick();
    // Greys the values, with a note, while a poll has not been answered for 3 s (every 250 ms; it
    // also polls at once when a gone device is back).
    void UpdateStale();

private:
    void Refresh();

    QlnState& s_;
    StatusInfo shown_{};
    bool blinkPhase_ = false;
    bool commError_ = false;
    bool waitingForDevice_ = false; // the port's device was gone at the last poll
    std::array<std::array<QRadioButton*, 2>, 8> radios_{};
    std::array<QWidget*, 3> leds_{};
    std::array<QWidget*, 9> valueBoxes_{}; // the eight pairs and the LEDs
    QLabel* staleNote_ = nullptr;
    StaleWatch stale_;
    bool staleShown_ = false;
    QTimer* poll_ = nullptr;
    QTimer* blink_ = nullptr;
};
