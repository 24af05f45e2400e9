#pragma once
#include <cstddef>
#include <cstdint>

// The factory calibration record: the matrix to be written and the one read back, the DAC spans,
// the PWM offsets, the outside temperature and the display settings. Project files store it byte
// for byte as their fifth record, so every offset below is a file format and never moves. Words
// are little-endian 32-bit; a flag is one byte at the start of its word.

constexpr int MATRIX_ARRAYS = 8;
constexpr int MATRIX_ROWS = 10;
constexpr int MATRIX_VALUES = 10;
constexpr int MATRIX_ROW_WORDS = 11; // ten values and, in the read-back matrix, the row-valid flag
constexpr int MATRIX_ROW_VALID = 10;
// A matrix transfer moves one row of each of arrays 0..5 and all ten rows of arrays 6 and 7.
constexpr int MATRIX_TRANSFER_ROWS = 26;
constexpr int SENSOR_ARRAY_FIRST = 6; // arrays 6 and 7 have a row per ten degrees

using MatrixRow = int32_t[MATRIX_ROW_WORDS];
using Matrix = MatrixRow[MATRIX_ARRAYS][MATRIX_ROWS];

struct CalibrationFlag {
    uint8_t value;
    uint8_t pad[3];
};

struct CalibrationData {
    int32_t StartMode;     // 0, 1 or 2, sent by Start Calibration
    int32_t SelectedArray; // 0..7 as stored; a file may hold anything, see SelectedArrayOf
    int32_t SelectedRow;   // 0..9
    int32_t OutsideTemperatureRead;
    int32_t OutsideTemperatureSet; // 0..40 degrees C
    int32_t ValveTemperatureRead;
    CalibrationFlag TemperaturesValid;
    int32_t Unused28[2];
    int32_t SpanP2Read;
    CalibrationFlag SpanP2Valid;
    int32_t SpanP2Set; // 0..4095
    int32_t SpanDpRead;
    CalibrationFlag SpanDpValid;
    int32_t SpanDpSet; // 0..4095
    Matrix SetMatrix;
    // Word 10 of each row is its row-valid flag. The flag of the very last row (array 7, row 9)
    // lies at offset 7096, where the matrix write-enable byte lies as well: stored files carry
    // that byte there, so the two stay one word (see MatrixWriteEnable).
    Matrix ReadMatrix;
    CalibrationFlag ResultValid;
    int32_t Result; // the valve's last calibration status byte
    int32_t DisplayFactor;
    int32_t Unused7112;
    CalibrationFlag DisplayFactorValid;
    int32_t DecimalPoint; // 0 none, 1 right, 2 middle, 3 left
    int32_t DecimalPointRead;
    CalibrationFlag DecimalPointReadValid;
    float FormatVersion; // 1.01 whenever a project is saved
    int32_t OffsetP2Read;
    CalibrationFlag OffsetP2Valid;
    int32_t OffsetP2Set; // 0..255
    int32_t OffsetDpRead;
    CalibrationFlag OffsetDpValid;
    int32_t OffsetDpSet; // 0..255
    uint8_t Unused7160[372];
};

static_assert(sizeof(CalibrationData) == 7532);
static_assert(offsetof(CalibrationData, StartMode) == 0);
static_assert(offsetof(CalibrationData, SelectedArray) == 4);
static_assert(offsetof(CalibrationData, SelectedRow) == 8);
static_assert(offsetof(CalibrationData, OutsideTemperatureRead) == 12);
static_assert(offsetof(CalibrationData, OutsideTemperatureSet) == 16);
static_assert(offsetof(CalibrationData, ValveTemperatureRead) == 20);
static_assert(offsetof(CalibrationData, TemperaturesValid) == 24);
static_assert(offsetof(CalibrationData, Unused28) == 28);
static_assert(offsetof(CalibrationData, SpanP2Read) == 36);
static_assert(offsetof(CalibrationData, SpanP2Valid) == 40);
static_assert(offsetof(CalibrationData, SpanP2Set) == 44);
static_assert(offsetof(CalibrationData, SpanDpRead) == 48);
static_assert(offsetof(CalibrationData, SpanDpValid) == 52);
static_assert(offsetof(CalibrationData, SpanDpSet) == 56);
static_assert(offsetof(CalibrationData, SetMatrix) == 60);
static_assert(offsetof(CalibrationData, ReadMatrix) == 3580);
static_assert(offsetof(CalibrationData, ResultValid) == 7100);
static_assert(offsetof(CalibrationData, Result) == 7104);
static_assert(offsetof(CalibrationData, DisplayFactor) == 7108);
static_assert(offsetof(CalibrationData, DisplayFactorValid) == 7116);
static_assert(offsetof(CalibrationData, DecimalPoint) == 7120);
static_assert(offsetof(CalibrationData, DecimalPointRead) == 7124);
static_assert(offsetof(CalibrationData, DecimalPointReadValid) == 7128);
static_assert(offsetof(CalibrationData, FormatVersion) == 7132);
static_assert(offsetof(CalibrationData, OffsetP2Read) == 7136);
static_assert(offsetof(CalibrationData, OffsetP2Valid) == 7140);
static_assert(offsetof(CalibrationData, OffsetP2Set) == 7144);
static_assert(offsetof(CalibrationData, OffsetDpRead) == 7148);
static_assert(offsetof(CalibrationData, OffsetDpValid) == 7152);
static_assert(offsetof(CalibrationData, OffsetDpSet) == 7156);
static_assert(offsetof(CalibrationData, Unused7160) == 7160);

// The matrix write-enable byte: the low byte of the last read-back row's valid word.
constexpr size_t MATRIX_WRITE_ENABLE_OFFSET = 7096;
static_assert(offsetof(CalibrationData, ReadMatrix) +
                  sizeof(int32_t) *
                      (((MATRIX_ARRAYS - 1) * MATRIX_ROWS + MATRIX_ROWS - 1) * MATRIX_ROW_WORDS +
                       MATRIX_ROW_VALID) ==
              MATRIX_WRITE_ENABLE_OFFSET);
inline uint8_t MatrixWriteEnable(const CalibrationData& c) {
    return reinterpret_cast<const uint8_t*>(&c)[MATRIX_WRITE_ENABLE_OFFSET];
}

// The selection as stored may come from any file: these give the array (0..7) and the row (0..9,
// always 0 outside the sensor arrays) that may index the matrix.
int SelectedArrayOf(const CalibrationData& c);
int SelectedRowOf(const CalibrationData& c);

// One row of a matrix transfer: which array and row, and the ARS selector that picks it.
struct MatrixStep {
    int array;
    int row;
    uint8_t selector;
};
// Transfer row `index` (0..25): arrays 0..5 row 0, then array 6 rows 0..9, then array 7 rows 0..9.
MatrixStep MatrixTransferStep(int index);

// A 16-bit calibration value goes out as two bytes, low first; it comes back as the low byte and
// the low nibble of the high byte (0..4095).
inline uint8_t LowByte(int32_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}
inline uint8_t SecondByte(int32_t v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}
inline int32_t WithHighNibble(int32_t low, uint8_t high) {
    return (low & 0xFF) | (high & 0x0F) << 8;
}
// The stage a calibration result reports: its high nibble.
inline uint32_t ResultNibble(int32_t result) {
    return static_cast<uint32_t>(result / 16) % 16;
}
