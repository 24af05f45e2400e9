#include "CalibrationCommand.h"

#include <ostream>

#include "engine/QlnState.h"

namespace {
constexpr const char* STEP_WORDS[] = {"", "start", "check", "stop"};

struct SingleRead {
    const char* key;
    const char* label;
    int32_t CalibrationData::*value;
    CalibrationFlag CalibrationData::*valid;
};
constexpr SingleRead SINGLE_READS[] = {
    {"span_p2_dac", "Span P2 DAC", &CalibrationData::SpanP2Read, &CalibrationData::SpanP2Valid},
    {"span_dp_dac", "Span dP DAC", &CalibrationData::SpanDpRead, &CalibrationData::SpanDpValid},
    {"offset_p2_pwm", "Offset P2 PWM", &CalibrationData::OffsetP2Read, &CalibrationData::OffsetP2Valid},
    {"offset_dp_pwm", "Offset dP PWM", &CalibrationData::OffsetDpRead, &CalibrationData::OffsetDpValid},
    {"outside_temperature", "Outside temperature", &CalibrationData::OutsideTemperatureRead,
     &CalibrationData::TemperaturesValid},
};
} // namespace

bool IsCalibrationCommand(const std::string& command) {
    return command == "read-matrix" || command == "write-matrix" || command == "calibration";
}

std::string ParseCalibrationArgs(const std::vector<std::string>& positional, std::string& file,
                                 CalibrationStep& step) {
    const std::string& command = positional[0];
    std::vector<std::string> rest(positional.begin() + 1, positional.end());
    if (command == "calibration") {
        if (rest.empty()) return "calibration needs start, check or stop";
        for (int i = 1; i <= 3; ++i)
            if (rest[0] == STEP_WORDS[i]) step = static_cast<CalibrationStep>(i);
        if (step == CalibrationStep::None)
            return "unknown calibration step '" + rest[0] + "': use start, check or stop";
        rest.erase(rest.begin());
        // Only the start sends values of a project: its start mode and outside temperature.
        if (step != CalibrationStep::Start && !rest.empty())
            return std::string("calibration ") + STEP_WORDS[static_cast<int>(step)] + " takes no file";
    }
    if (rest.size() > 1) return "too many arguments";
    if (command == "write-matrix" && rest.size() != 1) return "write-matrix needs exactly one project file";
    if (!rest.empty()) file = rest[0];
    return "";
}

CalibrationRequest CalibrationRequestFor(const std::string& command, CalibrationStep step) {
    if (command == "read-matrix") return {CMD_READ_MATRIX, NOTIFY_MATRIX_READ};
    if (command == "write-matrix") return {CMD_WRITE_MATRIX, NOTIFY_MATRIX_WRITTEN};
    switch (step) {
    case CalibrationStep::Start:
        return {CMD_START_CALIBRATION, NOTIFY_CALIBRATION_STARTED};
    case CalibrationStep::Check:
        return {CMD_CHECK_CALIBRATION, NOTIFY_CALIBRATION_CHECKED};
    default:
        return {CMD_STOP_CALIBRATION, NOTIFY_CALIBRATION_STOPPED};
    }
}

void PrintMatrix(const CalibrationData& c, bool json, std::ostream& out) {
    out << (json ? "{\"rows\": [" : "");
    for (int i = 0; i < MATRIX_TRANSFER_ROWS; ++i) {
        const MatrixStep m = MatrixTransferStep(i);
        const int32_t* row = c.ReadMatrix[m.array][m.row];
        const bool valid = row[MATRIX_ROW_VALID] != 0;
        if (json) {
            out << (i ? ", " : "") << "{\"array\": " << m.array << ", \"row\": " << m.row << ", \"values\": ";
            if (!valid) out << "null";
            for (int j = 0; valid && j < MATRIX_VALUES; ++j)
                out << (j ? ", " : "[") << row[j] << (j == MATRIX_VALUES - 1 ? "]" : "");
            out << "}";
            continue;
        }
        out << "array " << m.array << " row " << m.row << ":";
        for (int j = 0; j < MATRIX_VALUES; ++j)
            out << " " << (valid ? std::to_string(row[j]) : std::string("--"));
        out << "\n";
    }
    out << (json ? "]" : "");
    for (const SingleRead& r : SINGLE_READS) {
        const bool valid = (c.*r.valid).value != 0;
        const std::string v = valid ? std::to_string(c.*r.value) : std::string(json ? "null" : "--");
        if (json)
            out << ", \"" << r.key << "\": " << v;
        else
            out << r.label << ": " << v << "\n";
    }
    out << (json ? "}\n" : "");
}

void PrintCalibrationStep(CalibrationStep step, intptr_t stage, const CalibrationData& c, bool json,
                          std::ostream& out) {
    const char* word = STEP_WORDS[static_cast<int>(step)];
    if (step == CalibrationStep::Start) {
        out << (json ? "{\"calibration\": \"started\"}\n" : "Calibration started.\n");
        return;
    }
    const bool valid = c.ResultValid.value != 0;
    if (json) {
        out << "{\"calibration\": \"" << word << "\", \"result_nibble\": " << stage
            << ", \"result\": " << (valid ? std::to_string(c.Result) : std::string("null")) << "}\n";
        return;
    }
    out << "Calibration " << word << ": result " << stage << "\n";
}
