#include "CalibrationCommand.h"

#include <ostream>

#include "CliRun.h"
#include "engine/CalibrationData.h"
#include "engine/QlnState.h"

namespace {
constexpr const char* STEP_WORDS[] = {"", "start", "check", "stop"};

// The request bit of each step and the notification that ends it.
struct StepRequest {
    uint32_t bit;
    uint32_t done;
};
constexpr StepRequest STEP_REQUESTS[] = {{0, 0},
                                         {CMD_START_CALIBRATION, NOTIFY_CALIBRATION_STARTED},
                                         {CMD_CHECK_CALIBRATION, NOTIFY_CALIBRATION_CHECKED},
                                         {CMD_STOP_CALIBRATION, NOTIFY_CALIBRATION_STOPPED}};

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

// The 26 rows read back, the spans, the offsets and the outside temperature; " -- " or null for
// what the valve has not reported.
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

// The end of a calibration step: the stage (the result's high nibble) for check and stop.
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

// Runs one calibration request with the project's record as what a write sends and what a read
// fills. Returns the exit status of a failure, or -1.
int Request(ValveRun& run, const ProjectFile& project, uint32_t bit, uint32_t done, const char* action) {
    StoreCalibration(run.State(), project.calibration);
    if (const int failed = run.Begin(action); failed >= 0) return failed;
    const uint32_t code = run.Request(bit, done);
    return run.End(code, done);
}
} // namespace

std::string ParseCalibrationStep(const std::string& word, Options& o) {
    for (int i = 1; i <= 3; ++i)
        if (word == STEP_WORDS[i]) {
            o.calibrationStep = static_cast<CalibrationStep>(i);
            return "";
        }
    return "unknown calibration step '" + word + "': use start, check or stop";
}

std::string CheckCalibrationArgs(const Options& o) {
    if (o.calibrationStep != CalibrationStep::Start && !o.file.empty())
        return std::string("calibration ") + STEP_WORDS[static_cast<int>(o.calibrationStep)] +
               " takes no file";
    return "";
}

int RunReadMatrix(CommandContext& c) {
    ValveRun run(c);
    if (const int failed = Request(run, c.project, CMD_READ_MATRIX, NOTIFY_MATRIX_READ, "read-matrix");
        failed >= 0)
        return failed;
    const CalibrationData read = CopyCalibration(run.State());
    PrintMatrix(read, c.o.json, c.out);
    if (c.o.file.empty()) return 0;
    // The whole record: the read-back values are new, everything else is the project's as loaded.
    c.project.calibration = read;
    return SaveProject(c.o.file, c.project, c.err);
}

// The calibration dialogs allow Write only when the project's calibration allows writing; so does
// qln-cli, unless the user insists.
int RunWriteMatrix(CommandContext& c) {
    if (MatrixWriteEnable(c.project.calibration) == 0) {
        if (!c.o.force) {
            c.err << "qln-cli: the calibration of '" << c.o.file
                  << "' does not allow writing (its write-enable byte is 0), so nothing was written. Use "
                     "--force to write it all the same.\n";
            return EXIT_USAGE;
        }
        c.err << "qln-cli: writing the calibration of '" << c.o.file
              << "' although it does not allow writing, because --force was given.\n";
    }
    ValveRun run(c);
    if (const int failed = Request(run, c.project, CMD_WRITE_MATRIX, NOTIFY_MATRIX_WRITTEN, "write-matrix");
        failed >= 0)
        return failed;
    if (c.o.json)
        c.out << "{\"written_rows\": " << MATRIX_TRANSFER_ROWS << "}\n";
    else
        c.out << "Wrote " << MATRIX_TRANSFER_ROWS
              << " matrix rows, the DAC spans, the PWM offsets and the outside temperature.\n";
    return 0;
}

int RunCalibration(CommandContext& c) {
    const CalibrationStep step = c.o.calibrationStep;
    const StepRequest r = STEP_REQUESTS[static_cast<int>(step)];
    ValveRun run(c);
    if (const int failed = Request(run, c.project, r.bit, r.done, "calibration"); failed >= 0) return failed;
    PrintCalibrationStep(step, run.Notifier().ValueOf(r.done), CopyCalibration(run.State()), c.o.json, c.out);
    return 0;
}
