#include "settings/IniFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    char buf[256];
    // The GNU strerror_r returns the text, which may or may not live in buf.
    return strerror_r(err, buf, sizeof buf);
}

bool Fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// A name for the temporary file that no other writer (another thread or program saving the same
// file) picks at the same moment; O_EXCL settles the rare collision.
std::string TempSuffix(unsigned attempt) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    uint64_t x = (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(ts.tv_nsec) ^
                 (static_cast<uint64_t>(ts.tv_sec) << 30) ^ (attempt * 0x9E3779B97F4A7C15ull);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    static const char digits[] = "0123456789abcdef";
    std::string s = ".";
    for (int i = 0; i < 12; ++i, x >>= 4)
        s += digits[x & 15];
    return s + ".tmp";
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
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
    // O_NONBLOCK keeps a FIFO put in the file's place from hanging the program at open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        return Fail(error, "Cannot open settings file " + Quoted(path) + ": " + ErrnoText(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return Fail(error, "Cannot read settings file " + Quoted(path) + ": " + ErrnoText(err));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(error, "Settings file " + Quoted(path) + " is not a regular file");
    }
    auto tooLarge = [&] {
        ::close(fd);
        return Fail(error, "Settings file " + Quoted(path) + " is too large to be a settings file");
    };
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) return tooLarge();
    std::string data;
    data.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        // The size from fstat is only a hint: the file may grow while we read it.
        if (data.size() > kMaxFileSize) return tooLarge();
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            return Fail(error, "Cannot read settings file " + Quoted(path) + ": " + ErrnoText(err));
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    Parse(data);
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

    // Renaming over a symbolic link would replace the link itself and leave the file it points to
    // (a settings file shared with other installations, say) unchanged.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    bool exists = ::stat(target.c_str(), &st) == 0;
    // Rename only needs a writable folder; a settings file the user made read-only stays as it is.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return Fail(error, "Cannot write settings file " + Quoted(target) + ": " + ErrnoText(errno));

    const std::string text = Serialize();
    std::string tmp;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = target + TempSuffix(attempt);
        // 0666 lets the umask decide for a new file, as for any other file the user creates.
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return Fail(error, "Cannot write settings file " + Quoted(target) + ": " + ErrnoText(errno));

    auto fail = [&](const char* what, int err) {
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        return Fail(error, std::string(what) + " settings file " + Quoted(target) + ": " + ErrnoText(err));
    };
    if (exists && S_ISREG(st.st_mode)) (void)::fchmod(fd, st.st_mode & 07777);
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("Cannot write", n < 0 ? errno : ENOSPC);
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) return fail("Cannot write", errno);
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail("Cannot write", errno);
    if (::rename(tmp.c_str(), target.c_str()) != 0) return fail("Cannot replace", errno);

    // Make the rename itself durable. The new file is in place already, so a failure here is not
    // worth reporting.
    int dir = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}
