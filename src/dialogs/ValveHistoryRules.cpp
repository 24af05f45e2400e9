#include "dialogs/ValveHistoryRules.h"

#include <algorithm>
#include <cstring>

#include "params/ParameterTable.h"
#include "system/Files.h"

namespace {
// The line for each way opening can fail; the store's own reason goes into {0}.
struct FailureText {
    HistoryOpenFailure failure;
    unsigned text;
};
constexpr FailureText FAILURE_TEXTS[] = {{HistoryOpenFailure::Unreachable, IDS_HISTORY_UNREACHABLE},
                                         {HistoryOpenFailure::NewerSchema, IDS_HISTORY_UNUSABLE},
                                         {HistoryOpenFailure::Damaged, IDS_HISTORY_DAMAGED}};

unsigned FailureTextOf(HistoryOpenFailure failure) {
    for (const FailureText& f : FAILURE_TEXTS)
        if (f.failure == failure) return f.text;
    return IDS_HISTORY_DAMAGED;
}

std::string Problem(const TextSource& texts, unsigned text, const std::string& detail = "") {
    return FillPlaceholders(texts.GetSilently(text), {detail});
}

// Entries waiting for a server out of reach are in no list yet; the user should know they exist.
// The outbox is read as an outbox: opened as a history it would be made one.
std::string OutboxLine(const TextSource& texts, const std::string& programFolder) {
    const std::string path = OutboxPath(programFolder);
    if (!PathExists(path)) return "";
    std::string error;
    const std::optional<std::vector<OutboxEntry>> outbox = ReadOutbox(path, &error);
    const size_t waiting = outbox ? outbox->size() : 0;
    if (waiting == 0) return "";
    return FillPlaceholders(texts.GetSilently(IDS_HISTORY_OUTBOX_WAITING), {std::to_string(waiting), path});
}

// Older first: the list's order (time, then number) turned round.
bool Older(const HistoryEntry& a, const HistoryEntry& b) {
    return a.time != b.time ? a.time < b.time : a.id < b.id;
}
} // namespace

HistoryView OpenHistoryView(const TextSource& texts, const std::string& setting,
                            const std::string& programFolder) {
    HistoryView view;
    std::string error;
    const std::optional<HistoryTarget> target = ConfiguredHistoryTarget(setting, programFolder, &error);
    if (!target) {
        view.problem = Problem(texts, IDS_HISTORY_UNUSABLE, error);
    } else if (target->kind == HistoryTarget::Kind::Off) {
        view.problem = Problem(texts, IDS_HISTORY_OFF);
    } else if (target->kind == HistoryTarget::Kind::Sqlite && !PathExists(target->location)) {
        view.problem = Problem(texts, IDS_HISTORY_EMPTY);
    } else {
        HistoryOpenFailure failure = HistoryOpenFailure::None;
        view.store = HistoryStore::Open(*target, &failure, &error);
        if (!view.store) view.problem = Problem(texts, FailureTextOf(failure), error);
    }
    if (!target || target->kind != HistoryTarget::Kind::Off)
        view.outboxLine = OutboxLine(texts, programFolder);
    return view;
}

std::vector<HistoryValve> NewestFirst(std::vector<HistoryValve> valves) {
    std::stable_sort(valves.begin(), valves.end(),
                     [](const HistoryValve& a, const HistoryValve& b) { return a.lastSeen > b.lastSeen; });
    return valves;
}

std::string EntryName(const HistoryEntry& entry) {
    return "#" + std::to_string(entry.id);
}

std::vector<std::string> EntryCells(const TextSource& texts, const HistoryEntry& e) {
    std::string result = HistoryResultName(e.result);
    if (e.result == HistoryResult::Incomplete && e.confirmed >= 0)
        result =
            FillPlaceholders(texts.GetSilently(IDS_HISTORY_CONFIRMED), {result, std::to_string(e.confirmed)});
    std::vector<std::string> cells(ENTRY_COLUMN_COUNT);
    cells[ENTRY_NUMBER] = std::to_string(e.id);
    cells[ENTRY_TIME] = e.time;
    cells[ENTRY_STATION] = e.station;
    cells[ENTRY_USER] = e.user;
    cells[ENTRY_ACTION] = e.action;
    cells[ENTRY_RESULT] = result;
    cells[ENTRY_ERROR] = e.error;
    return cells;
}

std::optional<ParameterBlock> EntrySet(const HistoryEntry& entry) {
    if (entry.parameters.size() != sizeof(ParameterBlock)) return std::nullopt;
    ParameterBlock b;
    std::memcpy(&b, entry.parameters.data(), sizeof b);
    return b;
}

HistoryComparison CompareChosen(const TextSource& texts, std::vector<HistoryEntry> chosen,
                                ParameterBlock projectSet) {
    HistoryComparison c;
    if (chosen.empty() || chosen.size() > 2) {
        c.note = texts.GetSilently(IDS_HISTORY_CHOOSE);
        return c;
    }
    std::sort(chosen.begin(), chosen.end(), Older);
    for (const HistoryEntry& e : chosen) {
        if (EntrySet(e)) continue;
        c.note = FillPlaceholders(texts.GetSilently(IDS_HISTORY_NO_SET), {EntryName(e), e.action});
        return c;
    }
    // The project's numbers as a write would send them, as qln-cli's history diff takes them.
    RoundToValveSteps(projectSet);
    const ParameterBlock second = chosen.size() == 2 ? *EntrySet(chosen[1]) : projectSet;
    c.firstName = EntryName(chosen[0]);
    c.secondName = chosen.size() == 2 ? EntryName(chosen[1]) : texts.GetSilently(IDS_HISTORY_PROJECT);
    c.differences = Differences(*EntrySet(chosen[0]), second);
    if (c.differences.empty())
        c.note = FillPlaceholders(texts.GetSilently(IDS_HISTORY_SAME), {c.firstName, c.secondName});
    return c;
}

bool CanTake(const std::vector<HistoryEntry>& chosen, uint32_t threadCmd) {
    return threadCmd == 0 && chosen.size() == 1 && EntrySet(chosen[0]).has_value();
}
