#include "Calibration.h"

#include <algorithm>

namespace valve {

namespace {
constexpr uint8_t SELECTOR_STEP = 10;
constexpr uint8_t LAST_SELECTOR = 250;
constexpr uint8_t MAX_START_MODE = 2;
constexpr uint8_t STATUS_CALIBRATED = 1;
} // namespace

Calibration::Calibration() {
    // As delivered: offset and gain rows, and two rising linearisation curves.
    for (size_t r = 0; r < matrix_.size(); ++r)
        for (size_t j = 0; j < ROW_BYTES; ++j)
            matrix_[r][j] = static_cast<uint8_t>(r < 4 || r > 23 ? 0x80 + r : (r % 10) * 20 + j * 2);
}

bool Calibration::Start(uint8_t mode) {
    if (mode > MAX_START_MODE) return false;
    running_ = true;
    mode_ = mode;
    stage_ = 0;
    return true;
}

uint8_t Calibration::Check() {
    if (running_) stage_ = std::min(stage_ + 1, 15);
    return Result();
}

uint8_t Calibration::Finish(const BcdDate& today) {
    if (running_ && stage_ >= STAGES) {
        ++counter_;
        date_ = today;
        status_ = STATUS_CALIBRATED;
    }
    running_ = false;
    return Result();
}

bool Calibration::SelectRow(uint8_t selector) {
    if (selector % SELECTOR_STEP != 0 || selector > LAST_SELECTOR) return false;
    row_ = selector / SELECTOR_STEP;
    return true;
}

void Calibration::WriteRow(std::span<const uint8_t> bytes) {
    std::copy_n(bytes.begin(), std::min(bytes.size(), matrix_[row_].size()), matrix_[row_].begin());
}

} // namespace valve
