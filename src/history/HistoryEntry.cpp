#include "history/History.h"

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

std::optional<HistoryTarget> ParseHistoryTarget(const std::string& text, std::string* error) {
    if (text == "off") return HistoryTarget{};
    for (const TargetPrefix& p : kTargetPrefixes) {
        if (!StartsWith(text, p.prefix)) continue;
        std::string location = p.keepPrefix ? text : text.substr(std::string(p.prefix).size());
        if (location.empty() || location == p.prefix) break;
        return HistoryTarget{p.kind, location};
    }
    if (error)
        *error = "the history database \"" + text +
                 "\" is none of off, sqlite:PATH and postgresql://...; give one of these";
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
    if (!t)
        *error = "QLN_com.ini [HISTORY] DATABASE=" + setting + ": " + why +
                 " (use postgresql://..., sqlite:PATH or off)";
    return t;
}

HistoryTarget JobHistoryTarget(std::optional<HistoryTarget> configured, const std::string& error) {
    if (configured) return *configured;
    return {HistoryTarget::Kind::Unusable, error};
}

const char* HistoryResultName(HistoryResult r) {
    static constexpr const char* kNames[] = {"ok", "incomplete", "failed"};
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
    entry.station = HostName();
    entry.user = CurrentUserName();
    entry.programVersion = QLN_VERSION;
    entry.action = action;
    return entry;
}
