#pragma once
#include <string>

// Project files keep their texts as Windows-1252, so they move between this program and Windows
// installations; everything else in the program is UTF-8.

// Every byte becomes its character; the five bytes Windows-1252 leaves undefined become U+FFFD.
std::string Cp1252ToUtf8(const std::string& text);
// Characters Windows-1252 cannot hold, and broken UTF-8, become '?'.
std::string Utf8ToCp1252(const std::string& text);
