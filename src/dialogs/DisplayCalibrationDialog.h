#pragma once
#include <array>

#include "dialogs/CalibrationDialogRules.h"
#include "dialogs/CalibrationFields.h"
#include "dialogs/NotifiedDialog.h"

class CColorButton;
class QPushButton;
class QTimer;
struct QlnState;

// The display calibration (calibration mode only, command 32030): outside temperature, the two
// DAC values, the display factor and the decimal point, beside the last calibration result. It
// sends nothing; what it changes stays in the calibration record and the project.
class CDisplayCalibrationDialog : public CNotifiedDialog {
    Q_OBJECT
public:
    CDisplayCalibrationDialog(QWidget* parent, QlnState& state, const TextSource& texts, bool& matrixCopied);

    void OnMsgReceive(uint32_t code, intptr_t value) override;

    enum Field { TEMPERATURE, DISPLAY_FACTOR, SPAN_DP, SPAN_P2, FIELD_COUNT };
    QLineEdit* SetEdit(int field) const { return edits_[static_cast<size_t>(field)].set; }
    QLineEdit* ReadEdit(int field) const { return edits_[static_cast<size_t>(field)].read; }
    QLineEdit* ResultBox() const { return result_; }
    QLineEdit* DecimalPointBox() const { return pointRead_; }
    CColorButton* PointButton(int point) const { return points_[static_cast<size_t>(point)]; }
    QPushButton* CloseButton() const { return close_; }
    const CalibrationWork& Work() const { return work_; }

public slots:
    // Close, Escape and the close box: what the user changed is kept.
    void reject() override;
    void ApplyEnabling();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Refresh();

    CalibrationWork work_;
    const TextSource& texts_;
    QLineEdit* result_ = nullptr;
    std::array<CalibrationFieldEdits, FIELD_COUNT> edits_{};
    QLineEdit* pointRead_ = nullptr;
    std::array<CColorButton*, 4> points_{};
    QPushButton* close_ = nullptr;
    QTimer* timer_ = nullptr;
    bool showing_ = false; // the dialog checks the decimal point itself
};
