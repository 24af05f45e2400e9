#include "link/Json.h"

#include <cstdio>

#include "system/Utf8.h"

namespace {
// The escape of a one-byte character, or "" when it stands for itself.
std::string EscapeOf(char c) {
    struct Short {
        char c;
        const char* escaped;
    };
    static constexpr Short kShort[] = {{'"', "\\\""}, {'\\', "\\\\"}, {'\b', "\\b"}, {'\f', "\\f"},
                                       {'\n', "\\n"}, {'\r', "\\r"},  {'\t', "\\t"}};
    for (const Short& e : kShort)
        if (e.c == c) return e.escaped;
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) return "";
    char code[8];
    std::snprintf(code, sizeof code, "\\u%04x", byte);
    return code;
}
} // namespace

std::string JsonQuote(const std::string& s) {
    // U+FFFD, the replacement character, for each byte that is not UTF-8.
    static constexpr const char* kReplacement = "\xEF\xBF\xBD";
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const size_t n = Utf8SequenceLength(s, i);
        const std::string escape = n == 1 ? EscapeOf(s[i]) : "";
        if (n == 0)
            out += kReplacement;
        else if (!escape.empty())
            out += escape;
        else
            out.append(s, i, n);
        i += n == 0 ? 1 : n;
    }
    return out + "\"";
}
