#include "text/LanguageLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kHeader = "QLN-LANGUAGE 1\n";

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

fs::path GermanFile() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "lang" / "de" / "Lang_dll.DLL";
}

// Every command id of the main window's menu that has a menu entry, plus the two calibration
// commands that only a translated menu can carry.
const std::set<unsigned> kMenuCommands = {
    32004, 32005, 32006, 32007, 32008, 32015, 32010, 32019, 32020, 32021, 32030, 32029, 32011, 32026,
    32014, 32027, 32031, 32016, 32017, 32018, 32012, 32009, 32002, 32001, 32040, 32041, 32042, 32043};

void CollectCommands(const std::vector<LangMenuItem>& items, std::vector<unsigned>* out) {
    for (const auto& item : items) {
        if (item.commandId) out->push_back(item.commandId);
        CollectCommands(item.children, out);
    }
}

class LanguageLibraryFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qln-lang-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Write(const std::string& content, const std::string& name = LanguageLibrary::FILE_NAME) {
        fs::path p = dir_ / name;
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return p.string();
    }
    fs::path dir_;
};

TEST_F(LanguageLibraryFiles, ReadsTextsWithEscapesBlanksAndComments) {
    std::string file = "\xEF\xBB\xBF" + kHeader + // a byte-order mark from the editor
                       "# comment\r\n"
                       "\r\n"
                       "  [STRINGTABLE]  \r\n"
                       "1 \"Daten geändert\"\r\n"
                       "   4   \"Datei: \"\t\r\n"
                       "357 \" !!! Achtung !!! \\n Zeile \\\"zwei\\\" \\t Tab \\\\ Ende \"\n"
                       "  # indented comment, and a '#' inside a text is a character:\n"
                       "30 \"# und [x]\"\n"
                       "65535 \"\"\n";
    std::string path = Write(file);
    LanguageLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(path, &error)) << error;
    EXPECT_EQ(lib.Size(), 5u);
    EXPECT_EQ(lib.Find(1), "Daten geändert");
    EXPECT_EQ(lib.Find(4), "Datei: ");
    EXPECT_EQ(lib.Find(357), " !!! Achtung !!! \n Zeile \"zwei\" \t Tab \\ Ende ");
    EXPECT_EQ(lib.Find(30), "# und [x]");
    EXPECT_EQ(lib.Find(65535), "");
    EXPECT_EQ(lib.Find(2), std::nullopt);
    EXPECT_EQ(lib.Menu(), nullptr);

    // The library stands in front of the program's own texts.
    int reports = 0;
    TextSource texts(&lib, [&](const std::string&, const std::string&) { ++reports; });
    EXPECT_EQ(texts.Get(1), "Daten geändert");
    EXPECT_EQ(texts.Get(2), "Serial Port");
    EXPECT_EQ(reports, 1);
}

TEST_F(LanguageLibraryFiles, ReadsTheMenu) {
    std::string file = kHeader + "[MENU 32024]\n"
                                 "POPUP \"&Datei\"\n"
                                 "    32004 \"&Neu...\"\n"
                                 "    SEPARATOR\n"
                                 "    POPUP \"Mehr\"\n"
                                 "        32019 \"&Beenden\\tAlt+F4\"\n"
                                 "    END\n"
                                 "END\n"
                                 "32001 \"&Hilfe\"\n"
                                 "[STRINGTABLE]\n"
                                 "1 \"x\"\n";
    LanguageLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(Write(file), &error)) << error;
    const auto* menu = lib.Menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->size(), 2u);
    const auto& popup = (*menu)[0];
    EXPECT_EQ(popup.text, "&Datei");
    EXPECT_EQ(popup.commandId, 0u);
    ASSERT_EQ(popup.children.size(), 3u);
    EXPECT_EQ(popup.children[0].commandId, 32004u);
    EXPECT_EQ(popup.children[0].text, "&Neu...");
    EXPECT_TRUE(popup.children[1].separator);
    ASSERT_EQ(popup.children[2].children.size(), 1u);
    EXPECT_EQ(popup.children[2].children[0].text, "&Beenden\tAlt+F4");
    EXPECT_EQ(popup.children[2].children[0].commandId, 32019u);
    EXPECT_EQ((*menu)[1].commandId, 32001u);
    EXPECT_TRUE((*menu)[1].children.empty());
}

