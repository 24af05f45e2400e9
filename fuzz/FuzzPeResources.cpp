// Any file dropped beside the program as a Windows language DLL: its headers, resource tree,
// string blocks and menu are read as bytes, and it is either taken or refused with a reason,
// never a crash or a read outside the file; a refused file leaves nothing behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/LanguageLibrary.h"
#include "text/PeResources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The fuzzer's own buffer is exactly `size` bytes, so AddressSanitizer sees a read past its end.
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    PeTexts texts;
    std::string error;
    const bool ok = ReadPeTexts(file, &texts, &error);
    if (!ok && (error.empty() || !texts.strings.empty() || !texts.menu.empty() || texts.hasMenu))
        std::abort();
    // The whole way through the library: a file that starts as an executable is read as a DLL.
    LanguageLibrary lib;
    std::string why;
    const std::string dll = "MZ" + std::string(file.substr(file.size() >= 2 ? 2 : file.size()));
    if (!lib.Parse(dll, &why) && (lib.Size() != 0 || lib.Menu() != nullptr)) std::abort();
    return 0;
}
