#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "params/ParameterTable.h"

class IniFile;

// The parameter visibility file QLN_para.ini in the program folder. One section per parameter
// group, two keys per parameter: K = "SHOW" or "HIDE" (may the editor change it) and VALUE_K (the
// value every new project starts with). Read once at start-up into the IniBlock and the
// visibility flags, then written straight back with every key, so after the first start the file
// lists all 57 parameters for the user to edit.

constexpr const char* kParameterIniFile = "QLN_para.ini";
constexpr int kIniParameterCount = INI_PARAMETER_COUNT;

// The rows are the parameter table's first INI_PARAMETER_COUNT rows (IniParameters()), in the order
// the file is written; VisibilityFlags[i] belongs to row i. Section = the row's page, key = its name.
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
