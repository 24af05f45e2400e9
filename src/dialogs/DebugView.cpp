#include "dialogs/DebugView.h"

#include <cstdio>

namespace {
const char* const NAMES[kDebugVarCount] = {
    "0 THREAD_STEP",
    "1 THREAD_CMD",
    "2 SEND_STATE",
    "3 RECEIVE_STATE",
    "4 RETRY",
    "5",
    "6 ACTION_STEP",
    "7 ACTION_RETRY",
    "8 ACTION_RETRY_STEP",
    "9 ACTION_SUB_CMD",
    "xA",
    "xB",
    "xC",
    "xD",
    "xF",
    "x10",
    "x11",
    "x12",
    "x13",
    "x14",
    "x15",
    "x16",
    "x17",
    "x18",
    "x19",
    "x1A",
    "x1B",
    "x1C",
    "x1D",
    "x1E",
};
} // namespace

std::string DebugVarName(int i) {
    if (i < 0 || i >= kDebugVarCount) return "";
    std::string n = NAMES[i];
    if (n.size() < 19) n.append(19 - n.size(), ' ');
    return n;
}

std::string DebugRowLabel(int i) {
    return std::to_string(i) + ": " + DebugVarName(i);
}

std::string DebugValueText(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X ", static_cast<unsigned>(v));
    return buf;
}

const char* DebugTabTitle(int tab) {
    switch (tab) {
    case 0:
        return "Var 0 - 9";
    case 1:
        return "Var 10- 19";
    case 2:
        return "Var 20- 29";
    default:
        return "";
    }
}
