#include "history/History.h"

#include "history/HistoryText.h"
#include "system/Host.h"

#include <array>
#include <cstdio>
#include <random>

namespace {

struct TargetPrefix {
    const char* prefix;
    HistoryTarget::Kind kind;
    bool keepPrefix; // a URI goes to libpq whole; a SQLite path loses its "sqlite:"
};
constexpr std::array<TargetPrefix, 3> kTargetPrefixes{{
    {"sqlite:", HistoryTarget::Kind::Sqlite, false},
    {"postgresql://", HistoryTarget::Kind::Postgres, true},
    {"postgres://", HistoryTarget::Kind::Postgres, true},
}};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

// 128 random bits: two stations never make the same uid.
std::string NewHistoryUid() {
    std::random_device random;
    std::string uid;
    char hex[9];
    for (int i = 0; i < 4; ++i) {
        std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
        uid += hex;
    }
    return uid;
}

namespace {
// The target `text` names by its form, or nullopt.
std::optional<HistoryTarget> TargetOfForm(const std::string& text) {
    if (text == "off") return HistoryTarget{};
    for (const TargetPrefix& p : kTargetPrefixes) {
        if (!StartsWith(text, p.prefix)) continue;
        std::string location = p.keepPrefix ? text : text.substr(std::string(p.prefix).size());
        if (location.empty() || location == p.prefix) break;
        return HistoryTarget{p.kind, location};
    }
    return std::nullopt;
}

// Why the target cannot be used as given, or "".
std::string TargetProblem(const std::optional<HistoryTarget>& t) {
    if (!t) return "is none of off, sqlite:PATH and postgresql://...; give one of these";
    // A password here is readable by whoever reads QLN_com.ini, or by every user in `ps` while a
    // command runs; libpq finds it itself in the places meant for it.
    if (t->kind == HistoryTarget::Kind::Postgres && HistoryTargetHoldsPassword(t->location))
        return "holds a password, which others can read there (QLN_com.ini, or the command line in "
               "ps): leave it out and put it into libpq's password file (~/.pgpass, or the file PGPASSFILE "
               "names), or name an entry of a connection service file (service=NAME)";
    if (t->kind == HistoryTarget::Kind::Sqlite) return SqlitePathProblem(t->location);
    return "";
}
} // namespace

std::optional<HistoryTarget> ParseHistoryTarget(const std::string& text, std::string* error) {
    const std::optional<HistoryTarget> t = TargetOfForm(text);
    const std::string problem = TargetProblem(t);
    if (problem.empty()) return t;
    // A mistyped target may hold a password too: it is never echoed unmasked.
    if (error) *error = "the history database \"" + MaskHistoryTarget(text) + "\" " + problem;
    return std::nullopt;
}

namespace {
// A file in the program folder; the bare name when the folder is unknown (empty).
std::string InFolder(const std::string& folder, const char* name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}
} // namespace

HistoryTarget DefaultHistoryTarget(const std::string& programFolder) {
    return {HistoryTarget::Kind::Sqlite, InFolder(programFolder, "QLN_history.db")};
}

std::string OutboxPath(const std::string& programFolder) {
    return InFolder(programFolder, "QLN_history_outbox.db");
}

std::optional<HistoryTarget> ConfiguredHistoryTarget(const std::string& setting,
                                                     const std::string& programFolder, std::string* error) {
    if (setting.empty()) return DefaultHistoryTarget(programFolder);
    std::string why;
    std::optional<HistoryTarget> t = ParseHistoryTarget(setting, &why);
    if (!t) *error = "QLN_com.ini [HISTORY] DATABASE=" + MaskHistoryTarget(setting) + ": " + why;
    return t;
}

HistoryTarget JobHistoryTarget(std::optional<HistoryTarget> configured, const std::string& error) {
    if (configured) return *configured;
    return {HistoryTarget::Kind::Unusable, error};
}

// Blobs differ between the back-ends (PostgreSQL's go through large objects), so the data are
// kept as hexadecimal text.
std::string HexText(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

const char* HistoryResultName(HistoryResult r) {
    static constexpr const char* kNames[] = {"ok", "incomplete", "failed", "started"};
    return kNames[static_cast<int>(r)];
}

std::string FormatHistoryTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{floor<seconds>(when - day)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

HistoryEntry NewHistoryEntry(const std::string& action) {
    HistoryEntry entry;
    entry.uid = NewHistoryUid();
    entry.time = FormatHistoryTime(std::chrono::system_clock::now());
    // Names as the system holds them, which need not be UTF-8: a server refuses text that is not.
    entry.station = StorableHistoryText(HostName());
    entry.user = StorableHistoryText(CurrentUserName());
    entry.programVersion = QLN_VERSION;
    entry.action = action;
    return entry;
}
