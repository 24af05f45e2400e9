#include "text/LanguageLibrary.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

#include "system/Files.h"
#include "system/Utf8.h"
#include "text/PeResources.h"

namespace {

using std::string_view;

// Cuts a piece of the file for an error message: short, and never in the middle of a UTF-8
// character (the line has been checked to be valid UTF-8 before any of it is quoted).
std::string Quote(string_view s) {
    constexpr std::size_t kMax = 40;
    if (s.size() <= kMax) return "\"" + std::string(s) + "\"";
    std::size_t n = kMax;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return "\"" + std::string(s.substr(0, n)) + "...\"";
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

string_view Trim(string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The program may use a text as a printf format; a translation with other conversions would make
// that call read arguments that were never passed. Empty when the text keeps the conversions.
std::string PrintfMismatch(unsigned id, const std::string& text) {
    const char* own = BuiltinText(id);
    if (!own) return {};
    auto want = PrintfConversions(own);
    auto got = PrintfConversions(text);
    if (want == got) return {};
    auto list = [](const std::vector<std::string>& v) {
        std::string s;
        for (const auto& c : v)
            s += (s.empty() ? "" : " ") + c;
        return s.empty() ? std::string("none") : s;
    };
    return "text " + std::to_string(id) + " has the printf conversions " + list(got) +
           " where the program's text has " + list(want) +
           " (write a per cent sign that is not a conversion so that no letter follows it)";
}

class Parser {
public:
    Parser(std::map<unsigned, std::string>& strings, std::vector<LangMenuItem>& menu, bool& hasMenu)
        : strings_(strings), menu_(menu), hasMenu_(hasMenu) {}

    bool Run(string_view text);
    const std::string& Error() const { return error_; }

private:
    enum class Section { None, Strings, Menu };

    bool Fail(const std::string& what) {
        error_ = "line " + std::to_string(line_) + ": " + what;
        return false;
    }
    bool CheckLine(string_view line);
    bool Header(string_view line);
    bool SectionHeader(string_view line);
    bool StringLine(string_view line);
    bool MenuLine(string_view line);
    bool Id(string_view& rest, const char* what, unsigned* id);
    bool QuotedText(string_view& rest, std::string* out);
    bool EndOfLine(string_view rest);
    std::vector<LangMenuItem>& Current() { return open_.empty() ? menu_ : open_.back().item->children; }
    bool CloseSection();

    struct OpenPopup {
        LangMenuItem* item;
        std::size_t line;
    };

    std::map<unsigned, std::string>& strings_;
    std::vector<LangMenuItem>& menu_;
    bool& hasMenu_;
    std::string error_;
    std::size_t line_ = 0;
    Section section_ = Section::None;
    std::size_t menuLine_ = 0;
    bool seenStrings_ = false;
    std::map<unsigned, std::size_t> stringLines_;
    std::map<unsigned, std::size_t> commandLines_;
    std::vector<OpenPopup> open_;
};

// Every line, whatever its place, must be plain UTF-8 text of bounded length without control
// characters (tabs excepted); a text needs "\n" or "\t" written as escapes.
bool Parser::CheckLine(string_view line) {
    if (line.size() > LanguageLibrary::MAX_LINE_LENGTH)
        return Fail("longer than " + std::to_string(LanguageLibrary::MAX_LINE_LENGTH) + " bytes");
    if (line.find('\0') != string_view::npos) return Fail("contains a NUL byte");
    for (std::size_t i = 0; i < line.size();) {
        std::size_t n = Utf8SequenceLength(line, i);
        if (n == 0) return Fail("not valid UTF-8 (byte " + std::to_string(i + 1) + ")");
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (n == 1 && ((c < 0x20 && c != '\t') || c == 0x7F))
            return Fail("contains a control character (byte " + std::to_string(i + 1) +
                        "); write a line break inside a text as \\n");
        i += n;
    }
    return true;
}

bool Parser::Header(string_view line) {
    string_view h = Trim(line);
    if (h == LanguageLibrary::HEADER) return true;
    if (h.substr(0, 13) == "QLN-LANGUAGE ")
        return Fail("format version " + Quote(Trim(h.substr(13))) + " is not supported (expected " +
                    LanguageLibrary::HEADER + ")");
    return Fail(std::string("missing header \"") + LanguageLibrary::HEADER + "\" (first line)");
}

bool Parser::CloseSection() {
    if (!open_.empty()) {
        std::size_t at = open_.back().line;
        error_ = "line " + std::to_string(at) + ": POPUP is not closed by END";
        return false;
    }
    if (section_ == Section::Menu && menu_.empty()) {
        error_ = "line " + std::to_string(menuLine_) + ": menu " + std::to_string(LanguageLibrary::MENU_ID) +
                 " has no items";
        return false;
    }
    return true;
}

bool Parser::SectionHeader(string_view line) {
    if (line.back() != ']') return Fail("section header without closing ']'");
    string_view name = Trim(line.substr(1, line.size() - 2));
    if (!CloseSection()) return false;
    if (name == "STRINGTABLE") {
        if (seenStrings_) return Fail("section [STRINGTABLE] appears twice");
        seenStrings_ = true;
        section_ = Section::Strings;
        return true;
    }
    if (name.substr(0, 5) == "MENU " || name.substr(0, 5) == "MENU\t") {
        string_view rest = Trim(name.substr(5));
        if (rest != std::to_string(LanguageLibrary::MENU_ID))
            return Fail("unknown menu " + Quote(rest) + " (only [MENU " +
                        std::to_string(LanguageLibrary::MENU_ID) + "] is used)");
        if (hasMenu_)
            return Fail("section [MENU " + std::to_string(LanguageLibrary::MENU_ID) + "] appears twice");
        hasMenu_ = true;
        menuLine_ = line_;
        section_ = Section::Menu;
        return true;
    }
    return Fail("unknown section [" + std::string(name.substr(0, 40)) + "]");
}

// A decimal id in 1..MAX_ID at the start of `rest`, followed by a blank.
bool Parser::Id(string_view& rest, const char* what, unsigned* id) {
    std::size_t n = 0;
    unsigned long value = 0;
    while (n < rest.size() && rest[n] >= '0' && rest[n] <= '9') {
        if (value <= LanguageLibrary::MAX_ID) value = value * 10 + static_cast<unsigned>(rest[n] - '0');
        ++n;
    }
    if (n == 0) return Fail(std::string("expected ") + what + ", found " + Quote(rest));
    if (value < 1 || value > LanguageLibrary::MAX_ID)
        return Fail("id " + Quote(rest.substr(0, n)) + " is outside 1.." +
                    std::to_string(LanguageLibrary::MAX_ID));
    if (n == rest.size() || !IsBlank(rest[n])) return Fail("expected a blank and a quoted text after the id");
    *id = static_cast<unsigned>(value);
    rest = Trim(rest.substr(n));
    return true;
}

bool Parser::QuotedText(string_view& rest, std::string* out) {
    if (rest.empty() || rest.front() != '"') return Fail("expected a text in double quotes");
    out->clear();
    for (std::size_t i = 1; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '"') {
            rest = rest.substr(i + 1);
            return true;
        }
        if (c == '\t') return Fail("tab inside a text; write it as \\t");
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (++i == rest.size()) break;
        switch (rest[i]) {
        case 'n':
            out->push_back('\n');
            break;
        case 't':
            out->push_back('\t');
            break;
        case '\\':
            out->push_back('\\');
            break;
        case '"':
            out->push_back('"');
            break;
        default:
            return Fail("unknown escape " + Quote(rest.substr(i - 1, 2)) + " (use \\n, \\t, \\\\ or \\\")");
        }
    }
    return Fail("text without closing quote");
}

bool Parser::EndOfLine(string_view rest) {
    rest = Trim(rest);
    if (rest.empty()) return true;
    return Fail("unexpected " + Quote(rest) + " at the end of the line");
}

bool Parser::StringLine(string_view line) {
    unsigned id = 0;
    std::string text;
    if (!Id(line, "a text id", &id) || !QuotedText(line, &text) || !EndOfLine(line)) return false;
    auto [it, added] = stringLines_.emplace(id, line_);
    if (!added)
        return Fail("text " + std::to_string(id) + " is already given on line " + std::to_string(it->second));
    if (std::string mismatch = PrintfMismatch(id, text); !mismatch.empty()) return Fail(mismatch);
    strings_[id] = std::move(text);
    return true;
}

bool Parser::MenuLine(string_view line) {
    auto keyword = [&](string_view word) {
        return line.substr(0, word.size()) == word &&
               (line.size() == word.size() || IsBlank(line[word.size()]));
    };
    if (keyword("POPUP")) {
        if (static_cast<int>(open_.size()) >= LanguageLibrary::MAX_MENU_DEPTH)
            return Fail("menu nested deeper than " + std::to_string(LanguageLibrary::MAX_MENU_DEPTH) +
                        " popups");
        string_view rest = Trim(line.substr(5));
        LangMenuItem item;
        if (!QuotedText(rest, &item.text) || !EndOfLine(rest)) return false;
        auto& list = Current();
        list.push_back(std::move(item));
        open_.push_back({&list.back(), line_});
        return true;
    }
    if (keyword("END")) {
        if (!EndOfLine(line.substr(3))) return false;
        if (open_.empty()) return Fail("END without POPUP");
        open_.pop_back();
        return true;
    }
    if (keyword("SEPARATOR")) {
        if (!EndOfLine(line.substr(9))) return false;
        LangMenuItem item;
        item.separator = true;
        Current().push_back(std::move(item));
        return true;
    }
    LangMenuItem item;
    if (!Id(line, "POPUP, END, SEPARATOR or a command id", &item.commandId) ||
        !QuotedText(line, &item.text) || !EndOfLine(line))
        return false;
    // A command that appears twice would survive the removal of its first entry (the calibration
    // commands are removed by id when calibration mode is off).
    auto [it, added] = commandLines_.emplace(item.commandId, line_);
    if (!added)
        return Fail("command " + std::to_string(item.commandId) + " is already in the menu on line " +
                    std::to_string(it->second));
    Current().push_back(std::move(item));
    return true;
}

bool Parser::Run(string_view text) {
    if (text.size() > LanguageLibrary::MAX_FILE_SIZE) {
        error_ = "the file is larger than " + std::to_string(LanguageLibrary::MAX_FILE_SIZE / (1024 * 1024)) +
                 " MiB";
        return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3); // editors on some systems add a BOM
    while (!text.empty()) {
        ++line_;
        std::size_t end = text.find('\n');
        string_view raw = text.substr(0, end);
        text = end == string_view::npos ? string_view() : text.substr(end + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (!CheckLine(raw)) return false;
        if (line_ == 1) {
            if (!Header(raw)) return false;
            continue;
        }
        string_view line = Trim(raw);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            if (!SectionHeader(line)) return false;
            continue;
        }
        switch (section_) {
        case Section::None:
            return Fail("text outside a section (start with [STRINGTABLE])");
        case Section::Strings:
            if (!StringLine(line)) return false;
            break;
        case Section::Menu:
            if (!MenuLine(line)) return false;
            break;
        }
    }
    if (line_ == 0) {
        line_ = 1;
        return Fail(std::string("missing header \"") + LanguageLibrary::HEADER + "\" (the file is empty)");
    }
    if (!CloseSection()) return false;
    if (!seenStrings_) {
        error_ = "the file has no [STRINGTABLE] section";
        return false;
    }
    return true;
}

// A text taken from a Windows DLL meets the rules the data format applies to its lines: no
// control characters but the tab and the line break its escapes allow.
bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
    });
}

