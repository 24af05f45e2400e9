#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Text the system hands over (paths, device, user and host names) is bytes, which need not be
// UTF-8; what the program gives to databases, JSON and terminals must tell the two apart.

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one (overlong forms, surrogates
// and code points above U+10FFFF are invalid).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);

// Which characters, besides the bytes that are not UTF-8, EscapedText writes as escapes.
enum class EscapeAlso {
    Nul,      // what a database refuses to store: NUL
    Controls, // what a terminal would act on: NUL to U+001F, DEL and U+0080 to U+009F
};
// `s` as valid UTF-8 that holds none of the characters `also` names: a byte that is not UTF-8
// becomes \xNN, a control character \n, \r, \t, \xNN or (U+0080 to U+009F) \u00NN. A backslash
// stays as it is, so a name such as DOMAIN\user reads as written.
std::string EscapedText(std::string_view s, EscapeAlso also);
