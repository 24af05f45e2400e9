#pragma once
#include <string>

#include "system/Host.h"

// The command-line switches. Each is found as a substring anywhere in the upper-cased command line
// (its first 199 characters): no separators, no order, no values, so "-logx-cal" sets both.
struct Switches {
    bool log = false;      // "-LOG": write the trace file debug.txt
    bool cal = false;      // "-CAL": keep the calibration commands in the menu
    bool testMode = false; // "-TESTSIO": the built-in simulated valve, no serial traffic

    friend bool operator==(const Switches&, const Switches&) = default;
};

Switches ParseSwitches(const std::string& commandLine);

// The command line as the switches are looked for in it: the arguments after the program name,
// joined by single blanks (the program's own path is not part of it, so a folder named
// "my-calibration" does not switch calibration mode on).
std::string CommandLineOf(int argc, const char* const* argv);

// What `qln --help` or `qln --version` prints when that is the only argument; "" for any other
// command line, whose switches are looked for as ever.
std::string ProgramInfoText(int argc, const char* const* argv);

// The creation time of the program file (its birth time where the file system keeps one, else its
// modification time) in local time, formatted "%Y%m%d %H%M%S"; empty when the file's status
// cannot be read.
std::string BuildStamp(const std::string& programPath);

// The program folder (ProgramFolder: the current working directory at start-up, empty when it
// cannot be read) holds the language library, the help file and the settings files.

// Where the language library is looked for: folder + "/" + "Lang_dll.DLL" (the bare file name
// when the folder is empty).
std::string LanguageLibraryPath(const std::string& programFolder);

// "LANGUAGE DLL missing '<path>' !", shown when no language library could be loaded.
std::string MissingLibraryText(const std::string& path);
// Shown, with the caption REFUSED_LIBRARY_CAPTION, when a language library is there but damaged or
// refused: the file is not missing, and the user should know what to do about it.
std::string RefusedLibraryText(const std::string& path, const std::string& error);
constexpr const char* REFUSED_LIBRARY_CAPTION = "Language Library";
