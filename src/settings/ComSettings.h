#pragma once
#include <array>
#include <map>
#include <string>

#include "system/SerialDevice.h"

// The serial-port settings file QLN_com.ini in the program folder:
//
//   [SERIAL-PORT]
//   PORT=COM2
//   [DEVICES]            (optional)
//   COM2=/dev/ttyUSB0
//   [SPEEDS]             (optional, kept by the program)
//   /dev/ttyUSB0=57600
//   [HISTORY]            (optional)
//   DATABASE=postgresql://...   (or sqlite:PATH, or off; without it QLN_history.db here)
//   REQUIRED=1                  (a job whose entry the history cannot take is refused)
//   [SCOPE]              (optional, kept by the program)
//   STEP_FIGURES=0              (the scope view's step figures off; on without the key)
//
// The user chooses one of COM1..COM8; [DEVICES] says which device each name stands for, so a
// settings file moves between machines unchanged while each machine maps the names to its own
// adapters. The line speed is found by the engine; [SPEEDS] keeps the one each device answered at
// last, by the path as [DEVICES] or qln-cli's --device gives it, so that it is tried first.

constexpr int kComPortCount = 8;
constexpr const char* kComSettingsFile = "QLN_com.ini";

// "COM1".."COM8" for 0..7; "COM1" for any other index, as the file never holds an invalid name.
const char* ComName(int portIndex);

// The device each name stands for when [DEVICES] says nothing: "/dev/ttyS0".."/dev/ttyS7", or
// "\\.\COM1".."\\.\COM8" on Windows (COM1's for an index out of range).
std::string DefaultDevicePath(int portIndex);

// folder + "/QLN_com.ini", or "QLN_com.ini" in the working folder when folder is empty.
std::string ComSettingsPath(const std::string& folder);

struct ComSettings {
    int PortIndex = 0; // 0..7 for COM1..COM8
    // Set when an existing file names no port COM1..COM8: what was wrong and the port used instead,
    // for the user to see once (a missing file is the first start, not a fault).
    std::array<std::string, kComPortCount> DevicePath = DefaultSerialDevicePaths();
    // Which DevicePath entries [DEVICES] gave; the others are the defaults.
    std::array<bool, kComPortCount> Named{};
    std::string warning;
    // [SPEEDS]: 19200 or 57600 by device path; entries with any other value are left out.
    std::map<std::string, int> Speeds;
    // [HISTORY] DATABASE as written (the valve history's database); "" when absent.
    std::string HistoryDatabase;
    // [HISTORY] REQUIRED: any value but 0 (or none) makes recording a condition of every job.
    bool HistoryRequired = false;
    // [SCOPE] STEP_FIGURES: the step figures are shown unless the value is 0.
    bool StepFigures = true;
};

// Reads the file in `folder`. PORT must be exactly one of "COM1".."COM8" (upper case, nothing
// after the digit); anything else, or no file, selects COM1. A [DEVICES] entry that is empty, or
// cannot name a file (NUL byte, longer than a path can be), keeps the default device.
// The result is always usable. When an existing file cannot be read, *error says why.
ComSettings ReadComSettings(const std::string& folder, std::string* error = nullptr);

// Stores the port name for `portIndex` in the file in `folder`, creating the file when it is
// missing and keeping every other section, key and comment of an existing one.
// An existing file that cannot be read is left alone (rewriting it would drop the user's other
// entries): false is returned with the reason in *error, as for a failed write.
bool WriteComSettings(const std::string& folder, int portIndex, std::string* error = nullptr);

// Stores `device` as the [DEVICES] entry of `portIndex` ("COM3=/dev/serial/by-id/..."), keeping the
// rest of the file as WriteComSettings does. A path that the file could not give back as it is
// (empty, a line break or NUL, longer than a path can be) is refused with false and the reason.
bool WriteComDevice(const std::string& folder, int portIndex, const std::string& device,
                    std::string* error = nullptr);

// Stores whether the scope view shows the step figures, keeping the rest of the file as
// WriteComSettings does.
bool WriteStepFigures(const std::string& folder, bool shown, std::string* error = nullptr);

// The speed remembered for `devicePath` (19200 or 57600), or 0. The path must match exactly.
int RememberedSpeed(const ComSettings& settings, const std::string& devicePath);

// Stores `baud` (19200 or 57600) as the speed of `devicePath` in [SPEEDS] of the file in `folder`,
// keeping everything else; a missing file is created with PORT=COM1, which it meant anyway. Writes
// nothing when the entry is already there, or when the path cannot be a key of the file (blanks
// at either end, '=', a line break, a start that reads as a comment or header, or another entry
// spelt the same but for letter case, as keys are found regardless of case); that is no failure.
// False with the reason in *error for a file that cannot be read (left alone) or written.
bool WriteRememberedSpeed(const std::string& folder, const std::string& devicePath, int baud,
                          std::string* error = nullptr);
