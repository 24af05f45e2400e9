#pragma once
#include <string>

// `s` as a JSON string literal, quotes included: the quote, the backslash and every control
// character escaped; other bytes (UTF-8 text) pass unchanged.
std::string JsonQuote(const std::string& s);
