// The factory calibration (start, check, stop) and the calibration matrix transfers. The values
// sent come from the calibration record, the replies go back into it; both under its mutex.
#include <mutex>

#include "engine/Action.h"
#include "engine/CalibrationData.h"

namespace {
// What a telegram sends: zero, or one byte of the record's set values.
enum class CalData {
    Zero,
    StartMode,
    TemperatureSet,
    SpanP2Low,
    SpanP2High,
    SpanDpLow,
    SpanDpHigh,
    OffsetP2,
    OffsetDp
};
// What a value reply fills; None for an acknowledged write.
enum class CalField {
    None,
    TemperatureRead,
    Result,
    SpanP2Low,
    SpanP2High,
    SpanDpLow,
    SpanDpHigh,
    OffsetP2,
    OffsetDp
};

constexpr uint8_t CMD_CRR = 95;
constexpr uint8_t CMD_ARS = 115;
constexpr uint8_t CMD_WAS = 116;
constexpr uint8_t CMD_WAR = 117;
constexpr uint32_t WAR_REPLY_LENGTH = 12;

// Matrix transfers: step 0 prepares, 1..3 ARS, 4..6 the row, 7 picks the next row, then the tail.
constexpr uint32_t MATRIX_ROW_LOOP = 7;
constexpr uint32_t MATRIX_TAIL = 8;
constexpr uint32_t MATRIX_TAIL_COUNT = 7;

int32_t SendValue(const CalibrationData& c, CalData d) {
    switch (d) {
    case CalData::Zero:
        return 0;
    case CalData::StartMode:
        return c.StartMode == 1 || c.StartMode == 2 ? c.StartMode : 0;
    case CalData::TemperatureSet:
        return LowByte(c.OutsideTemperatureSet);
    case CalData::SpanP2Low:
        return LowByte(c.SpanP2Set);
    case CalData::SpanP2High:
        return SecondByte(c.SpanP2Set);
    case CalData::SpanDpLow:
        return LowByte(c.SpanDpSet);
    case CalData::SpanDpHigh:
        return SecondByte(c.SpanDpSet);
    case CalData::OffsetP2:
        return LowByte(c.OffsetP2Set);
    case CalData::OffsetDp:
        return LowByte(c.OffsetDpSet);
    }
    return 0;
}

// A value reply into the record. A 16-bit value takes its low byte first and is marked valid only
// when the high nibble has completed it.
void Decode(CalibrationData& c, CalField f, uint8_t b) {
    switch (f) {
    case CalField::None:
        break;
    case CalField::TemperatureRead:
        c.OutsideTemperatureRead = b;
        c.TemperaturesValid.value = 1;
        break;
    case CalField::Result:
        c.Result = b;
        c.ResultValid.value = 1;
        break;
    case CalField::SpanP2Low:
        c.SpanP2Read = b;
        break;
    case CalField::SpanP2High:
        c.SpanP2Read = WithHighNibble(c.SpanP2Read, b);
        c.SpanP2Valid.value = 1;
        break;
    case CalField::SpanDpLow:
        c.SpanDpRead = b;
        break;
    case CalField::SpanDpHigh:
        c.SpanDpRead = WithHighNibble(c.SpanDpRead, b);
        c.SpanDpValid.value = 1;
        break;
    case CalField::OffsetP2:
        c.OffsetP2Read = b;
        c.OffsetP2Valid.value = 1;
        break;
    case CalField::OffsetDp:
        c.OffsetDpRead = b;
        c.OffsetDpValid.value = 1;
        break;
    }
}

// The valid flag a field's reading completes: cleared before the value's first request, so that a
// failure part-way never leaves an old flag over a new half value.
uint8_t* ValidFlag(CalibrationData& c, CalField f) {
    switch (f) {
    case CalField::TemperatureRead:
        return &c.TemperaturesValid.value;
    case CalField::Result:
        return &c.ResultValid.value;
    case CalField::SpanP2Low:
    case CalField::SpanP2High:
        return &c.SpanP2Valid.value;
    case CalField::SpanDpLow:
    case CalField::SpanDpHigh:
        return &c.SpanDpValid.value;
    case CalField::OffsetP2:
        return &c.OffsetP2Valid.value;
    case CalField::OffsetDp:
        return &c.OffsetDpValid.value;
    case CalField::None:
        break;
    }
    return nullptr;
}
} // namespace

struct CalExchange {
    const char* name;
    uint8_t cmd;
    CalData data;
    CalField field;
};

