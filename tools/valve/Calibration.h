#pragma once
#include <array>
#include <optional>

#include "ValveTypes.h"

namespace valve {

// The factory calibration: a run started by SCS advances one stage with each check (CRR) and
// ends with TCS; a run that went through all stages counts as a calibration and dates it. The
// calibration matrix is 26 rows of ten bytes, chosen by the ARS selector.
class Calibration {
public:
    static constexpr int STAGES = 5;
    static constexpr int MATRIX_ROWS = 26;
    static constexpr int ROW_BYTES = 10;
    using Row = std::array<uint8_t, ROW_BYTES>;

    Calibration();

    bool Start(uint8_t mode);                 // SCS; modes 0, 1, 2
    uint8_t Check();                          // CRR
    uint8_t Finish(const BcdDate& today);     // TCS
    bool Running() const { return running_; } // between SCS and TCS

    // ARS: selectors are the multiples of 10 from 0 to 250.
    bool SelectRow(uint8_t selector);
    void WriteRow(std::span<const uint8_t> bytes); // WAS
    const Row& SelectedRow() const { return matrix_[row_]; }

    // The calibration history reported in the counter record (OCR).
    uint8_t Counter() const { return counter_; }
    const BcdDate& Date() const { return date_; }
    uint8_t Status() const { return status_; }

private:
    // High nibble: the stage reached; low nibble: the start mode of the run.
    uint8_t Result() const { return static_cast<uint8_t>(stage_ << 4 | mode_); }

    bool running_ = false;
    uint8_t mode_ = 0;
    int stage_ = 0;
    uint8_t counter_ = 3;
    BcdDate date_{0x23, 0x11, 0x08};
    uint8_t status_ = 1; // 1 calibrated
    std::array<Row, MATRIX_ROWS> matrix_{};
    size_t row_ = 0;
};

} // namespace valve
