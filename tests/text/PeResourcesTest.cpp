#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdlib.h>

#include "text/LanguageLibrary.h"

namespace fs = std::filesystem;

namespace {

// Writes `v` little-endian into `bytes` bytes at `at`.
void Put(std::string& f, std::size_t at, std::uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        f[at + i] = static_cast<char>(v >> 8 * i & 0xFF);
}

// Resources of the hand-made DLL start at this file offset (RVA 0x1000).
constexpr std::size_t R = 0x200;

// A resource-only PE32+ DLL written byte by byte: one section .rsrc holding the tree
// RT_STRING -> block 1 -> language 0x407 -> a string block whose text 1 is "Ja".
std::string HandMadeDll() {
    std::string f(R + 0x7C, '\0');
    f.replace(0, 2, "MZ"), Put(f, 0x3C, 0x40), f.replace(0x40, 4, std::string("PE\0\0", 4));
    Put(f, 0x46, 1, 2), Put(f, 0x54, 240, 2), Put(f, 0x58, 0x20B, 2); // 1 section, optional header PE32+
    Put(f, 0xC4, 16), Put(f, 0xD8, 0x1000);                           // 16 data directories, resources
    Put(f, 0x150, 0x7C), Put(f, 0x154, 0x1000), Put(f, 0x158, 0x7C), Put(f, 0x15C, R); // the section
    Put(f, R + 14, 1, 2), Put(f, R + 16, 6), Put(f, R + 20, 0x80000018);               // root: type 6
    Put(f, R + 0x26, 1, 2), Put(f, R + 0x28, 1), Put(f, R + 0x2C, 0x80000030);         // block 1
    Put(f, R + 0x3E, 1, 2), Put(f, R + 0x40, 0x407), Put(f, R + 0x44, 0x48);           // German
    Put(f, R + 0x48, 0x1058), Put(f, R + 0x4C, 36);                                    // data entry
    Put(f, R + 0x5A, 2, 2), Put(f, R + 0x5C, 'J', 2), Put(f, R + 0x5E, 'a', 2);        // text 1
    return f;
}

struct Case {
    const char* name;
    std::function<void(std::string&)> patch;
    std::string error; // after "Windows DLL: "; empty when text 1 should read `text`
    std::string text = {};
};

} // namespace

