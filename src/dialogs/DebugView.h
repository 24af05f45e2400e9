#pragma once
#include <cstdint>
#include <string>

// What the debug dialog shows of the thirty engine variables: three pages of ten rows.
constexpr int kDebugVarCount = 30;
constexpr int kDebugRowsPerPage = 10;
// The value the comparison table starts with. A variable holding exactly this is never painted;
// its field keeps whatever it showed before.
constexpr uint32_t kDebugUnset = 0xFFFFFFFFu;

// The name of variable i (0..29), blank-padded to 19 characters; "" outside.
std::string DebugVarName(int i);
// Row label: "%d: %s" of the variable number and its padded name.
std::string DebugRowLabel(int i);
// "0x%08X " (eight upper-case digits and a trailing blank).
std::string DebugValueText(uint32_t v);
// The tab titles, in order.
const char* DebugTabTitle(int tab);