TEST_F(LanguageLibraryFiles, MenuNestsUpToEightPopups) {
    auto nested = [](int depth) {
        std::string s = kHeader + "[STRINGTABLE]\n[MENU 32024]\n";
        for (int i = 0; i < depth; ++i)
            s += "POPUP \"p" + std::to_string(i) + "\"\n";
        s += "32001 \"x\"\n";
        for (int i = 0; i < depth; ++i)
            s += "END\n";
        return s;
    };
    LanguageLibrary lib;
    std::string error;
    EXPECT_TRUE(lib.Parse(nested(8), &error)) << error;
    EXPECT_FALSE(lib.Parse(nested(9), &error));
    EXPECT_EQ(error, "line 12: menu nested deeper than 8 popups");
    EXPECT_EQ(lib.Menu(), nullptr);
    // Deeply nested hostile input is refused early, without deep recursion.
    EXPECT_FALSE(lib.Parse(nested(100000), &error));
}

struct Rejected {
    const char* name;
    std::string content;
    std::string error; // the whole message, line included
};

TEST_F(LanguageLibraryFiles, RejectsDamagedFilesNamingTheLineAndKeepsNothing) {
    const std::string st = kHeader + "[STRINGTABLE]\n";
    const std::string mn = st + "[MENU 32024]\n";
    const std::vector<Rejected> cases = {
        {"empty", "", "line 1: missing header \"QLN-LANGUAGE 1\" (the file is empty)"},
        {"no header", "[STRINGTABLE]\n1 \"x\"\n", "line 1: missing header \"QLN-LANGUAGE 1\" (first line)"},
        {"header not first", "\n" + st, "line 1: missing header \"QLN-LANGUAGE 1\" (first line)"},
        {"other version", "QLN-LANGUAGE 2\n",
         "line 1: format version \"2\" is not supported (expected QLN-LANGUAGE 1)"},
        {"no string table", kHeader + "# nothing\n", "the file has no [STRINGTABLE] section"},
        {"text outside section", kHeader + "1 \"x\"\n",
         "line 2: text outside a section (start with [STRINGTABLE])"},
        {"unknown section", st + "[DIALOG 108]\n", "line 3: unknown section [DIALOG 108]"},
        {"unclosed section", st + "[MENU 32024\n", "line 3: section header without closing ']'"},
        {"other menu", st + "[MENU 1]\n", "line 3: unknown menu \"1\" (only [MENU 32024] is used)"},
        {"section twice", st + "1 \"a\"\n[STRINGTABLE]\n", "line 4: section [STRINGTABLE] appears twice"},
        {"menu twice", mn + "1 \"a\"\n[MENU 32024]\n", "line 5: section [MENU 32024] appears twice"},
        {"id zero", st + "0 \"x\"\n", "line 3: id \"0\" is outside 1..65535"},
        {"id too big", st + "65536 \"x\"\n", "line 3: id \"65536\" is outside 1..65535"},
        {"id huge", st + "99999999999999999999999 \"x\"\n",
         "line 3: id \"99999999999999999999999\" is outside 1..65535"},
        {"id negative", st + "-1 \"x\"\n", "line 3: expected a text id, found \"-1 \"x\"\""},
        {"id not a number", st + "abc \"x\"\n", "line 3: expected a text id, found \"abc \"x\"\""},
        {"id glued to text", st + "1\"x\"\n", "line 3: expected a blank and a quoted text after the id"},
        {"duplicate id", st + "7 \"OK\"\n\n7 \"Gut\"\n", "line 5: text 7 is already given on line 3"},
        {"no quotes", st + "1 Daten\n", "line 3: expected a text in double quotes"},
        {"no closing quote", st + "1 \"Daten\n", "line 3: text without closing quote"},
        {"escape at end", st + "1 \"Daten\\\n", "line 3: text without closing quote"},
        {"unknown escape", st + "1 \"C:\\temp\\x\"\n",
         "line 3: unknown escape \"\\x\" (use \\n, \\t, \\\\ or \\\")"},
        {"junk after text", st + "1 \"a\" \"b\"\n", "line 3: unexpected \"\"b\"\" at the end of the line"},
        {"raw tab in text", st + "1 \"a\tb\"\n", "line 3: tab inside a text; write it as \\t"},
        {"control character", st + "1 \"a\x1b[31mb\"\n",
         "line 3: contains a control character (byte 5); write a line break inside a text as \\n"},
        {"lone CR", st + "1 \"a\rb\"\n",
         "line 3: contains a control character (byte 5); write a line break inside a text as \\n"},
        {"NUL byte", st + std::string("1 \"a\0b\"\n", 8), "line 3: contains a NUL byte"},
        {"Latin-1", st + "1 \"ge\xE4ndert\"\n", "line 3: not valid UTF-8 (byte 6)"},
        {"overlong slash", st + "1 \"\xC0\xAF\"\n", "line 3: not valid UTF-8 (byte 4)"},
        {"surrogate", st + "1 \"\xED\xA0\x80\"\n", "line 3: not valid UTF-8 (byte 4)"},
        {"beyond U+10FFFF", st + "1 \"\xF4\x90\x80\x80\"\n", "line 3: not valid UTF-8 (byte 4)"},
        {"cut sequence", st + "1 \"\xE2\x82\"\n", "line 3: not valid UTF-8 (byte 4)"},
        {"invalid in comment", st + "# \xFF\n", "line 3: not valid UTF-8 (byte 3)"},
        {"format injected", st + "106 \"Fehler %s%s%s\"\n",
         "line 3: text 106 has the printf conversions %s %s %s where the program's text has none (write a "
         "per "
         "cent sign that is not a conversion so that no letter follows it)"},
        {"per cent before a letter", st + "75 \"10 % erreicht\"\n",
         "line 3: text 75 has the printf conversions % e where the program's text has none (write a per cent "
         "sign that is not a conversion so that no letter follows it)"},
        {"END without POPUP", mn + "END\n", "line 4: END without POPUP"},
        {"POPUP never closed", mn + "POPUP \"a\"\n32001 \"b\"\n", "line 4: POPUP is not closed by END"},
        {"POPUP open at next section", mn + "POPUP \"a\"\n  POPUP \"b\"\n  END\n[STRINGTABLE]\n",
         "line 4: POPUP is not closed by END"},
        {"empty menu", mn, "line 3: menu 32024 has no items"},
        {"POPUP without text", mn + "POPUP\n", "line 4: expected a text in double quotes"},
        {"END with junk", mn + "POPUP \"a\"\nEND x\n", "line 5: unexpected \"x\" at the end of the line"},
        {"menu id out of range", mn + "70000 \"a\"\n", "line 4: id \"70000\" is outside 1..65535"},
        {"menu keyword unknown", mn + "MENUITEM \"a\"\n",
         "line 4: expected POPUP, END, SEPARATOR or a command id, found \"MENUITEM \"a\"\""},
        {"command twice", mn + "POPUP \"a\"\n32021 \"Kal\"\nEND\nPOPUP \"b\"\n32021 \"Kal 2\"\nEND\n",
         "line 8: command 32021 is already in the menu on line 5"},
        {"over-long line", st + "1 \"" + std::string(4093, 'x') + "\"\n", "line 3: longer than 4096 bytes"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LanguageLibrary lib;
        std::string error;
        ASSERT_TRUE(lib.Parse(kHeader + "[STRINGTABLE]\n1 \"gut\"\n[MENU 32024]\n32001 \"x\"\n", &error))
            << error;
        ASSERT_NE(lib.Menu(), nullptr);

        std::string path = Write(c.content);
        EXPECT_FALSE(lib.Load(path, &error));
        EXPECT_EQ(error, path + ": " + c.error);
        EXPECT_EQ(lib.Size(), 0u);
        EXPECT_EQ(lib.Find(1), std::nullopt);
        EXPECT_EQ(lib.Menu(), nullptr);
    }
}

TEST_F(LanguageLibraryFiles, LimitsLineAndFileSize) {
    LanguageLibrary lib;
    std::string error;
    // 4096 bytes of line, not counting the line end (LF or CR LF).
    std::string longest = "1 \"" + std::string(4092, 'x') + "\"";
    ASSERT_EQ(longest.size(), 4096u);
    EXPECT_TRUE(lib.Parse(kHeader + "[STRINGTABLE]\n" + longest + "\r\n", &error)) << error;
    EXPECT_EQ(lib.Find(1)->size(), 4092u);

    // A text id outside the program's table may say anything; it is simply never asked for.
    EXPECT_TRUE(lib.Parse(kHeader + "[STRINGTABLE]\n999 \"%s %d\"\n", &error)) << error;

    // Just over 4 MiB of otherwise valid comment lines.
    std::string big = kHeader + "[STRINGTABLE]\n";
    std::string comment = "# " + std::string(1000, 'c') + "\n";
    while (big.size() <= LanguageLibrary::MAX_FILE_SIZE)
        big += comment;
    std::string path = Write(big);
    EXPECT_FALSE(lib.Load(path, &error));
    EXPECT_EQ(error, path + ": the file is larger than 4 MiB");
    EXPECT_FALSE(lib.Parse(big, &error));
    EXPECT_EQ(error, "the file is larger than 4 MiB");
}

TEST_F(LanguageLibraryFiles, ReadsOnlyRegularFiles) {
    LanguageLibrary lib;
    std::string error;
    std::string missing = (dir_ / "Lang_dll.DLL").string();
    EXPECT_FALSE(lib.Load(missing, &error));
    EXPECT_EQ(error, missing + ": No such file or directory");

    EXPECT_FALSE(lib.Load(dir_.string(), &error));
    EXPECT_EQ(error, dir_.string() + ": not a regular file");

    // A FIFO planted under the library's name must not hang the start-up.
    std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(lib.Load(fifo, &error));
    EXPECT_EQ(error, fifo + ": not a regular file");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // A device that never ends.
    EXPECT_FALSE(lib.Load("/dev/zero", &error));
    EXPECT_EQ(error, "/dev/zero: not a regular file");

    // A symbolic link to a good file is followed.
    std::string target = Write(kHeader + "[STRINGTABLE]\n1 \"ok\"\n", "real.txt");
    fs::create_symlink(target, dir_ / LanguageLibrary::FILE_NAME);
    EXPECT_TRUE(lib.Load((dir_ / LanguageLibrary::FILE_NAME).string(), &error)) << error;
    EXPECT_EQ(lib.Find(1), "ok");
}

// Whatever the bytes, parsing ends, and either accepts them or leaves the object empty with a
// message.
void ExpectConsistent(LanguageLibrary& lib, const std::string& text) {
    std::string error;
    bool ok = lib.Parse(text, &error);
    if (!ok) {
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(lib.Size(), 0u);
        EXPECT_EQ(lib.Menu(), nullptr);
    }
}

TEST(LanguageLibraryRobustness, GarbageAndDamagedCopiesOfTheGermanFile) {
    std::string german = ReadAll(GermanFile());
    ASSERT_GT(german.size(), 1000u);
    LanguageLibrary lib;

    // Truncated copies, ending inside a text, inside a UTF-8 character, inside a popup: every length
    // near the start, every third through the menu at the end, every 17th elsewhere.
    std::size_t accepted = 0;
    auto step = [&](std::size_t n) -> std::size_t { return n < 200 ? 1 : n + 1500 > german.size() ? 3 : 17; };
    for (std::size_t n = 0; n <= german.size(); n += step(n)) {
        std::string error;
        if (lib.Parse(german.substr(0, n), &error))
            ++accepted;
        else {
            ASSERT_FALSE(error.empty()) << n;
            ASSERT_EQ(lib.Size(), 0u) << n;
        }
    }
    EXPECT_GT(accepted, 0u);
    EXPECT_LT(accepted, german.size());

    std::mt19937 rng(20240611);
    auto randomByte = [&] { return static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng)); };
    // Random bytes flipped in the German file.
    for (int round = 0; round < 500; ++round) {
        std::string damaged = german;
        int flips = std::uniform_int_distribution<int>(1, 8)(rng);
        for (int i = 0; i < flips; ++i)
            damaged[std::uniform_int_distribution<std::size_t>(0, damaged.size() - 1)(rng)] = randomByte();
        ExpectConsistent(lib, damaged);
    }
    // Pure garbage, with and without a valid header.
    for (int round = 0; round < 1000; ++round) {
        std::string garbage(std::uniform_int_distribution<std::size_t>(0, 2000)(rng), '\0');
        for (char& c : garbage)
            c = randomByte();
        ExpectConsistent(lib, garbage);
        ExpectConsistent(lib, kHeader + "[STRINGTABLE]\n" + garbage);
        ExpectConsistent(lib, kHeader + "[MENU 32024]\n" + garbage);
    }
    // Garbage made of the format's own tokens.
    const std::array<const char*, 12> tokens = {"POPUP \"a\"\n",
                                                "END\n",
                                                "SEPARATOR\n",
                                                "32001 \"x\"\n",
                                                "[MENU 32024]\n",
                                                "[STRINGTABLE]\n",
                                                "1 \"y\"\n",
                                                "\"",
                                                "\\",
                                                "\n",
                                                " ",
                                                "#"};
    for (int round = 0; round < 3000; ++round) {
        std::string text = kHeader;
        int n = std::uniform_int_distribution<int>(0, 60)(rng);
        for (int i = 0; i < n; ++i)
            text += tokens[std::uniform_int_distribution<std::size_t>(0, tokens.size() - 1)(rng)];
        ExpectConsistent(lib, text);
    }
}