std::string CheckDllMenu(const std::vector<LangMenuItem>& items, std::set<unsigned>* commands) {
    for (const auto& item : items) {
        const bool command = !item.separator && item.children.empty();
        const std::string what = command ? "command " + std::to_string(item.commandId) : "a popup";
        if (HasControlCharacter(item.text))
            return "menu " + std::to_string(LanguageLibrary::MENU_ID) + ": the text of " + what +
                   " contains a control character";
        if (command && item.commandId == 0)
            return "menu " + std::to_string(LanguageLibrary::MENU_ID) + ": the item " + Quote(item.text) +
                   " has the command id 0 (outside 1.." + std::to_string(LanguageLibrary::MAX_ID) + ")";
        // A command that appears twice would survive the removal of its first entry.
        if (command && !commands->insert(item.commandId).second)
            return "menu " + std::to_string(LanguageLibrary::MENU_ID) + ": " + what + " appears twice";
        if (std::string fault = CheckDllMenu(item.children, commands); !fault.empty()) return fault;
    }
    return {};
}

// The checks of the data format, applied to what a Windows DLL holds. Empty when it passes.
std::string CheckDllTexts(const PeTexts& dll) {
    for (const auto& [id, text] : dll.strings) {
        const std::string what = "text " + std::to_string(id);
        if (id < 1 || id > LanguageLibrary::MAX_ID)
            return what + " is outside 1.." + std::to_string(LanguageLibrary::MAX_ID);
        if (HasControlCharacter(text))
            return what + " contains a control character (only a tab and a line break are allowed)";
        if (text.size() > LanguageLibrary::MAX_LINE_LENGTH)
            return what + " is longer than " + std::to_string(LanguageLibrary::MAX_LINE_LENGTH) + " bytes";
        if (std::string mismatch = PrintfMismatch(id, text); !mismatch.empty()) return mismatch;
    }
    std::set<unsigned> commands;
    return CheckDllMenu(dll.menu, &commands);
}

