#include "app/Texts.h"

#include <cstdio>

namespace {
struct TextEntry {
    unsigned id;
    const char* text;
};

// The program's own string table.
const TextEntry TEXTS[] = {
    {1, "Data's are changed. Do you really want to cancel?"},
    {106, "Communication Error"},
    {333, "Baudrate Error"},
    {348, "Controller Firmware must be greater 0.00"},
    {32024, "Quillon Software"},
};

std::string NotFound(unsigned id) {
    char buf[40];
    std::snprintf(buf, sizeof buf, " IDS %u not found ", id);
    return buf;
}
} // namespace

const char* BuiltinText(unsigned id) {
    for (const auto& t : TEXTS)
        if (t.id == id) return t.text;
    return nullptr;
}

std::string TextSource::Builtin(unsigned id) {
    const char* t = BuiltinText(id);
    return t ? std::string(t) : NotFound(id);
}

std::string TextSource::Get(unsigned id) const {
    if (library_) {
        if (auto text = library_->Find(id)) return *text;
        if (reportMissing_) reportMissing_(NotFound(id), " Lang Dll ");
    }
    return Builtin(id);
}

std::string LoadText(unsigned id) {
    return TextSource::Builtin(id);
}
