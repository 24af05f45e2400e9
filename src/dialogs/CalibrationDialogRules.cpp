#include "dialogs/CalibrationDialogRules.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "dialogs/CommonDialogRules.h"
#include "dialogs/ParameterPageRules.h"
#include "engine/QlnState.h"
#include "text/Texts.h"

namespace {
constexpr int MATRIX_VALUE_MAX = 255;
// Requests during which the calibration dialog may not close or take DAC and PWM edits.
constexpr uint32_t CALIBRATION_BUSY_BITS =
    CMD_START_CALIBRATION | CMD_CHECK_CALIBRATION | CMD_READ_MATRIX | CMD_WRITE_MATRIX;

constexpr const char* ARRAY4_NAMES[] = {"Corr.Setp.", "Corr.AOut", "Corr.AIn2", "DF.Low",
                                        "DF.High",    "Dec.Point", "PGA"};
constexpr const char* ARRAY5_NAMES[] = {"Prop.Gain", "Deri.Time", "For.Gain", "For.Offset"};

template <size_t N> std::string Named(const char* const (&names)[N], int j) {
    return j < static_cast<int>(N) ? names[j] : " ";
}

// The single values Copy takes: set value, read value, the read value's flag.
struct SingleValue {
    int32_t CalibrationData::*set;
    int32_t CalibrationData::*read;
    CalibrationFlag CalibrationData::*valid;
};
constexpr SingleValue SINGLE_VALUES[] = {
    {&CalibrationData::SpanP2Set, &CalibrationData::SpanP2Read, &CalibrationData::SpanP2Valid},
    {&CalibrationData::SpanDpSet, &CalibrationData::SpanDpRead, &CalibrationData::SpanDpValid},
    {&CalibrationData::OffsetP2Set, &CalibrationData::OffsetP2Read, &CalibrationData::OffsetP2Valid},
    {&CalibrationData::OffsetDpSet, &CalibrationData::OffsetDpRead, &CalibrationData::OffsetDpValid},
    {&CalibrationData::OutsideTemperatureSet, &CalibrationData::OutsideTemperatureRead,
     &CalibrationData::TemperaturesValid},
};
} // namespace

int32_t ReadSignedField(std::string& text, int32_t min, int32_t max) {
    int32_t v = 0;
    ValidateIntEdit(text, v, min, max);
    return v;
}

int32_t ReadUnsignedField(std::string& text, int32_t max) {
    const auto v = static_cast<int32_t>(UnsignedFieldValue(text.substr(0, 13), static_cast<uint32_t>(max)));
    text = std::to_string(v);
    return v;
}

std::string MatrixValueLabel(int array, int row, int j, bool named) {
    char buf[32];
    if (array >= SENSOR_ARRAY_FIRST) {
        std::snprintf(buf, sizeof buf,
                      " %d \xC2\xB0"
                      "C",
                      -20 + 10 * row + j);
        return buf;
    }
    if (named && array == 4) return Named(ARRAY4_NAMES, j);
    if (named && array == 5) return Named(ARRAY5_NAMES, j);
    std::snprintf(buf, sizeof buf, " %d %%", 10 * (j + 1));
    return buf;
}

std::string ReadValueText(int32_t value, bool valid, const TextSource& texts) {
    return valid ? std::to_string(value) : texts.Get(calibration_text::NO_VALUE);
}

CalibrationEnabling CalibrationEnable(uint32_t threadCmd, bool matrixCopied, uint8_t writeEnable, int array) {
    CalibrationEnabling e;
    if (threadCmd != 0) {
        if (threadCmd & CALIBRATION_BUSY_BITS) e.close = e.dacEdits = false;
        return e;
    }
    e.close = e.dacEdits = true;
    e.temperatureSet = e.arrays = e.setValues = e.read = true;
    e.copy = writeEnable != 0;
    e.write = writeEnable != 0 && matrixCopied;
    e.rows = array >= SENSOR_ARRAY_FIRST;
    return e;
}

CalibrationEnabling MatrixEnable(uint32_t threadCmd, bool matrixCopied, uint8_t writeEnable, int array) {
    CalibrationEnabling e = CalibrationEnable(threadCmd, matrixCopied, writeEnable, array);
    e.copy = e.temperatureSet = false;
    e.dacEdits.reset();
    e.close.reset();
    if (threadCmd == 0) e.close = true;
    if (threadCmd & CMD_START_CALIBRATION) e.close = false;
    return e;
}

CalibrationEnabling DisplayCalibrationEnable(uint32_t threadCmd) {
    CalibrationEnabling e;
    e.temperatureSet = threadCmd == 0;
    if (threadCmd == 0) e.close = true;
    if (threadCmd & CMD_START_CALIBRATION) e.close = false;
    return e;
}

CalibrationWork::CalibrationWork(QlnState& state, bool& matrixCopied)
    : s_(state), copied_(matrixCopied), work_(CopyCalibration(state)) {}

uint32_t CalibrationWork::ThreadCmd() const {
    return s_.THREAD_CMD.load();
}

std::array<std::string, MATRIX_VALUES>
CalibrationWork::StoreRow(std::array<std::string, MATRIX_VALUES> texts) {
    int32_t* row = work_.SetMatrix[Array()][Row()];
    for (int j = 0; j < MATRIX_VALUES; ++j)
        row[j] = ReadSignedField(texts[static_cast<size_t>(j)], 0, MATRIX_VALUE_MAX);
    return texts;
}

void CalibrationWork::Select(int array, int checkedRow) {
    work_.SelectedArray = array >= 0 && array < MATRIX_ARRAYS ? array : 0;
    if (work_.SelectedArray < SENSOR_ARRAY_FIRST)
        work_.SelectedRow = 0;
    else if (checkedRow >= 0 && checkedRow < MATRIX_ROWS)
        work_.SelectedRow = checkedRow;
}

void CalibrationWork::Commit() {
    std::lock_guard<std::mutex> lock(s_.calibrationMutex);
    if (std::memcmp(&work_, &s_.calibration, sizeof work_) != 0) changed_ = true;
    s_.calibration = work_;
}

bool CalibrationWork::Request(uint32_t bit) {
    if (ThreadCmd() != 0) return false;
    Commit();
    uint32_t idle = 0;
    if (!s_.THREAD_CMD.compare_exchange_strong(idle, bit)) return false;
    WakeEngine(s_.link);
    return true;
}

void CalibrationWork::Reload() {
    work_ = CopyCalibration(s_);
}

bool CalibrationWork::Copy() {
    if (ThreadCmd() != 0) return false;
    {
        std::lock_guard<std::mutex> lock(s_.calibrationMutex);
        CalibrationData& c = s_.calibration;
        // A value the valve has not (completely) reported would be written back as if it had.
        for (const SingleValue& v : SINGLE_VALUES) {
            if ((c.*v.valid).value != 0) c.*v.set = c.*v.read;
        }
        for (int a = 0; a < MATRIX_ARRAYS; ++a)
            for (int r = 0; r < MATRIX_ROWS; ++r)
                for (int j = 0; j < MATRIX_VALUES; ++j)
                    c.SetMatrix[a][r][j] = c.ReadMatrix[a][r][j];
    }
    Reload();
    changed_ = true;
    copied_ = true;
    return true;
}
