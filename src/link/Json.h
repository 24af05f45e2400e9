#pragma once
#include <string>

// `s` as a JSON string literal, quotes included: the quote, the backslash and every control
// character escaped; UTF-8 text passes unchanged, and each byte that is not UTF-8 (a name the
// system or a database handed over) becomes U+FFFD, so the output is always valid JSON.
std::string JsonQuote(const std::string& s);