bool ReadWindowsDll(std::string_view file, PeTexts* out, std::string* error) {
    std::string fault;
    if (ReadPeTexts(file, out, &fault)) fault = CheckDllTexts(*out);
    if (fault.empty()) return true;
    *out = {};
    *error = "Windows DLL: " + fault;
    return false;
}

} // namespace

bool LanguageLibrary::Parse(const std::string& text, std::string* error) {
    std::map<unsigned, std::string> strings;
    std::vector<LangMenuItem> menu;
    bool hasMenu = false;
    Parser parser(strings, menu, hasMenu);
    bool ok = parser.Run(text);
    std::string why = parser.Error();
    // The data format comes first; a file that fails it and starts as an executable is a Windows
    // DLL, whose texts and menu are taken out and checked like the data format's.
    if (!ok && StartsAsExecutable(text) && text.size() <= MAX_FILE_SIZE) {
        PeTexts dll;
        ok = ReadWindowsDll(text, &dll, &why);
        strings = std::move(dll.strings);
        menu = std::move(dll.menu);
        hasMenu = dll.hasMenu;
    }
    if (!ok) {
        strings.clear();
        menu.clear();
        hasMenu = false;
        if (error) *error = why;
    }
    strings_ = std::move(strings);
    menu_ = std::move(menu);
    hasMenu_ = hasMenu;
    return ok;
}

