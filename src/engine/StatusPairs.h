#pragma once
#include <span>

#include "engine/DeviceRecords.h"

// The eight yes/no fields of the valve status as the user reads them: value 1 is the first
// caption, 2 the second. The status dialog shows them as radio pairs, qln-cli as lines and JSON
// keys. Captions come from the language library when one is loaded (the text ids).
struct StatusPair {
    int32_t StatusInfo::*field;
    const char* key; // qln-cli's JSON key
    unsigned groupText;
    const char* groupCaption;
    unsigned firstText;
    const char* firstCaption;
    unsigned secondText;
    const char* secondCaption;
};
// The eight pairs in the order the dialog shows them.
std::span<const StatusPair> StatusPairs();
