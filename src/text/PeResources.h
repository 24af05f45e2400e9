#pragma once
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "text/LanguageLibrary.h"

// What a Windows resource DLL offers the language library: its string table and its menu 32024,
// as UTF-8, before the library's checks.
struct PeTexts {
    std::map<unsigned, std::string> strings;
    std::vector<LangMenuItem> menu;
    bool hasMenu = false;
};

// Reads the string table (RT_STRING) and menu 32024 (RT_MENU) of a Windows DLL held in memory,
// each in the first language the file holds for it. The file is only parsed as bytes: nothing of
// it is loaded, mapped or run. Every offset and length is checked against the file; a damaged file
// fails with the reason in *error and leaves *out empty.
//
// An empty string in a string block is no text (Windows reads it as missing). A Windows line break
// (CR LF) inside a text becomes a line feed.
bool ReadPeTexts(std::string_view file, PeTexts* out, std::string* error);

// True when the bytes start as a DOS executable does ("MZ"): the language library reads such a
// file as a Windows DLL.
bool StartsAsExecutable(std::string_view file);
