#pragma once
#include <array>

#include "dialogs/CalibrationDialogRules.h"
#include "dialogs/CalibrationFields.h"
#include "dialogs/NotifiedDialog.h"

class CCalibrationMatrixPanel;
class QPushButton;
class QTimer;
struct QlnState;

// Valve > Calibration (calibration mode only): the matrix as read from the valve beside the values
// to be written, the DAC spans, the PWM offsets and the outside temperature. Read, Copy the read
// values into the set values, edit, Write; after each Write the dialog reads the matrix back.
class CCalibrationDialog : public CNotifiedDialog {
    Q_OBJECT
public:
    // `matrixCopied`: the program's flag that Copy was used (Write needs it).
    CCalibrationDialog(QWidget* parent, QlnState& state, const TextSource& texts, bool& matrixCopied);

    // 32..38 reload the working copy; 35 (matrix written) also reads the matrix back.
    void OnMsgReceive(uint32_t code, intptr_t value) override;

    CCalibrationMatrixPanel* Panel() const { return panel_; }
    QLineEdit* SetEdit(int field) const { return edits_[static_cast<size_t>(field)].set; }
    QLineEdit* ReadEdit(int field) const { return edits_[static_cast<size_t>(field)].read; }
    QPushButton* WriteButton() const { return write_; }
    QPushButton* CopyButton() const { return copy_; }
    QPushButton* ReadButton() const { return read_; }
    QPushButton* CloseButton() const { return close_; }
    const CalibrationWork& Work() const { return work_; }

    // Fields in SetEdit/ReadEdit order.
    enum Field { TEMPERATURE, SPAN_P2, SPAN_DP, OFFSET_P2, OFFSET_DP, FIELD_COUNT };

public slots:
    // Close, Escape and the close box: the edits are kept.
    void reject() override;
    void OnWrite();
    void OnRead();
    void OnCopy();
    void ApplyEnabling();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TakeOver();
    void Refresh();

    CalibrationWork work_;
    const TextSource& texts_;
    CCalibrationMatrixPanel* panel_ = nullptr;
    std::array<CalibrationFieldEdits, FIELD_COUNT> edits_{};
    QPushButton* write_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* read_ = nullptr;
    QPushButton* close_ = nullptr;
    QTimer* timer_ = nullptr;
};
