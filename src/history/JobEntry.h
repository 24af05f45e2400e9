#pragma once
// What both programs record of a valve job: an entry for one of its actions, filled from the
// engine's state with the data that action moved.
#include <string>

#include "history/History.h"

struct QlnState;
struct ValveIdentity;

// The valve's identity as `qln-cli info --json` formats it (serial, part, firmware), into the job's
// entry; left empty when the job's identity read did not complete (`id.Valid` 0).
void SetJobIdentity(HistoryEntry& job, const ValveIdentity& id);

// The entry of `action` in the job `job` (its port, device and the valve's identity), with a uid and
// time of its own. A read keeps what it read only when it completed; a write keeps what it was sent
// to write, also when it did not complete.
HistoryEntry JobEntry(const HistoryEntry& job, const std::string& action, HistoryResult result, int confirmed,
                      const std::string& error, const QlnState& s);
