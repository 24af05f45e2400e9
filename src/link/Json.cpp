#include "link/Json.h"

#include <cstdio>

std::string JsonQuote(const std::string& s) {
    struct Short {
        char c;
        const char* escaped;
    };
    static constexpr Short kShort[] = {{'"', "\\\""}, {'\\', "\\\\"}, {'\b', "\\b"}, {'\f', "\\f"},
                                       {'\n', "\\n"}, {'\r', "\\r"},  {'\t', "\\t"}};
    std::string out = "\"";
    for (const char c : s) {
        const Short* found = nullptr;
        for (const Short& e : kShort)
            if (e.c == c) found = &e;
        const auto byte = static_cast<unsigned char>(c);
        if (found) {
            out += found->escaped;
        } else if (byte < 0x20 || byte == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out + "\"";
}
