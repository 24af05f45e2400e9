#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/History.h"

// The history's tamper evidence: each entry holds a SHA-256 over a canonical text of its fields and
// the hash of the entry before it, so an entry changed or taken out afterwards breaks the chain. The
// same text is built by the SQL function the PostgreSQL schema holds (the server hashes there) and
// here (the SQLite writer, and `history verify` for both).

// SHA-256 of `data`, as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const std::string& data);

// The link of the first entry: there is none before it.
inline const std::string kChainStart(64, '0');

// The canonical text: every field as "<length in bytes>:<bytes>\n", in a fixed order, ending with the
// previous entry's hash; the length makes it unambiguous whatever a field holds.
std::string CanonicalEntryText(const HistoryEntry& entry);
// SHA-256 of the canonical text.
std::string EntryHash(const HistoryEntry& entry);

// The first entry at which the chain does not hold, and why; nullopt when it holds.
struct ChainBreak {
    int64_t id = 0;
    std::string reason;
};
// An entry's id and hash as recorded elsewhere.
struct ChainMark {
    int64_t id = 0;
    std::string hash;
};
// Checks entries given in id order. `head` is the newest entry as the database's own chain head has
// it (PostgreSQL): newer entries taken out are found there. `anchor` is a head an earlier `verify`
// showed (kept by an auditor): a chain rewritten below it is found there.
std::optional<ChainBreak> CheckChain(const std::vector<HistoryEntry>& entries,
                                     const std::optional<ChainMark>& head,
                                     const std::optional<ChainMark>& anchor);

// Whether `uid` is 32 lowercase or uppercase hexadecimal digits, as every entry's uid is made.
bool IsHistoryUid(const std::string& uid);
