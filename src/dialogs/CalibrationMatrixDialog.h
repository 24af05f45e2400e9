#pragma once
#include "dialogs/CalibrationDialogRules.h"
#include "dialogs/NotifiedDialog.h"

class CCalibrationMatrixPanel;
class QPushButton;
class QTimer;
class TextSource;
struct QlnState;

// The calibration matrix on its own (calibration mode only, command 32029): the values to be
// written beside those read back, array by array; Read and Write as in the calibration dialog.
class CCalibrationMatrixDialog : public CNotifiedDialog {
    Q_OBJECT
public:
    CCalibrationMatrixDialog(QWidget* parent, QlnState& state, const TextSource& texts, bool& matrixCopied);

    // 32..38 reload the working copy; no read-back after a write.
    void OnMsgReceive(uint32_t code, intptr_t value) override;

    CCalibrationMatrixPanel* Panel() const { return panel_; }
    QPushButton* WriteButton() const { return write_; }
    QPushButton* ReadButton() const { return read_; }
    QPushButton* CloseButton() const { return close_; }

public slots:
    // Close, Escape and the close box: the edits are kept.
    void reject() override;
    void OnWrite();
    void OnRead();
    void ApplyEnabling();

private:
    void Request(uint32_t bit);

    CalibrationWork work_;
    const TextSource& texts_;
    CCalibrationMatrixPanel* panel_ = nullptr;
    QPushButton* write_ = nullptr;
    QPushButton* read_ = nullptr;
    QPushButton* close_ = nullptr;
    QTimer* timer_ = nullptr;
};
