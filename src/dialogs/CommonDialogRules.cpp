#include "dialogs/CommonDialogRules.h"

std::optional<char> FindForbiddenCharacter(const std::string& text) {
    const size_t at = text.substr(0, 29).find_first_of("|#");
    if (at == std::string::npos) return std::nullopt;
    return text[at];
}

std::string RemoveCharacter(const std::string& text, char c) {
    std::string out = text;
    const size_t at = out.find(c);
    if (at != std::string::npos) out.erase(at, 1);
    return out;
}

uint32_t UnsignedFieldValue(const std::string& text, uint32_t max) {
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > max) return max;
    }
    return static_cast<uint32_t>(v);
}