namespace {
constexpr CalExchange SCS{"SCS", 80, CalData::StartMode, CalField::None};
constexpr CalExchange CTS{"CTS", 83, CalData::TemperatureSet, CalField::None};
constexpr CalExchange CTR{"CTR", 84, CalData::Zero, CalField::TemperatureRead};
constexpr CalExchange CRR{"CRR", CMD_CRR, CalData::Zero, CalField::Result};
constexpr CalExchange TCS{"TCS", 81, CalData::Zero, CalField::Result};
constexpr CalExchange OLR{"OLR", 92, CalData::Zero, CalField::SpanP2Low};
constexpr CalExchange OHR{"OHR", 94, CalData::Zero, CalField::SpanP2High};
constexpr CalExchange PLR{"PLR", 88, CalData::Zero, CalField::SpanDpLow};
constexpr CalExchange PHR{"PHR", 90, CalData::Zero, CalField::SpanDpHigh};
constexpr CalExchange OPR{"OPR", 148, CalData::Zero, CalField::OffsetP2};
constexpr CalExchange ODR{"ODR", 150, CalData::Zero, CalField::OffsetDp};
constexpr CalExchange OLS{"OLS", 91, CalData::SpanP2Low, CalField::None};
constexpr CalExchange OHS{"OHS", 93, CalData::SpanP2High, CalField::None};
constexpr CalExchange PLS{"PLS", 87, CalData::SpanDpLow, CalField::None};
constexpr CalExchange PHS{"PHS", 89, CalData::SpanDpHigh, CalField::None};
constexpr CalExchange ORS{"ORS", 147, CalData::OffsetP2, CalField::None};
constexpr CalExchange ODS{"ODS", 149, CalData::OffsetDp, CalField::None};

constexpr CalExchange START[] = {SCS, CTS, CTR};
constexpr CalExchange CHECK[] = {CRR, OLR, OHR, PLR, PHR};
constexpr CalExchange STOP[] = {TCS};
constexpr CalExchange WRITE_TAIL[] = {OLS, OHS, ORS, ODS, PLS, PHS, CTS};
constexpr CalExchange READ_TAIL[] = {OLR, OHR, OPR, ODR, PLR, PHR, CTR};
static_assert(sizeof READ_TAIL / sizeof READ_TAIL[0] == MATRIX_TAIL_COUNT);
static_assert(sizeof WRITE_TAIL / sizeof WRITE_TAIL[0] == MATRIX_TAIL_COUNT);

template <size_t N> constexpr uint32_t Count(const CalExchange (&)[N]) {
    return N;
}

void ClearValidFlags(CalibrationData& c, const CalExchange* seq, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (uint8_t* flag = ValidFlag(c, seq[i].field)) *flag = 0;
}
} // namespace

int SelectedArrayOf(const CalibrationData& c) {
    return c.SelectedArray >= 0 && c.SelectedArray < MATRIX_ARRAYS ? c.SelectedArray : 0;
}

int SelectedRowOf(const CalibrationData& c) {
    if (SelectedArrayOf(c) < SENSOR_ARRAY_FIRST) return 0;
    return c.SelectedRow >= 0 && c.SelectedRow < MATRIX_ROWS ? c.SelectedRow : 0;
}

// Arrays 0..3 are picked by 0, 10, 20, 30, arrays 4 and 5 by 240 and 250; the rows of array 6 by
// 40..130 and those of array 7 by 140..230.
MatrixStep MatrixTransferStep(int index) {
    static constexpr uint8_t SINGLE_ROW_SELECTORS[SENSOR_ARRAY_FIRST] = {0, 10, 20, 30, 240, 250};
    if (index < SENSOR_ARRAY_FIRST) return {index, 0, SINGLE_ROW_SELECTORS[index]};
    const int array = index < SENSOR_ARRAY_FIRST + MATRIX_ROWS ? SENSOR_ARRAY_FIRST : SENSOR_ARRAY_FIRST + 1;
    const int row = (index - SENSOR_ARRAY_FIRST) % MATRIX_ROWS;
    return {array, row, static_cast<uint8_t>((array == SENSOR_ARRAY_FIRST ? 40 : 140) + 10 * row)};
}

// Runs a list of single-byte exchanges; true when the last one has been answered.
bool ActionEngine::CalibrationSequence(uint32_t offset, const CalExchange* seq, uint32_t count) {
    if (offset >= count * 3) return true;
    const CalExchange& t = seq[offset / 3];
    uint8_t data = 0;
    {
        std::lock_guard<std::mutex> lock(s_.calibrationMutex);
        data = static_cast<uint8_t>(SendValue(s_.calibration, t.data));
    }
    if (Exchange(offset % 3, t.name, t.cmd, data, t.field == CalField::None ? 1 : 3) != Ex::Next)
        return false;
    if (offset % 3 == 2) {
        std::lock_guard<std::mutex> lock(s_.calibrationMutex);
        Decode(s_.calibration, t.field, l_.ReplyBuffer[1]);
        if (t.cmd == CMD_CRR) ++calibrationChecks_;
    }
    Advance();
    return false;
}

// The end value of check and stop: the result's high nibble. In test mode the canned valve always
// gives the same result, so the number of checks since the start stands in for it.
uint32_t ActionEngine::CalibrationEndValue() {
    std::lock_guard<std::mutex> lock(s_.calibrationMutex);
    if (l_.uTestMode.load() & 1) {
        s_.calibration.Result = static_cast<int32_t>(calibrationChecks_);
        return calibrationChecks_ % 16;
    }
    return ResultNibble(s_.calibration.Result);
}