bool LanguageLibrary::Load(const std::string& path, std::string* error) {
    strings_.clear();
    menu_.clear();
    hasMenu_ = false;
    auto fail = [&](const std::string& what) {
        if (error) *error = path + ": " + what;
        return false;
    };
    FileRead file = ReadRegularFile(path, MAX_FILE_SIZE, MAX_FILE_SIZE + 1);
    switch (file.status) {
    case FileRead::Ok:
        break;
    case FileRead::OpenFailed:
    case FileRead::ReadFailed:
        return fail(std::strerror(file.error));
    case FileRead::StatFailed:
    case FileRead::Folder:
    case FileRead::NotRegular:
        return fail("not a regular file");
    case FileRead::TooLarge:
        return fail("the file is larger than " + std::to_string(MAX_FILE_SIZE / (1024 * 1024)) + " MiB");
    }
    // More than MAX_FILE_SIZE (a file that grew) is refused by Parse.
    const std::string& text = file.data;
    std::string why;
    if (!Parse(text, &why)) return fail(why);
    return true;
}

std::optional<std::string> LanguageLibrary::Find(unsigned id) const {
    auto it = strings_.find(id);
    if (it == strings_.end()) return std::nullopt;
    return it->second;
}

std::size_t RemoveMenuCommands(std::vector<LangMenuItem>& menu, std::span<const unsigned> ids) {
    std::size_t removed = 0;
    for (auto it = menu.begin(); it != menu.end();) {
        bool isCommand = !it->separator && it->children.empty() && it->commandId != 0;
        if (isCommand && std::find(ids.begin(), ids.end(), it->commandId) != ids.end()) {
            it = menu.erase(it);
            ++removed;
            continue;
        }
        removed += RemoveMenuCommands(it->children, ids);
        ++it;
    }
    return removed;
}
