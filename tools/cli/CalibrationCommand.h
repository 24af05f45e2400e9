#pragma once
#include <string>

struct CommandContext;
struct Options;

// The calibration-mode commands of qln-cli (only with --cal, as the desktop program offers
// calibration only with -CAL): read-matrix [FILE], write-matrix FILE, calibration start|check|stop.

enum class CalibrationStep { None, Start, Check, Stop };

// The step after `calibration`: returns "" and keeps it in `o`, or the usage error.
std::string ParseCalibrationStep(const std::string& word, Options& o);
// What the step allows with it: only the start sends values of a project. "" or the usage error.
std::string CheckCalibrationArgs(const Options& o);

// Reads the 26 rows, the spans, the offsets and the outside temperature; " -- " or null for what
// the valve has not reported. With a project, they are kept as its read-back values.
int RunReadMatrix(CommandContext& c);
// Writes the matrix and the set values of the project.
int RunWriteMatrix(CommandContext& c);
// Starts, checks or stops the factory calibration; check and stop print the stage (the result's
// high nibble).
int RunCalibration(CommandContext& c);
