#pragma once
#include <cstdint>
#include <optional>
#include <string>

// The two field routines every dialog shares.

// The first '|' or '#' among the first 29 characters of a field's text: characters the program's
// files use as separators, so no field may hold them.
std::optional<char> FindForbiddenCharacter(const std::string& text);
// The text without that one character (its first occurrence).
std::string RemoveCharacter(const std::string& text, char c);

// An unsigned-number field: the run of leading digits (none gives 0), limited to `max`.
uint32_t UnsignedFieldValue(const std::string& text, uint32_t max);
