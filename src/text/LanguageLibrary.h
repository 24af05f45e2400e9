#pragma once
#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "text/Texts.h"

// One entry of the library's menu 32024: a popup (children, no command), a command, or a separator.
struct LangMenuItem {
    std::string text; // with '&' marking the mnemonic and "\t" before the accelerator text
    unsigned commandId = 0;
    bool separator = false;
    std::vector<LangMenuItem> children;

    bool operator==(const LangMenuItem&) const = default;
};

// The optional language library Lang_dll.DLL beside the program: a UTF-8 data file (never code)
// with a string table and an optional menu 32024, or a Windows resource DLL with the same two,
// read as bytes and never loaded (text/PeResources.h). Both are described in
// docs/language-library.md.
//
// The file comes from whoever can write to the program folder, so it is checked whole before any
// of it is used: anything outside the format (bad encoding, control characters, ids out of range,
// duplicates, unbalanced or too deep menus, over-long lines, an over-large file, printf conversions
// that differ from the program's own text) rejects the whole file with a message that names the
// line, and the program goes on with its own texts.
class LanguageLibrary : public ITextLibrary {
public:
    static constexpr const char* FILE_NAME = "Lang_dll.DLL";
    static constexpr const char* HEADER = "QLN-LANGUAGE 1";
    static constexpr unsigned MENU_ID = 32024;
    static constexpr unsigned MAX_ID = 65535;
    static constexpr std::size_t MAX_FILE_SIZE = 4u * 1024u * 1024u;
    static constexpr std::size_t MAX_LINE_LENGTH = 4096; // bytes, without the line end
    static constexpr int MAX_MENU_DEPTH = 8;             // popups inside popups

    // Reads and checks the whole file. A damaged or hostile file is rejected (false, reason in
    // *error) and leaves the object empty. Only a regular file is read (a FIFO or device of that
    // name is refused without blocking).
    bool Load(const std::string& path, std::string* error = nullptr);
    bool Parse(const std::string& text, std::string* error = nullptr);

    std::optional<std::string> Find(unsigned id) const override;
    // The menu 32024, or nullptr when the library has none.
    const std::vector<LangMenuItem>* Menu() const { return hasMenu_ ? &menu_ : nullptr; }
    // Number of texts in the string table (0 when nothing is loaded).
    std::size_t Size() const { return strings_.size(); }

private:
    std::map<unsigned, std::string> strings_;
    std::vector<LangMenuItem> menu_;
    bool hasMenu_ = false;
};

// Removes every command whose id is listed, at any depth of the menu (the calibration commands
// when calibration mode is off). Returns how many items were removed.
std::size_t RemoveMenuCommands(std::vector<LangMenuItem>& menu, std::span<const unsigned> ids);
