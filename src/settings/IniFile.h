#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A settings file in private-profile (INI) form: "[SECTION]" headers and "KEY=value" lines.
//
// The file is kept line by line rather than as a map, because a settings file belongs to the user
// as much as to us: comments, blank lines, sections and keys we do not know, and even damaged lines
// are written back exactly as they were read. Only a line whose value we set is rewritten, and even
// then only its value part changes, so "PORT = COM2" stays spaced the way the user wrote it.
//
// Sections and keys are found without regard to ASCII case. Where a section or key appears twice,
// the first occurrence in the file wins, both for reading and for being replaced; a later duplicate
// section still contributes the keys the earlier one lacks.
//
// The class does no locking; each user keeps its own object.
class IniFile {
public:
    // Settings files are a few hundred bytes. Anything far larger is not a settings file, and
    // reading it whole could exhaust memory, so it is refused rather than parsed.
    static constexpr size_t kMaxFileSize = 16u * 1024u * 1024u;

    // Replaces the contents with the file at `path`. A missing file is not an error: the object is
    // left empty and true is returned, so that a first start simply creates the file on saving.
    // An existing file that cannot be read (no permission, a directory, too large) returns false
    // with a message in *error and leaves the object empty.
    bool Load(const std::string& path, std::string* error = nullptr);

    // Replaces the contents with `text`. Never fails: lines that are neither headers, comments nor
    // "key=value" are kept as they are and written back.
    void Parse(std::string_view text);

    // The trimmed value of the first `key` in `section`, or nothing when there is no such key.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Like the platform's private-profile read: the value, or `def` when the key is missing, cut to
    // at most `maxLen` bytes. The cut never splits a UTF-8 character, so a cut text stays valid.
    std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                          size_t maxLen = 99) const;

    // Sets `key` in `section`. An existing key keeps its place and spelling and only its value is
    // replaced; a new key is appended to its section (before the blank lines that separate it from
    // the next one); a new section is appended to the file.
    // Returns false and changes nothing when the text could not be read back as the same entry:
    // an empty section or key, a line break or NUL anywhere, ']' in the section, '=' in the key, or
    // a key beginning with ';', '#' or '['. Surrounding white space is dropped, as reading would.
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    // The keys of `section` in file order, each once, in the spelling of its first occurrence.
    std::vector<std::string> Keys(std::string_view section) const;

    // The file text with CR LF line ends (a byte-order mark that the file began with is kept).
    std::string Serialize() const;

    // Writes the file so that the previous version survives any failure: the text goes to a new
    // temporary file beside the target, is flushed to the disk, and only then replaces the target
    // by rename. A target that is a symbolic link has the file it points to replaced, not the link.
    // The file keeps the permissions of the file it replaces. On failure the temporary file is
    // removed, the target is untouched and false is returned with a message in *error.
    bool Save(const std::string& path, std::string* error = nullptr) const;

private:
    struct Line {
        std::string text;      // as in the file, without the line end
        std::string key;       // trimmed key; empty when the line holds no key
        size_t valueBegin = 0; // where the trimmed value lies in `text`
        size_t valueEnd = 0;
    };
    struct Section {
        std::string name;   // trimmed name between the brackets
        std::string header; // the header line as in the file
        std::vector<Line> lines;
    };

    static Line MakeLine(std::string text);
    const Line* Find(std::string_view section, std::string_view key) const;
    Line* Find(std::string_view section, std::string_view key);

    bool bom_ = false;
    // Lines before the first section header: kept and written back, but not part of any section.
    std::vector<Line> preamble_;
    std::vector<Section> sections_;
};
