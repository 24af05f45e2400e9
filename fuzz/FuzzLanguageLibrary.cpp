// Any file dropped beside the program as a language library: it is either rejected with a reason
// or parsed, never a crash, and a rejected file leaves no texts behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/LanguageLibrary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    LanguageLibrary lib;
    std::string error;
    const bool ok = lib.Parse(text, &error);
    if (!ok && (lib.Find(32024) || lib.Menu())) std::abort();
    if (ok) (void)lib.Find(357);
    return 0;
}