TEST(LanguageLibraryGerman, IsCompleteAndKeepsPlaceholdersAndBlanks) {
    LanguageLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(GermanFile().string(), &error)) << error;
    for (const auto& e : BuiltinTexts()) {
        SCOPED_TRACE(e.id);
        auto text = lib.Find(e.id);
        ASSERT_TRUE(text.has_value()) << "missing id " << e.id;
        std::string own = e.text;
        EXPECT_EQ(PrintfConversions(*text), PrintfConversions(own));
        // The program fills "{0}".."{9}"; a translation that drops one loses a port, a device or a count.
        for (char n = '0'; n <= '9'; ++n) {
            const std::string placeholder = {'{', n, '}'};
            EXPECT_EQ(text->find(placeholder) != std::string::npos,
                      own.find(placeholder) != std::string::npos)
                << placeholder << " in \"" << *text << '"';
        }
        // The help language names the folder the German guide is shipped in, beside this file.
        if (e.id == IDS_HELP_LANGUAGE) {
            EXPECT_EQ(*text, GermanFile().parent_path().filename().string());
            EXPECT_TRUE(fs::is_regular_file(GermanFile().parent_path() / "QLN.HLP"));
            continue;
        }
        EXPECT_EQ(text->empty(), own.empty());
        if (own.empty() || text->empty()) continue;
        EXPECT_EQ(own.front() == ' ', text->front() == ' ') << '"' << *text << '"';
        EXPECT_EQ(own.back() == ' ', text->back() == ' ') << '"' << *text << '"';
    }
    EXPECT_EQ(lib.Size(), BuiltinTexts().size()) << "the example translates the program's table, no more";
    EXPECT_EQ(lib.Find(3)->size(), std::string(BuiltinText(3)).size()) << "sizing text of the status pane";
}