void ActionEngine::StepStartCalibration(uint32_t offset) {
    if (offset == 0 && LinkIdle() && !s_.CancelRequested.load()) {
        QLN_TRACE_INFO(l_.trace, " Start Calibration ");
        calibrationChecks_ = 0;
        std::lock_guard<std::mutex> lock(s_.calibrationMutex);
        s_.calibration.SpanP2Valid.value = 0;
        s_.calibration.SpanDpValid.value = 0;
        ClearValidFlags(s_.calibration, START, Count(START));
    }
    if (CalibrationSequence(offset, START, Count(START)))
        Finish(CMD_START_CALIBRATION, NOTIFY_CALIBRATION_STARTED, 0, true);
}

void ActionEngine::StepCheckCalibration(uint32_t offset) {
    if (offset == 0 && LinkIdle() && !s_.CancelRequested.load()) {
        QLN_TRACE_INFO(l_.trace, " Check Calibration ");
        std::lock_guard<std::mutex> lock(s_.calibrationMutex);
        ClearValidFlags(s_.calibration, CHECK, Count(CHECK));
    }
    if (CalibrationSequence(offset, CHECK, Count(CHECK)))
        Finish(CMD_CHECK_CALIBRATION, NOTIFY_CALIBRATION_CHECKED, CalibrationEndValue());
}

void ActionEngine::StepStopCalibration(uint32_t offset) {
    if (offset == 0 && LinkIdle() && !s_.CancelRequested.load()) {
        QLN_TRACE_INFO(l_.trace, " Stop Calibration ");
        std::lock_guard<std::mutex> lock(s_.calibrationMutex);
        ClearValidFlags(s_.calibration, STOP, Count(STOP));
    }
    if (CalibrationSequence(offset, STOP, Count(STOP)))
        Finish(CMD_START_CALIBRATION | CMD_CHECK_CALIBRATION | CMD_STOP_CALIBRATION,
               NOTIFY_CALIBRATION_STOPPED, CalibrationEndValue());
}

void ActionEngine::StepWriteMatrix(uint32_t offset) {
    MatrixTransfer(offset, true);
}

void ActionEngine::StepReadMatrix(uint32_t offset) {
    MatrixTransfer(offset, false);
}

// Both directions: ARS picks a row, WAS writes it or WAR reads it, 26 times; then the single values.
// A failure restarts the action from step 0, so the loop starts again at array 0.
void ActionEngine::MatrixTransfer(uint32_t offset, bool write) {
    const CalExchange* tail = write ? WRITE_TAIL : READ_TAIL;
    if (offset == 0) {
        QLN_TRACE_INFO(l_.trace, write ? " Write Matrix " : " Read Matrix ");
        matrixIndex_ = 0;
        if (!write) {
            std::lock_guard<std::mutex> lock(s_.calibrationMutex);
            CalibrationData& c = s_.calibration;
            for (auto& array : c.ReadMatrix)
                for (auto& row : array)
                    row[MATRIX_ROW_VALID] = 0;
            ClearValidFlags(c, READ_TAIL, MATRIX_TAIL_COUNT);
        }
        Advance();
        return;
    }
    if (offset <= 3) {
        const MatrixStep m = MatrixTransferStep(matrixIndex_);
        if (Exchange(offset - 1, "ARS", CMD_ARS, m.selector, 1) == Ex::Next) Advance();
    } else if (offset <= 6 && write) {
        const MatrixStep m = MatrixTransferStep(matrixIndex_);
        uint8_t row[MATRIX_VALUES];
        {
            std::lock_guard<std::mutex> lock(s_.calibrationMutex);
            for (int j = 0; j < MATRIX_VALUES; ++j)
                row[j] = LowByte(s_.calibration.SetMatrix[m.array][m.row][j]);
        }
        if (ExchangeLong(offset - 4, "WAS", CMD_WAS, row, 1) == Ex::Next) Advance();
    } else if (offset <= 6) {
        if (Exchange(offset - 4, "WAR", CMD_WAR, 0, WAR_REPLY_LENGTH) != Ex::Next) return;
        if (offset == 6) {
            const MatrixStep m = MatrixTransferStep(matrixIndex_);
            std::lock_guard<std::mutex> lock(s_.calibrationMutex);
            int32_t* row = s_.calibration.ReadMatrix[m.array][m.row];
            for (int j = 0; j < MATRIX_VALUES; ++j)
                row[j] = l_.ReplyBuffer[1 + j];
            row[MATRIX_ROW_VALID] = 1;
        }
        Advance();
    } else if (offset == MATRIX_ROW_LOOP) {
        if (++matrixIndex_ < MATRIX_TRANSFER_ROWS)
            s_.ACTION_STEP.store(s_.ACTION_STEP.load() - (MATRIX_ROW_LOOP - 1));
        else
            Advance();
    } else if (CalibrationSequence(offset - MATRIX_TAIL, tail, MATRIX_TAIL_COUNT)) {
        Finish(write ? CMD_WRITE_MATRIX : CMD_READ_MATRIX, write ? NOTIFY_MATRIX_WRITTEN : NOTIFY_MATRIX_READ,
               0, true);
    }
}
