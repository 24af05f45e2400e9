#include "text/PeResources.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>

namespace {

using u64 = std::uint64_t;

constexpr unsigned kRtMenu = 4;
constexpr unsigned kRtString = 6;
constexpr unsigned kMfPopup = 0x10;
constexpr unsigned kMfEnd = 0x80;
constexpr unsigned kMfSeparator = 0x800;
constexpr unsigned kStringsPerBlock = 16;
constexpr unsigned kMaxStringBlock = 4096; // block 4096 holds the texts up to 65535
constexpr u64 kHighBit = 0x80000000u;
constexpr u64 kDosHeaderSize = 64;
constexpr u64 kSectionHeaderSize = 40;
constexpr u64 kDirectorySize = 16; // a resource directory's header, and a data entry
constexpr u64 kResourceDirectory = 2;

// Where the data directories start in each kind of optional header.
struct OptionalHeaderKind {
    unsigned magic;
    u64 directories;
};
constexpr OptionalHeaderKind kOptionalHeaders[] = {{0x10B, 96}, {0x20B, 112}}; // PE32, PE32+

struct Section {
    u64 address;
    u64 rawSize;
    u64 rawOffset;
};

// One entry of a resource directory; `offset` counts from the start of the resources.
struct Entry {
    bool named;
    unsigned id;
    bool directory;
    u64 offset;
};

// A piece of the file: [offset, offset + size).
struct Span {
    u64 offset = 0;
    u64 size = 0;
};

std::string Hex(u64 value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
    return buf;
}

void AppendUtf8(unsigned c, std::string* out) {
    auto add = [out](unsigned byte) { out->push_back(static_cast<char>(byte)); };
    if (c < 0x80) {
        add(c);
    } else if (c < 0x800) {
        add(0xC0 | (c >> 6));
        add(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        add(0xE0 | (c >> 12));
        add(0x80 | ((c >> 6) & 0x3F));
        add(0x80 | (c & 0x3F));
    } else {
        add(0xF0 | (c >> 18));
        add(0x80 | ((c >> 12) & 0x3F));
        add(0x80 | ((c >> 6) & 0x3F));
        add(0x80 | (c & 0x3F));
    }
}

const Entry* FindId(const std::vector<Entry>& entries, unsigned id) {
    for (const Entry& e : entries)
        if (!e.named && e.id == id) return &e;
    return nullptr;
}

// Every read goes through Has(): offsets are 64-bit sums of 32-bit fields, so no check overflows.
class Reader {
public:
    explicit Reader(std::string_view file) : file_(file) {}
    bool Run(PeTexts* out);
    const std::string& Error() const { return error_; }

private:
    bool Fail(std::string what) {
        error_ = std::move(what);
        return false;
    }
    bool Has(u64 at, u64 n) const { return at <= file_.size() && n <= file_.size() - at; }
    // Only after Has() said the bytes are there.
    unsigned U16(u64 at) const {
        return static_cast<unsigned char>(file_[at]) | static_cast<unsigned char>(file_[at + 1]) << 8;
    }
    u64 U32(u64 at) const { return U16(at) | static_cast<u64>(U16(at + 2)) << 16; }

    bool Headers(u64* resourceRva);
    bool Map(u64 rva, u64 size, u64* offset, u64* sectionEnd) const;
    bool InResources(u64 offset, u64 size) const {
        return offset <= resourcesEnd_ - resources_ && size <= resourcesEnd_ - resources_ - offset;
    }
    bool Directory(const Entry& of, const std::string& what, std::vector<Entry>* out);
    bool FirstLanguage(const Entry& name, const std::string& what, Span* data);
    bool Strings(const Entry& type, std::map<unsigned, std::string>* out);
    bool Block(unsigned block, Span data, std::map<unsigned, std::string>* out);
    bool Menu(const Entry& type, PeTexts* out);
    bool Items(Span& rest, int depth, std::vector<LangMenuItem>* out);
    bool MenuText(Span& rest, std::string* out);
    bool Utf16(u64 at, u64 units, std::string* out) const;

    std::string_view file_;
    std::vector<Section> sections_;
    u64 resources_ = 0; // file offset of the root directory
    u64 resourcesEnd_ = 0;
    std::set<u64> visited_;
    u64 stringData_ = 0; // bytes of all string blocks so far
    std::string error_;
};

bool Reader::Headers(u64* resourceRva) {
    if (!Has(0, kDosHeaderSize)) return Fail("the DOS header is cut short");
    const u64 pe = U32(0x3C);
    if (!Has(pe, 24)) return Fail("the PE header (offset " + Hex(pe) + ") lies beyond the end of the file");
    if (file_.substr(pe, 4) != std::string_view("PE\0\0", 4))
        return Fail("no PE signature at offset " + Hex(pe) + ": not a Windows DLL");
    const u64 sectionCount = U16(pe + 6);
    const u64 optionalSize = U16(pe + 20);
    const u64 optional = pe + 24;
    if (optionalSize < 2 || !Has(optional, optionalSize)) return Fail("the optional header is cut short");
    u64 directories = 0;
    for (const auto& kind : kOptionalHeaders)
        if (kind.magic == U16(optional)) directories = kind.directories;
    if (directories == 0) return Fail("unknown optional header (magic " + Hex(U16(optional)) + ")");
    if (optionalSize < directories) return Fail("the optional header is cut short");
    const u64 resourceEntry = directories + 8 * kResourceDirectory;
    if (U32(optional + directories - 4) <= kResourceDirectory || optionalSize < resourceEntry + 8 ||
        U32(optional + resourceEntry) == 0)
        return Fail("the DLL holds no resources");
    *resourceRva = U32(optional + resourceEntry);

    const u64 table = optional + optionalSize;
    if (!Has(table, sectionCount * kSectionHeaderSize))
        return Fail("the section table runs past the end of the file");
    for (u64 i = 0; i < sectionCount; ++i) {
        const u64 at = table + i * kSectionHeaderSize;
        sections_.push_back({U32(at + 12), U32(at + 16), U32(at + 20)});
    }
    return true;
}

// Where `size` bytes at the address `rva` lie in the file: within the file data of one section.
bool Reader::Map(u64 rva, u64 size, u64* offset, u64* sectionEnd) const {
    for (const Section& s : sections_) {
        if (rva < s.address || rva - s.address > s.rawSize || size > s.rawSize - (rva - s.address)) continue;
        const u64 at = s.rawOffset + (rva - s.address);
        if (!Has(at, size)) return false;
        *offset = at;
        *sectionEnd = std::min<u64>(s.rawOffset + s.rawSize, file_.size());
        return true;
    }
    return false;
}

// The directory an entry points to. The tree has three fixed levels (type, name, language), so
// its depth needs no further limit; a directory reached twice would make the tree a loop.
bool Reader::Directory(const Entry& of, const std::string& what, std::vector<Entry>* out) {
    if (!of.directory) return Fail(what + " is data where a resource directory belongs");
    if (!visited_.insert(of.offset).second)
        return Fail("the resource directory tree reaches one directory twice");
    if (!InResources(of.offset, kDirectorySize))
        return Fail("a resource directory lies beyond the resources");
    const u64 at = resources_ + of.offset;
    const u64 count = static_cast<u64>(U16(at + 12)) + U16(at + 14);
    if (!InResources(of.offset + kDirectorySize, count * 8))
        return Fail("a resource directory runs past the end of the resources");
    for (u64 i = 0; i < count; ++i) {
        const u64 name = U32(at + kDirectorySize + 8 * i);
        const u64 target = U32(at + kDirectorySize + 8 * i + 4);
        out->push_back({(name & kHighBit) != 0, static_cast<unsigned>(name & 0xFFFF),
                        (target & kHighBit) != 0, target & ~kHighBit});
    }
    return true;
}

bool Reader::FirstLanguage(const Entry& name, const std::string& what, Span* data) {
    std::vector<Entry> languages;
    if (!Directory(name, what, &languages)) return false;
    if (languages.empty()) return Fail(what + " has no language");
    const Entry& first = languages.front();
    if (first.directory) return Fail(what + " has a directory where its data belongs");
    if (!InResources(first.offset, kDirectorySize))
        return Fail(what + ": its data entry lies beyond the resources");
    const u64 rva = U32(resources_ + first.offset);
    const u64 size = U32(resources_ + first.offset + 4);
    u64 sectionEnd = 0;
    if (!Map(rva, size, &data->offset, &sectionEnd))
        return Fail(what + " (" + std::to_string(size) + " bytes at RVA " + Hex(rva) +
                    ") lies outside the file data of every section");
    data->size = size;
    return true;
}

bool Reader::Strings(const Entry& type, std::map<unsigned, std::string>* out) {
    std::vector<Entry> blocks;
    if (!Directory(type, "the string table", &blocks)) return false;
    std::set<unsigned> seen;
    for (const Entry& b : blocks) {
        if (b.named) continue; // string blocks are known by number; a named one is nothing of ours
        const std::string what = "string block " + std::to_string(b.id);
        if (b.id < 1 || b.id > kMaxStringBlock)
            return Fail(what + " is outside 1.." + std::to_string(kMaxStringBlock));
        if (!seen.insert(b.id).second) return Fail(what + " appears twice");
        Span data;
        if (!FirstLanguage(b, what, &data)) return false;
        // Blocks pointing at one another's data could make a small file expand into gigabytes of
        // texts; blocks of a sound file are apart, so together they fit in it.
        stringData_ += data.size;
        if (stringData_ > file_.size()) return Fail("the string blocks share their data");
        if (!Block(b.id, data, out)) return false;
    }
    return true;
}

// Sixteen strings, each a count of UTF-16 code units and the units; block b holds the texts
// (b - 1) * 16 to (b - 1) * 16 + 15.
bool Reader::Block(unsigned block, Span data, std::map<unsigned, std::string>* out) {
    const std::string what = "string block " + std::to_string(block);
    if (data.size % 2 != 0) return Fail(what + " has an odd size (" + std::to_string(data.size) + " bytes)");
    u64 at = data.offset;
    const u64 end = data.offset + data.size;
    for (unsigned i = 0; i < kStringsPerBlock; ++i) {
        if (end - at < 2) return Fail(what + " runs past the end of its data");
        const u64 units = U16(at);
        at += 2;
        if ((end - at) / 2 < units) return Fail(what + " runs past the end of its data");
        const unsigned id = (block - 1) * kStringsPerBlock + i;
        std::string text;
        if (!Utf16(at, units, &text))
            return Fail("text " + std::to_string(id) + " has an unpaired UTF-16 surrogate");
        at += 2 * units;
        if (!text.empty()) (*out)[id] = std::move(text);
    }
    return true;
}

// A CR LF pair becomes a line feed; a lone CR stays for the library's checks to refuse.
bool Reader::Utf16(u64 at, u64 units, std::string* out) const {
    for (u64 i = 0; i < units; ++i) {
        unsigned c = U16(at + 2 * i);
        if (c >= 0xDC00 && c <= 0xDFFF) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == units) return false;
            const unsigned low = U16(at + 2 * (i + 1));
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (c == '\r' && i + 1 < units && U16(at + 2 * (i + 1)) == '\n') {
            continue;
        }
        AppendUtf8(c, out);
    }
    return true;
}

bool Reader::Menu(const Entry& type, PeTexts* out) {
    std::vector<Entry> names;
    if (!Directory(type, "the menus", &names)) return false;
    const Entry* menu = FindId(names, LanguageLibrary::MENU_ID);
    if (!menu) return true; // the library's menu is optional
    Span data;
    if (!FirstLanguage(*menu, "menu 32024", &data)) return false;
    if (data.size % 2 != 0)
        return Fail("menu 32024 has an odd size (" + std::to_string(data.size) + " bytes)");
    if (data.size < 4) return Fail("menu 32024 runs past the end of its data");
    const unsigned version = U16(data.offset);
    const u64 header = 4 + U16(data.offset + 2);
    if (version == 1) return Fail("menu 32024 is an extended menu (MENUEX); only a MENU is read");
    if (version != 0) return Fail("menu 32024 has the unknown template version " + std::to_string(version));
    if (header > data.size) return Fail("menu 32024 runs past the end of its data");
    Span rest{data.offset + header, data.size - header};
    out->hasMenu = true;
    return Items(rest, 0, &out->menu);
}

// The items of one level, up to the one flagged MF_END; a popup's items follow it directly.
bool Reader::Items(Span& rest, int depth, std::vector<LangMenuItem>* out) {
    for (;;) {
        if (rest.size < 2) return Fail("menu 32024 runs past the end of its data");
        const unsigned flags = U16(rest.offset);
        rest = {rest.offset + 2, rest.size - 2};
        LangMenuItem item;
        const bool popup = (flags & kMfPopup) != 0;
        if (!popup) {
            if (rest.size < 2) return Fail("menu 32024 runs past the end of its data");
            item.commandId = U16(rest.offset);
            rest = {rest.offset + 2, rest.size - 2};
        }
        if (!MenuText(rest, &item.text)) return false;
        if (popup) {
            if (depth >= LanguageLibrary::MAX_MENU_DEPTH)
                return Fail("menu nested deeper than " + std::to_string(LanguageLibrary::MAX_MENU_DEPTH) +
                            " popups");
            if (!Items(rest, depth + 1, &item.children)) return false;
        } else if ((flags & kMfSeparator) != 0 || (item.commandId == 0 && item.text.empty())) {
            item = LangMenuItem{};
            item.separator = true;
        }
        out->push_back(std::move(item));
        if ((flags & kMfEnd) != 0) return true;
    }
}

// A text ended by a NUL unit.
bool Reader::MenuText(Span& rest, std::string* out) {
    u64 units = 0;
    while (2 * units + 2 <= rest.size && U16(rest.offset + 2 * units) != 0)
        ++units;
    if (2 * units + 2 > rest.size) return Fail("menu 32024 runs past the end of its data");
    if (!Utf16(rest.offset, units, out)) return Fail("menu 32024 has an unpaired UTF-16 surrogate");
    rest = {rest.offset + 2 * units + 2, rest.size - 2 * units - 2};
    return true;
}

bool Reader::Run(PeTexts* out) {
    u64 rva = 0;
    if (!Headers(&rva)) return false;
    if (!Map(rva, kDirectorySize, &resources_, &resourcesEnd_))
        return Fail("the resources (RVA " + Hex(rva) + ") lie outside the file data of every section");
    std::vector<Entry> types;
    if (!Directory({false, 0, true, 0}, "the resources", &types)) return false;
    const Entry* strings = FindId(types, kRtString);
    if (!strings) return Fail("the DLL has no string table");
    if (!Strings(*strings, &out->strings)) return false;
    const Entry* menus = FindId(types, kRtMenu);
    return !menus || Menu(*menus, out);
}

} // namespace

bool StartsAsExecutable(std::string_view file) {
    return file.substr(0, 2) == "MZ";
}

bool ReadPeTexts(std::string_view file, PeTexts* out, std::string* error) {
    PeTexts taken;
    Reader reader(file);
    if (!reader.Run(&taken)) {
        if (error) *error = reader.Error();
        *out = {};
        return false;
    }
    *out = std::move(taken);
    return true;
}
