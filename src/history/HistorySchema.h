#pragma once
#include <array>
#include <string>
#include <vector>

#include "history/History.h"

// The history's tables, as SQL text for SQLite and PostgreSQL.
//
// Version 1: `schema_version` and `history_entries` (the entry as the station made it).
// Version 2 adds to every entry what the store sets as it keeps it (recorded_at, recorded_by,
// client_addr) and the chain (prev_hash, hash), and refuses changes and deletions. On PostgreSQL it
// lives in the schema `qln`, owned by the role `qln_owner`; stations (`qln_station`) may append and
// read, auditors (`qln_auditor`) read. Only `qln-cli history setup` makes or migrates it there; a
// SQLite file is migrated by the program itself.

inline constexpr int kHistorySchemaVersion = 2;

// A text column and the entry's field it holds.
struct TextColumn {
    const char* name;
    std::string HistoryEntry::*field;
};
// The columns a station writes, in the table's and the canonical text's order; result, confirmed
// and the data follow them.
inline constexpr std::array<TextColumn, 12> kTextColumns{{
    {"uid", &HistoryEntry::uid},
    {"time_utc", &HistoryEntry::time},
    {"station", &HistoryEntry::station},
    {"user_name", &HistoryEntry::user},
    {"program_version", &HistoryEntry::programVersion},
    {"port", &HistoryEntry::port},
    {"device", &HistoryEntry::device},
    {"serial", &HistoryEntry::serial},
    {"part", &HistoryEntry::part},
    {"firmware", &HistoryEntry::firmware},
    {"action", &HistoryEntry::action},
    {"error_text", &HistoryEntry::error},
}};
// What the store sets, in the canonical text's order after the data.
inline constexpr std::array<TextColumn, 5> kStoreColumns{{
    {"recorded_at", &HistoryEntry::recordedAt},
    {"recorded_by", &HistoryEntry::recordedBy},
    {"client_addr", &HistoryEntry::clientAddress},
    {"prev_hash", &HistoryEntry::previousHash},
    {"hash", &HistoryEntry::hash},
}};

// Version 1's entries table (`idColumn`: how the database gives ids), in `table`.
std::string CreateEntriesTableV1(const std::string& table, const std::string& idColumn);

// SQLite: what turns a version-1 file into version 2, run inside the transaction that also links
// the existing entries into the chain (between the two halves).
std::vector<std::string> SqliteAddStoreColumns();
std::vector<std::string> SqliteKeepEntries();

// PostgreSQL: the whole set-up, in one transaction: the roles, the schema `qln` with its tables,
// functions and triggers, a version-1 history found in the connection's search path moved into
// it and linked into the chain, and the rights. Safe to run again.
std::vector<std::string> PostgresSetupStatements();
