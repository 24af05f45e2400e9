#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "params/ParameterBlock.h"

class IniFile;

// The parameter visibility file QLN_para.ini in the program folder. One section per parameter
// group, two keys per parameter: K = "SHOW" or "HIDE" (may the editor change it) and VALUE_K (the
// value every new project starts with). Read once at start-up into the IniBlock and the
// visibility flags, then written straight back with every key, so after the first start the file
// lists all 57 parameters for the user to edit.

constexpr const char* kParameterIniFile = "QLN_para.ini";
constexpr int kIniParameterCount = 57;

enum class IniValueType {
    Int,            // "%d"
    Fixed2,         // two decimals, e.g. "1.00"
    Fixed1,         // one decimal, e.g. "0.5"
    DelaySeconds,   // file: 5, 10, .. 40 s; block: index 0..7
    CoilOnSeconds,  // file: 0.5, 1.0, 2.0, 4.0 s; block: index 0..3
    CoilOffSeconds, // file: 2, 4, .. 16 s; block: index 0..7
};

struct IniParameterRow {
    const char* section;
    const char* key; // the flag key; the value key is "VALUE_" + key
    IniValueType type;
    const char* def; // the value text used when VALUE_K is missing
    uint16_t offset; // the ParameterBlock field it fills
};

// The 57 rows in the order the file is written; VisibilityFlags[i] belongs to row i.
const std::array<IniParameterRow, kIniParameterCount>& IniParameterRows();

using VisibilityFlagArray = uint8_t[kIniParameterCount];

// folder + "/QLN_para.ini", or "QLN_para.ini" in the working folder when folder is empty.
std::string ParameterIniPath(const std::string& folder);

// Fills the row fields of `block`, the flags and PARAMETER_SET (0, Custom) from `ini`. Missing keys
// take their defaults: shown, value from the table. A flag is set only by exactly "SHOW".
// Every other field of the block is left as it is.
void ReadParameterIni(const IniFile& ini, ParameterBlock& block, VisibilityFlagArray& flags);
// Sets both keys of every row in `ini`, keeping whatever else the file holds.
void StoreParameterIni(IniFile& ini, const ParameterBlock& block, const VisibilityFlagArray& flags);

// The file in `folder`. A missing file is not an error (the defaults apply); an existing file that
// cannot be read returns false with the reason in *error, and the defaults still apply.
bool ReadParameterIniFile(const std::string& folder, ParameterBlock& block, VisibilityFlagArray& flags,
                          std::string* error = nullptr);
// Writes every row into the file in `folder`, creating it when missing and keeping the user's other
// lines. An existing file that cannot be read is left alone rather than replaced by a file that
// would lose those lines; false with the reason in *error, as for a failed write.
bool WriteParameterIniFile(const std::string& folder, const ParameterBlock& block,
                           const VisibilityFlagArray& flags, std::string* error = nullptr);

// Number conversions of the file, independent of the user's locale: leading blanks skipped, an
// optional sign, as many characters as form a number; nothing usable gives 0.
int32_t IniToInt(const std::string& text);
double IniToDouble(const std::string& text);
// "%1.2f" / "%1.1f" with a '.' whatever the locale.
std::string IniFixed(double value, int decimals);
