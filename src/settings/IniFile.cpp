#include "settings/IniFile.h"

#include <cerrno>
#include <cstdint>

#include "system/AtomicFile.h"
#include "system/Files.h"
#include "system/Host.h"

namespace {
constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool IsBlank(std::string_view s) {
    return Trim(s).empty();
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Only ASCII letters fold: the platform's INI lookup is not locale-aware either, and folding bytes
// of UTF-8 characters would make different names collide.
bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

std::string ErrnoText(int err) {
    return SystemErrorText(err);
}

bool Fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

} // namespace

IniFile::Line IniFile::MakeLine(std::string text) {
    Line line;
    line.text = std::move(text);
    std::string_view t = line.text;
    size_t first = 0;
    while (first < t.size() && IsSpace(t[first]))
        ++first;
    if (first == t.size() || t[first] == ';' || t[first] == '#' || t[first] == '[') return line;
    size_t eq = t.find('=', first);
    if (eq == t.npos) return line;
    std::string_view key = Trim(t.substr(first, eq - first));
    if (key.empty()) return line;
    line.key = std::string(key);
    size_t begin = eq + 1;
    while (begin < t.size() && IsSpace(t[begin]))
        ++begin;
    size_t end = t.size();
    while (end > begin && IsSpace(t[end - 1]))
        --end;
    if (begin == end) begin = end = eq + 1;
    line.valueBegin = begin;
    line.valueEnd = end;
    return line;
}

void IniFile::Parse(std::string_view text) {
    *this = IniFile();
    if (text.substr(0, kBom.size()) == kBom) {
        bom_ = true;
        text.remove_prefix(kBom.size());
    }
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view raw = text.substr(0, nl);
        text.remove_prefix(nl == text.npos ? text.size() : nl + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        std::string_view t = Trim(raw);
        size_t close = t.find(']');
        if (!t.empty() && t.front() == '[' && close != t.npos) {
            // Text after the closing bracket (a comment, say) stays part of the header line.
            Section section;
            section.name = std::string(Trim(t.substr(1, close - 1)));
            section.header = std::string(raw);
            sections_.push_back(std::move(section));
            continue;
        }
        Line line = MakeLine(std::string(raw));
        (sections_.empty() ? preamble_ : sections_.back().lines).push_back(std::move(line));
    }
}

bool IniFile::Load(const std::string& path, std::string* error) {
    *this = IniFile();
    FileRead file = ReadRegularFile(path, kMaxFileSize, kMaxFileSize + 1);
    switch (file.status) {
    case FileRead::Ok:
        break;
    case FileRead::OpenFailed:
        if (file.error == ENOENT) return true;
        return Fail(error, "Cannot open settings file " + Quoted(path) + ": " + ErrnoText(file.error));
    case FileRead::StatFailed:
    case FileRead::ReadFailed:
        return Fail(error, "Cannot read settings file " + Quoted(path) + ": " + ErrnoText(file.error));
    case FileRead::Folder:
    case FileRead::NotRegular:
        return Fail(error, "Settings file " + Quoted(path) + " is not a regular file");
    case FileRead::TooLarge:
        return Fail(error, "Settings file " + Quoted(path) + " is too large to be a settings file");
    }
    // The file may have grown while it was read.
    if (file.data.size() > kMaxFileSize)
        return Fail(error, "Settings file " + Quoted(path) + " is too large to be a settings file");
    Parse(file.data);
    return true;
}

const IniFile::Line* IniFile::Find(std::string_view section, std::string_view key) const {
    section = Trim(section);
    key = Trim(key);
    if (key.empty()) return nullptr;
    for (const Section& s : sections_) {
        if (!EqualNoCase(s.name, section)) continue;
        for (const Line& line : s.lines)
            if (EqualNoCase(line.key, key)) return &line;
    }
    return nullptr;
}

IniFile::Line* IniFile::Find(std::string_view section, std::string_view key) {
    return const_cast<Line*>(static_cast<const IniFile*>(this)->Find(section, key));
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    const Line* line = Find(section, key);
    if (!line) return std::nullopt;
    return line->text.substr(line->valueBegin, line->valueEnd - line->valueBegin);
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view def,
                               size_t maxLen) const {
    std::optional<std::string> value = Get(section, key);
    std::string s = value ? std::move(*value) : std::string(def);
    if (s.size() <= maxLen) return s;
    size_t cut = maxLen;
    if ((static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) {
        // s[cut] continues a character; back up to where that character starts.
        for (size_t back = 1; back <= 3 && back <= cut; ++back) {
            unsigned char c = static_cast<unsigned char>(s[cut - back]);
            if ((c & 0xC0) == 0xC0) {
                cut -= back;
                break;
            }
            if ((c & 0xC0) != 0x80) break;
        }
    }
    s.resize(cut);
    return s;
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    value = Trim(value);
    // Whatever we write must read back as the same section, key and value; anything else could
    // split one entry into several lines or turn it into a header or comment.
    if (section.empty() || key.empty() || HasLineBreakOrNul(section) || HasLineBreakOrNul(key) ||
        HasLineBreakOrNul(value) || section.find(']') != section.npos)
        return false;
    std::string text = std::string(key) + "=" + std::string(value);
    Line fresh = MakeLine(text);
    if (fresh.key != key) return false;

    if (Line* line = Find(section, key)) {
        line->text.replace(line->valueBegin, line->valueEnd - line->valueBegin, value);
        line->valueEnd = line->valueBegin + value.size();
        return true;
    }
    for (Section& s : sections_) {
        if (!EqualNoCase(s.name, section)) continue;
        // Blank lines at the end of a section separate it from the next one; keep them there.
        size_t pos = s.lines.size();
        while (pos > 0 && IsBlank(s.lines[pos - 1].text))
            --pos;
        s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(pos), std::move(fresh));
        return true;
    }
    std::vector<Line>& last = sections_.empty() ? preamble_ : sections_.back().lines;
    bool endsWithText = !last.empty() ? !IsBlank(last.back().text) : !sections_.empty();
    if (endsWithText) last.push_back(MakeLine(std::string()));
    Section s;
    s.name = std::string(section);
    s.header = "[" + s.name + "]";
    s.lines.push_back(std::move(fresh));
    sections_.push_back(std::move(s));
    return true;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
    section = Trim(section);
    std::vector<std::string> keys;
    for (const Section& s : sections_) {
        if (!EqualNoCase(s.name, section)) continue;
        for (const Line& line : s.lines) {
            if (line.key.empty()) continue;
            bool seen = false;
            for (const std::string& k : keys)
                seen = seen || EqualNoCase(k, line.key);
            if (!seen) keys.push_back(line.key);
        }
    }
    return keys;
}

std::string IniFile::Serialize() const {
    std::string out;
    if (bom_) out += kBom;
    auto put = [&out](const std::string& text) {
        out += text;
        out += "\r\n";
    };
    for (const Line& line : preamble_)
        put(line.text);
    for (const Section& s : sections_) {
        put(s.header);
        for (const Line& line : s.lines)
            put(line.text);
    }
    return out;
}

bool IniFile::Save(const std::string& path, std::string* error) const {
    if (path.empty()) return Fail(error, "No file name given for the settings file");
    const std::string text = Serialize();
    const AtomicWrite w = WriteFileAtomic(path, text.data(), text.size());
    if (w.ok) return true;
    return Fail(error, std::string(w.replacing ? "Cannot replace" : "Cannot write") + " settings file " +
                           Quoted(w.target) + ": " + ErrnoText(w.error));
}
