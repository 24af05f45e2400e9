#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/CalibrationData.h"
#include "engine/DeviceRecords.h"
#include "params/ParameterBlock.h"
#include "project/ProjectLayout.h"
#include "scope/ScopeSetup.h"
#include "text/Encoding.h"

// A project: everything set up or recorded for one valve, kept in one .QPJ file that is the raw
// image of seven fixed-size records (little-endian, texts as zero-terminated Windows-1252 arrays),
// so files move between this program and every installation that ever saved a project.

// Record 1: the project's description.
struct ProjectInfo {
    char ProjectName[25];
    char FileName[30]; // with extension, without folder
    char Path[260];
    uint8_t Padding;
    uint32_t Version; // 0..999999
    char Company[30];
    char Address[30];
    char City[30];
    char Phone[30];
    char Email[30];
    uint8_t Unused[402];
};
static_assert(sizeof(ProjectInfo) == 872);
static_assert(offsetof(ProjectInfo, FileName) == 25);
static_assert(offsetof(ProjectInfo, Path) == 55);
static_assert(offsetof(ProjectInfo, Version) == 316);
static_assert(offsetof(ProjectInfo, Company) == 320);
static_assert(offsetof(ProjectInfo, Address) == 350);
static_assert(offsetof(ProjectInfo, City) == 380);
static_assert(offsetof(ProjectInfo, Phone) == 410);
static_assert(offsetof(ProjectInfo, Email) == 440);
static_assert(offsetof(ProjectInfo, Unused) == 470);

// Record 2: the serial setpoint the PC sends instead of the valve's setpoint input.
struct SerialSetpointRecord {
    float Setpoint; // percent
    int32_t Active;
    uint8_t Unused[400];
};
static_assert(sizeof(SerialSetpointRecord) == 408);

// Record 5 is the CalibrationData record (engine/CalibrationData.h); the file-format version lies
// in it at offset 7132.
constexpr size_t CALIBRATION_VERSION_OFFSET = 7132;
static_assert(offsetof(CalibrationData, FormatVersion) == CALIBRATION_VERSION_OFFSET);
constexpr uint32_t FORMAT_VERSION_BITS = 0x3F8147AE; // 1.01 as a float

struct ProjectFile {
    ProjectInfo info;
    SerialSetpointRecord serialSetpoint;
    ParameterBlock editBlock; // the working parameter set
    ScopeSetup scopeSetup;
    CalibrationData calibration;
    DeviceInfo deviceInfo;   // the valve's identity as last read
    uint8_t samples[163200]; // the last recording: eight channels of 5100 samples of 4 bytes
};
static_assert(sizeof(ProjectFile) == PROJECT_FILE_SIZE);
static_assert(offsetof(ProjectFile, info) == PROJECT_INFO_RECORD.offset);
static_assert(offsetof(ProjectFile, serialSetpoint) == SERIAL_SETPOINT_RECORD.offset);
static_assert(offsetof(ProjectFile, editBlock) == EDIT_BLOCK_RECORD.offset);
static_assert(offsetof(ProjectFile, scopeSetup) == SCOPE_SETUP_RECORD.offset);
static_assert(offsetof(ProjectFile, calibration) == CALIBRATION_RECORD.offset);
static_assert(offsetof(ProjectFile, deviceInfo) == DEVICE_INFO_RECORD.offset);
static_assert(offsetof(ProjectFile, samples) == SAMPLE_BUFFER_RECORD.offset);

constexpr const char* PROJECT_EXTENSION = "QPJ";

// The project of a fresh start and of New Project: every record cleared, the scope set-up's
// defaults, the name "UNKNOWN" and the file and path "UNKNOWN.QPJ". The caller puts the settings
// file's defaults into editBlock.
void ResetProject(ProjectFile& p);

// A file name (UTF-8) as the project keeps it: cut at its first dot when that leaves at most 25
// characters, otherwise after 25 characters (never inside a character), then ".QPJ"
// ("plant.txt" -> "plant.QPJ").
std::string AdjustExtension(const std::string& name);

// The part of a path after its last '/' or '\' (a path stored by a Windows installation).
std::string FileNameOfPath(const std::string& path);

// The project's real path, as the program keeps it beside the records (UTF-8, whatever Windows-1252
// can spell): a relative path (a new project's "UNKNOWN.QPJ", a name typed on the command line) lies
// in `folder`, the program folder; an absolute one stays as it is, and so does every path when the
// folder is unknown ("").
std::string ProjectPathIn(const std::string& folder, const std::string& path);
// The file name a project shows: the one its record keeps, spelt as the file at `realPath` is when
// the record holds that name as far as Windows-1252 can ("Ventil?A.QPJ" for "Ventil\u2192A.QPJ"). A
// file renamed outside the program keeps showing the name stored in it.
std::string ShownFileName(const ProjectInfo& info, const std::string& realPath);

// A text field of a record as a string: up to its first zero, never beyond its size.
template <size_t N> std::string FieldText(const char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return std::string(field, n);
}
// Stores `text` cut to N-1 characters, zero-filled, so the field is always terminated.
template <size_t N> void SetFieldText(char (&field)[N], const std::string& text) {
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (size_t i = 0; i < N; ++i)
        field[i] = i < n ? text[i] : '\0';
}

// The names in the records (project, file and path) are Windows-1252; the file system's and the
// program's are UTF-8. A character that Windows-1252 cannot hold is stored as '?'.
template <size_t N> std::string FieldName(const char (&field)[N]) {
    return Cp1252ToUtf8(FieldText(field));
}
template <size_t N> void SetFieldName(char (&field)[N], const std::string& utf8) {
    SetFieldText(field, Utf8ToCp1252(utf8));
}

float FormatVersion(const ProjectFile& p);

// Reads a project file. Any regular file of any length is read: a short one leaves the records it
// does not reach as reset (so the caller resets first), a longer one is read up to the project's
// size. Text fields are terminated, binary channels 1 and 4 are set to their fixed signals, and the
// path becomes the one actually opened (the stored file name is kept). A folder, a pipe or a device
// is refused at once without blocking: false with the reason in *error, and `p` is unchanged.
bool ReadProjectFile(const std::string& path, ProjectFile& p, std::string* error);

// Writes the project to `path` without ever leaving a half-written file: a temporary file beside
// it is written, flushed to the disk and renamed over the old one, then the folder is flushed.
// Stores the path (at most 259 characters) and its file name (at most 29) in the project and the
// format version 1.01 first. On any failure the old file is as it was, a temporary file is removed,
// and false is returned with the path and the system's reason in *error.
bool WriteProjectFile(const std::string& path, ProjectFile& p, std::string* error);