TEST(LanguageLibraryGerman, MenuCarriesEveryCommandOnceAndLosesCalibrationOnRequest) {
    LanguageLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Load(GermanFile().string(), &error)) << error;
    ASSERT_NE(lib.Menu(), nullptr);
    std::vector<LangMenuItem> menu = *lib.Menu();
    for (const auto& top : menu) {
        EXPECT_FALSE(top.children.empty()) << top.text;
        EXPECT_EQ(top.commandId, 0u);
    }
    std::vector<unsigned> commands;
    CollectCommands(menu, &commands);
    EXPECT_EQ(std::set<unsigned>(commands.begin(), commands.end()), kMenuCommands);
    EXPECT_EQ(commands.size(), kMenuCommands.size());

    // Without calibration mode.
    const std::array<unsigned, 3> calibration = {32021, 32030, 32029};
    EXPECT_EQ(RemoveMenuCommands(menu, calibration), 3u);
    commands.clear();
    CollectCommands(menu, &commands);
    EXPECT_EQ(commands.size(), kMenuCommands.size() - 3);
    for (unsigned id : calibration)
        EXPECT_EQ(std::count(commands.begin(), commands.end(), id), 0) << id;
    EXPECT_EQ(RemoveMenuCommands(menu, calibration), 0u);
}

TEST(LanguageLibraryMenu, RemovesCommandsAtAnyDepthButNotPopupsOrSeparators) {
    LanguageLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.Parse(
        kHeader + "[STRINGTABLE]\n[MENU 32024]\n"
                  "32021 \"top\"\n"
                  "POPUP \"a\"\n SEPARATOR\n POPUP \"b\"\n  32029 \"deep\"\n  32011 \"stays\"\n END\n END\n",
        &error))
        << error;
    std::vector<LangMenuItem> menu = *lib.Menu();
    const std::array<unsigned, 3> ids = {32021, 32029, 32030};
    EXPECT_EQ(RemoveMenuCommands(menu, ids), 2u);
    ASSERT_EQ(menu.size(), 1u);
    ASSERT_EQ(menu[0].children.size(), 2u);
    EXPECT_TRUE(menu[0].children[0].separator);
    ASSERT_EQ(menu[0].children[1].children.size(), 1u);
    EXPECT_EQ(menu[0].children[1].children[0].commandId, 32011u);
}

} // namespace
