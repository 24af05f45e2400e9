#pragma once
// How a parameter's value reads wherever it is shown: the editor's pages, the printed pages and
// qln-cli alike.
#include <cstdint>
#include <string>

#include "params/ParameterTable.h"

class TextSource;

// `value` with `decimals` places and a '.' whatever the locale; "nan", "inf" and "-inf" as such.
std::string FixedText(double value, int decimals);

// The value in the field's format, with a '.' whatever the locale ("1.27", "-50", "0.5").
std::string FormatNumber(const ParameterDescription& p, double value);

// The text of a choice; a value outside the list shows as the number with a question mark
// ("7 (?)"), so a raw byte from the valve never indexes past the list.
std::string ChoiceStatusText(const ParameterDescription& p, int32_t value, const TextSource& texts);

constexpr int32_t STRUCTURE_CASCADED = 6;
constexpr int32_t STRUCTURE_FLOW = 7;
// The first feedback source is the flow sensor under flow control, the internal sensor otherwise.
unsigned FeedbackSourceText(int32_t controllerStructure);
