#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "engine/CalibrationData.h"

// The calibration-mode commands of qln-cli (only with --cal, as the desktop program offers
// calibration only with -CAL): read-matrix [FILE], write-matrix FILE, calibration start|check|stop.

enum class CalibrationStep { None, Start, Check, Stop };

bool IsCalibrationCommand(const std::string& command);

// The arguments after the command: the project file and, for `calibration`, the step. Returns ""
// or the usage error.
std::string ParseCalibrationArgs(const std::vector<std::string>& positional, std::string& file,
                                 CalibrationStep& step);

// The request bit and the notification that ends it.
struct CalibrationRequest {
    uint32_t bit;
    uint32_t done;
};
CalibrationRequest CalibrationRequestFor(const std::string& command, CalibrationStep step);

// The 26 rows read back, the spans, the offsets and the outside temperature; " -- " or null for
// what the valve has not reported.
void PrintMatrix(const CalibrationData& c, bool json, std::ostream& out);
// The end of a calibration step: the stage (the result's high nibble) for check and stop.
void PrintCalibrationStep(CalibrationStep step, intptr_t stage, const CalibrationData& c, bool json,
                          std::ostream& out);
