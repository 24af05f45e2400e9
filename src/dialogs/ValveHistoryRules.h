#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/History.h"
#include "params/ParamDifferences.h"
#include "text/Texts.h"

// The valve history dialog's rules that need no widget: opening the configured history for
// reading, what each list shows, the comparison of the chosen entries and when an entry may become
// the project's edited set.

// The configured history opened for reading, or the one line that says what is wrong and what to do.
struct HistoryView {
    std::unique_ptr<HistoryStore> store;
    std::string problem; // empty while the store is open
    // How many entries wait in the outbox for a database out of reach (the lists cannot show them
    // yet), or empty when none do.
    std::string outboxLine;
};
// `setting` is [HISTORY] DATABASE of QLN_com.ini. A SQLite file that does not exist yet is not
// created: no job has recorded into it, so there is nothing to show.
HistoryView OpenHistoryView(const TextSource& texts, const std::string& setting,
                            const std::string& programFolder);

// The valves, the one seen last first (the store lists them by serial number).
std::vector<HistoryValve> NewestFirst(std::vector<HistoryValve> valves);

// An entry's cells: number, time, station, user, action, result and error. An incomplete write
// shows how many values the valve confirmed.
enum EntryColumn : unsigned {
    ENTRY_NUMBER,
    ENTRY_TIME,
    ENTRY_STATION,
    ENTRY_USER,
    ENTRY_ACTION,
    ENTRY_RESULT,
    ENTRY_ERROR,
    ENTRY_COLUMN_COUNT
};
std::vector<std::string> EntryCells(const TextSource& texts, const HistoryEntry& entry);
// "#7", as qln-cli names an entry in its comparisons.
std::string EntryName(const HistoryEntry& entry);

// The parameter set an entry holds; nullopt for a calibration matrix or a job that moved none.
std::optional<ParameterBlock> EntrySet(const HistoryEntry& entry);

// What the comparison shows for the chosen entries (each with its data): two entries against each
// other, the older first; one entry against the project's edited set as a write sends it.
struct HistoryComparison {
    std::string firstName, secondName; // the columns' names: "#7", "#9" or "Project"
    std::vector<Difference> differences;
    std::string note; // why nothing is listed, or that nothing differs
};
HistoryComparison CompareChosen(const TextSource& texts, std::vector<HistoryEntry> chosen,
                                ParameterBlock projectSet);

// Take into Project: one chosen entry that holds a parameter set, and an idle engine (a running
// write reads the project's set; the window is the only one that starts actions).
bool CanTake(const std::vector<HistoryEntry>& chosen, uint32_t threadCmd);
