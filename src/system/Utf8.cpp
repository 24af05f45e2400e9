#include "system/Utf8.h"

#include <cstdio>

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
    auto byte = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    unsigned c = byte(i);
    if (c < 0x80) return 1;
    auto cont = [&](std::size_t k) { return (byte(k) & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        unsigned c1 = byte(i + 1);
        if (c == 0xE0 && c1 < 0xA0) return 0; // overlong
        if (c == 0xED && c1 > 0x9F) return 0; // surrogate
        return cont(i + 1) && cont(i + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        unsigned c1 = byte(i + 1);
        if (c == 0xF0 && c1 < 0x90) return 0; // overlong
        if (c == 0xF4 && c1 > 0x8F) return 0; // above U+10FFFF
        return cont(i + 1) && cont(i + 2) && cont(i + 3) ? 4 : 0;
    }
    return 0;
}

namespace {
std::string Escape(const char* form, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, form, value);
    return text;
}

// The escape of the one-byte character c, or "" when it stays.
std::string EscapeOfByte(unsigned char c, EscapeAlso also) {
    if (c == 0) return "\\x00";
    if (also == EscapeAlso::Nul || (c >= 0x20 && c != 0x7f)) return "";
    if (c == '\n') return "\\n";
    if (c == '\r') return "\\r";
    if (c == '\t') return "\\t";
    return Escape("\\x%02x", c);
}
} // namespace

std::string EscapedText(std::string_view s, EscapeAlso also) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = Utf8SequenceLength(s, i);
        std::string escape;
        if (n == 0) escape = Escape("\\x%02x", c);
        if (n == 1) escape = EscapeOfByte(c, also);
        // U+0080 to U+009F: C2 80 to C2 9F, of which U+009B starts a terminal's commands.
        const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) <= 0x9F;
        if (also == EscapeAlso::Controls && c1)
            escape = Escape("\\u%04x", static_cast<unsigned char>(s[i + 1]));
        if (escape.empty())
            out.append(s.substr(i, n));
        else
            out += escape;
        i += n == 0 ? 1 : n;
    }
    return out;
}
