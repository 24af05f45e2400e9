#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/CalibrationData.h"

struct QlnState;
class TextSource;

// The rules of the three calibration dialogs that need no widget: the field readers, the labels of
// the matrix values, which control is enabled, and what the buttons do to the working copy, the
// shared record and the request word.

// The texts the calibration dialogs and their matrix panel share.
namespace calibration_text {
inline constexpr unsigned CLOSE = 334;
inline constexpr unsigned CLOSE_KEEPS = 440; // Close's tip: the edits are kept
inline constexpr unsigned TITLE = 84;        // the calibration and the display calibration
inline constexpr unsigned NO_VALUE = 134;    // " -- ": nothing valid read
inline constexpr unsigned OUTSIDE = 139;
inline constexpr unsigned WRITE = 143;
inline constexpr unsigned READ = 144;
} // namespace calibration_text

// Leaving an edit: the signed reader (leading number with its minus sign) and the unsigned one
// (leading digits); an empty text gives 0; the value is limited and the text written back.
int32_t ReadSignedField(std::string& text, int32_t min, int32_t max);
int32_t ReadUnsignedField(std::string& text, int32_t max);

// The label beside matrix value j of the given array and row: percent steps, the calibration
// dialog's names for arrays 4 and 5 (`named`), degrees for the sensor arrays.
std::string MatrixValueLabel(int array, int row, int j, bool named);
// A value read from the valve: "%d" when valid, else text 134 " -- ".
std::string ReadValueText(int32_t value, bool valid, const TextSource& texts);

// Enabling. nullopt: the control keeps its state.
struct CalibrationEnabling {
    bool write = false, read = false, copy = false;
    bool arrays = false, rows = false, setValues = false, temperatureSet = false;
    std::optional<bool> close, dacEdits;
};
// The calibration dialog. Copy needs the write-enable byte; Write needs it and a Copy before.
CalibrationEnabling CalibrationEnable(uint32_t threadCmd, bool matrixCopied, uint8_t writeEnable, int array);
// The matrix dialog: the matrix panel's rules, Close kept open unless a calibration starts.
CalibrationEnabling MatrixEnable(uint32_t threadCmd, bool matrixCopied, uint8_t writeEnable, int array);
// The display calibration dialog: only the outside temperature and Close depend on the engine.
CalibrationEnabling DisplayCalibrationEnable(uint32_t threadCmd);

// The working copy of a calibration dialog, taken when the dialog opens. The window thread owns it;
// it reaches the shared record only through Commit (and Copy), before a request bit is set.
class CalibrationWork {
public:
    // `matrixCopied`: the program's flag that a Copy was made (cleared by New Project).
    CalibrationWork(QlnState& state, bool& matrixCopied);

    CalibrationData& Data() { return work_; }
    const CalibrationData& Data() const { return work_; }
    int Array() const { return SelectedArrayOf(work_); }
    int Row() const { return SelectedRowOf(work_); }
    uint32_t ThreadCmd() const;
    bool MatrixCopied() const { return copied_; }
    bool Changed() const { return changed_; }

    // The ten set-value edits into the selected row (limits 0 and 255); returns them as shown.
    std::array<std::string, MATRIX_VALUES> StoreRow(std::array<std::string, MATRIX_VALUES> texts);
    // A new selection from the radio buttons: the array checked, and the row checked or -1 (none),
    // which keeps the row. Outside the sensor arrays the row is 0.
    void Select(int array, int checkedRow);
    // Into the shared record; marks the dialog changed when the record differed.
    void Commit();
    // Commit, then the request, only while the engine is idle; true when requested.
    bool Request(uint32_t bit);
    // The shared record's values into the working copy (after an engine notification).
    void Reload();
    // Copy: each single set value from its read value where that is valid, every matrix row's read
    // values into the set values, the working copy then reloaded. Only while the engine is idle.
    bool Copy();

private:
    QlnState& s_;
    bool& copied_;
    CalibrationData work_;
    bool changed_ = false;
};