TEST(LanguageLibraryWindowsDll, ReadsTheHandMadeDllAndRefusesEveryDamageWithItsReason) {
    auto cut = [](std::size_t n) { return [n](std::string& f) { f.resize(n); }; };
    const std::vector<Case> cases = {
        {"intact", [](std::string&) {}, "", "Ja"},
        {"PE32", // the data directories sit 16 bytes earlier
         [](std::string& f) {
             Put(f, 0x58, 0x10B, 2), Put(f, 0xB4, 16), Put(f, 0xC8, 0x1000), Put(f, 0xD8, 0);
         },
         "", "Ja"},
        {"CR LF", [](std::string& f) { Put(f, R + 0x5C, '\r', 2), Put(f, R + 0x5E, '\n', 2); }, "", "\n"},
        {"surrogate pair", [](std::string& f) { Put(f, R + 0x5C, 0xD83D, 2), Put(f, R + 0x5E, 0xDE00, 2); },
         "", "\xF0\x9F\x98\x80"},
        {"DOS header cut", cut(40), "the DOS header is cut short"},
        {"PE header cut", cut(0x50), "the PE header (offset 0x40) lies beyond the end of the file"},
        {"optional header cut", cut(0x100), "the optional header is cut short"},
        {"section table cut", cut(0x160), "the section table runs past the end of the file"},
        {"no PE signature", [](std::string& f) { f[0x41] = 'X'; },
         "no PE signature at offset 0x40: not a Windows DLL"},
        {"RVA outside every section", [](std::string& f) { Put(f, 0xD8, 0x5000); },
         "the resources (RVA 0x5000) lie outside the file data of every section"},
        {"data outside every section", [](std::string& f) { Put(f, R + 0x48, 0x2000); },
         "string block 1 (36 bytes at RVA 0x2000) lies outside the file data of every section"},
        {"loop in the tree", [](std::string& f) { Put(f, R + 0x2C, 0x80000000); },
         "the resource directory tree reaches one directory twice"},
        {"directory past the end", [](std::string& f) { Put(f, R + 14, 0xFFFF, 2); },
         "a resource directory runs past the end of the resources"},
        {"no string table", [](std::string& f) { Put(f, R + 16, 5); }, "the DLL has no string table"},
        {"string past the block", [](std::string& f) { Put(f, R + 0x5A, 200, 2); },
         "string block 1 runs past the end of its data"},
        {"odd UTF-16 size", [](std::string& f) { Put(f, R + 0x4C, 35); },
         "string block 1 has an odd size (35 bytes)"},
        {"unpaired surrogate", [](std::string& f) { Put(f, R + 0x5C, 0xD800, 2); },
         "text 1 has an unpaired UTF-16 surrogate"},
        {"control character", [](std::string& f) { Put(f, R + 0x5C, 0x1B, 2); },
         "text 1 contains a control character (only a tab and a line break are allowed)"},
        {"printf conversion", [](std::string& f) { Put(f, R + 0x5C, '%', 2), Put(f, R + 0x5E, 's', 2); },
         "text 1 has the printf conversions %s where the program's text has none (write a per cent sign that "
         "is "
         "not a conversion so that no letter follows it)"},
    };
    char tmpl[] = "/tmp/qln-pe-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = HandMadeDll();
        c.patch(bytes);
        const std::string path = (dir / "Lang_dll.DLL").string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        LanguageLibrary lib;
        std::string error;
        EXPECT_EQ(lib.Load(path, &error), c.error.empty()) << error;
        if (c.error.empty()) {
            EXPECT_EQ(lib.Find(1), c.text);
            EXPECT_EQ(lib.Size(), 1u);
            continue;
        }
        EXPECT_EQ(error, path + ": Windows DLL: " + c.error);
        EXPECT_EQ(lib.Size(), 0u);
        EXPECT_EQ(lib.Menu(), nullptr);
    }
    fs::remove_all(dir);
    // Every shorter copy is refused: the string block is the last thing in the file.
    const std::string whole = HandMadeDll();
    for (std::size_t n = 2; n < whole.size(); ++n) {
        LanguageLibrary lib;
        std::string error;
        EXPECT_FALSE(lib.Parse(whole.substr(0, n), &error)) << n;
        EXPECT_EQ(error.rfind("Windows DLL: ", 0), 0u) << n << error;
    }
}

// The DLL the build makes from the German example with the mingw resource compiler and linker.
TEST(LanguageLibraryWindowsDll, GivesTheGermanExampleExactlyAsItsDataFile) {
#ifndef QLN_GERMAN_DLL
    GTEST_SKIP() << "x86_64-w64-mingw32-windres and -ld were not found when the build was configured "
                    "(Debian package binutils-mingw-w64-x86-64)";
#else
    const fs::path german =
        fs::path(__FILE__).parent_path().parent_path().parent_path() / "lang/de/Lang_dll.DLL";
    LanguageLibrary data;
    LanguageLibrary dll;
    std::string error;
    ASSERT_TRUE(data.Load(german.string(), &error)) << error;
    ASSERT_TRUE(dll.Load(QLN_GERMAN_DLL, &error)) << error;
    std::ifstream in(QLN_GERMAN_DLL, std::ios::binary);
    EXPECT_EQ(in.get(), 'M'); // a real PE file, not a copy of the data file
    EXPECT_EQ(dll.Size(), data.Size());
    for (unsigned id = 1; id <= LanguageLibrary::MAX_ID; ++id)
        ASSERT_EQ(dll.Find(id), data.Find(id)) << id;
    ASSERT_NE(dll.Menu(), nullptr);
    EXPECT_TRUE(*dll.Menu() == *data.Menu());
    // The German language wins over the English one the script also holds.
    EXPECT_EQ(dll.Find(1), "Daten wurden geändert. Wirklich abbrechen?");
    EXPECT_EQ(dll.Find(411), "{0} {1} — {2} Baud");
    EXPECT_EQ(dll.Find(25), "Datei konnte nicht geöffnet werden\n");
    EXPECT_EQ(dll.Menu()->front().children.back().text, "&Beenden\tAlt+F4");
#endif
}
