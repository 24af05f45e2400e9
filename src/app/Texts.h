#pragma once
#include <string>

// Text identifiers the core uses.
enum TextId : unsigned {
    IDS_DATA_CHANGED = 1,
    IDS_COMMUNICATION_ERROR = 106,
    IDS_BAUDRATE_ERROR = 333,
    IDS_FIRMWARE_ZERO = 348,
    IDS_APP_TITLE = 32024,
};

// The program's own text for an id, or nullptr when it has none.
const char* BuiltinText(unsigned id);
// The text for an id: the language library's when one is loaded, else the program's own.
std::string LoadText(unsigned id);
