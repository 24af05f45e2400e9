#pragma once
#include <QWidget>
#include <array>

#include "dialogs/CalibrationDialogRules.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class TextSource;

// The matrix panel that the calibration dialog and the calibration matrix dialog share: the array
// and temperature-row buttons, the ten values to be written beside the ten read back, and their
// labels. It works on the dialog's working copy.
class CCalibrationMatrixPanel : public QWidget {
    Q_OBJECT
public:
    // `named`: arrays 4 and 5 get their values' names as labels (the calibration dialog).
    CCalibrationMatrixPanel(QWidget* parent, CalibrationWork& work, const TextSource& texts, bool named);

    // The ten set-value edits into the selected row.
    void StoreRow();
    // The selection from the buttons, then the panel shown again.
    void TakeSelection();
    // Buttons, values, read-back values and labels from the working copy.
    void Show();
    void ApplyEnabling(const CalibrationEnabling& e);

    QRadioButton* ArrayButton(int array) const { return arrays_[static_cast<size_t>(array)]; }
    QRadioButton* RowButton(int row) const { return rows_[static_cast<size_t>(row)]; }
    QLineEdit* SetEdit(int j) const { return set_[static_cast<size_t>(j)]; }
    QLineEdit* ReadEdit(int j) const { return read_[static_cast<size_t>(j)]; }
    QLabel* Label(int j) const { return labels_[static_cast<size_t>(j)]; }

signals:
    // The user picked another array or row; the dialog applies its enable rule.
    void SelectionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int CheckedArray() const;
    int CheckedRow() const;
    void OnSelectionClicked();

    CalibrationWork& work_;
    const TextSource& texts_;
    bool named_;
    QGroupBox* values_ = nullptr;
    std::array<QRadioButton*, MATRIX_ARRAYS> arrays_{};
    std::array<QRadioButton*, MATRIX_ROWS> rows_{};
    std::array<QLineEdit*, MATRIX_VALUES> set_{};
    std::array<QLineEdit*, MATRIX_VALUES> read_{};
    std::array<QLabel*, MATRIX_VALUES> labels_{};
    bool showing_ = false; // the panel checks the buttons itself
};
