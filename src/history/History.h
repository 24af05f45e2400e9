#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The valve history: one entry per valve job (who, where, when, which valve, what was done, how it
// ended, and the parameter set or calibration matrix it moved), in a SQLite file or a shared
// PostgreSQL database, through one code path (SOCI). Entries that cannot reach a shared database
// wait in a local outbox and are delivered later, oldest first and exactly once.

// Where the history goes: "off", "sqlite:PATH", or a libpq connection URI "postgresql://..."
// (handed to libpq whole, so "?host=/socket/dir&user=..." works).
struct HistoryTarget {
    // Unusable: a setting that names no database; `location` then says why, and every entry waits
    // in the outbox until the setting is mended.
    enum class Kind { Off, Sqlite, Postgres, Unusable };
    Kind kind = Kind::Off;
    std::string location; // the SQLite path, or the whole URI
};
// Parses a --history value or [HISTORY] DATABASE; nullopt with *error (naming the text masked) for
// anything else, for a PostgreSQL target that holds a password, and for a SQLite path that holds a
// quotation mark or a control character.
std::optional<HistoryTarget> ParseHistoryTarget(const std::string& text, std::string* error);
// The target as messages name it: a PostgreSQL target with every password-like value masked
// (MaskHistoryTarget of history/HistoryText.h).
std::string HistoryTargetName(const HistoryTarget& target);
// The default: QLN_history.db in the program folder.
HistoryTarget DefaultHistoryTarget(const std::string& programFolder);
// The database [HISTORY] DATABASE of QLN_com.ini names (`setting`), or the default when it names
// none; nullopt with *error (naming the setting) for a value that names no database.
std::optional<HistoryTarget> ConfiguredHistoryTarget(const std::string& setting,
                                                     const std::string& programFolder, std::string* error);
// The target of a recorded job when [HISTORY] DATABASE names no database: its entries wait in the
// outbox, since a wrong setting must not stop valve work (unless recording is required).
HistoryTarget JobHistoryTarget(std::optional<HistoryTarget> configured, const std::string& error);
// The outbox beside the default database: QLN_history_outbox.db in the program folder.
std::string OutboxPath(const std::string& programFolder);

// Started: a write's entry made before its first write telegram, given its outcome afterwards; one
// left so tells of a job that ended without one (killed, or the station lost its power).
enum class HistoryResult { Ok, Incomplete, Failed, Started };
// "ok", "incomplete", "failed", "started".
const char* HistoryResultName(HistoryResult r);

struct HistoryEntry {
    int64_t id = 0;      // given by the database; 0 before it is stored
    std::string uid;     // made at the job, unique everywhere: an outbox entry delivered twice is stored once
    std::string time;    // UTC, the job's own time: "2026-12-07T18:02:34Z"
    std::string station; // host name
    std::string user;    // the process's real user's name in the user database
    std::string programVersion;
    std::string port;                   // "COM1"
    std::string device;                 // "/dev/serial/by-id/..."
    std::string serial, part, firmware; // as `info --json` formats them
    std::string action; // "read-params", "backup", "write-params", "set-switch", "read-matrix",
                        // "write-matrix", "calibration", "setpoint", "test-function", "autotune"
    HistoryResult result = HistoryResult::Ok;
    int confirmed = -1;              // incomplete: how many values the valve confirmed; -1 otherwise
    std::string error;               // failed/incomplete: what went wrong
    std::vector<uint8_t> parameters; // the 620-byte parameter block as the valve holds it, or empty
    std::vector<uint8_t> matrix;     // the calibration record's matrix part, or empty
    // Set by the store as it keeps the entry (by the server on PostgreSQL): when it was recorded,
    // by whom (the database session's user), from where, and the chain's link before it and its own.
    std::string recordedAt, recordedBy, clientAddress, previousHash, hash;
};
// The entry's data as hexadecimal text (lowercase), as the store keeps it.
std::string HexText(const std::vector<uint8_t>& bytes);

// "2026-12-07T18:02:34Z": the time in UTC, to the second.
std::string FormatHistoryTime(std::chrono::system_clock::time_point when);
// A new entry for `action`, filled alike by both programs: a fresh uid, the time now, this
// station, the real user's name and the program's version.
HistoryEntry NewHistoryEntry(const std::string& action);

// One valve as the history knows it.
struct HistoryValve {
    std::string serial, part;
    std::string lastSeen; // time of its newest entry
};

// Why opening (or storing) failed: a server out of reach (no connection, a broken one, a time limit),
// a schema from the future, a database that cannot be used (cannot be created or opened, stays busy,
// is no qln history, or a setting that names none), a database with no history set up in it, or a
// server that refuses (rights, password, certificate, a constraint, an entry whose uid it holds with
// other content). Entries wait in the outbox for all but the last, which keeps them in its quarantine.
enum class HistoryOpenFailure { None, Unreachable, NewerSchema, Damaged, NotSetUp, Refused };

class HistoryStore {
public:
    virtual ~HistoryStore() = default;
    // Opens (and on first use creates, safely when several stations start at once) the database.
    static std::unique_ptr<HistoryStore> Open(const HistoryTarget& target, HistoryOpenFailure* failure,
                                              std::string* error);
    // Stores one entry in one transaction; sets entry.id and what the store sets. False, with the
    // reason and its kind, when the entry is not in the store afterwards.
    virtual bool Add(HistoryEntry& entry, std::string* error, HistoryOpenFailure* kind = nullptr) = 0;
    // Every entry with its data and links, in id order (the chain's order), and the chain's head as
    // the database keeps it (PostgreSQL; nullopt on SQLite).
    virtual std::vector<HistoryEntry> Chain(std::optional<std::pair<int64_t, std::string>>* head,
                                            std::string* error) = 0;
    // Newest first; only the valve's entries when `serial` is given. Without the data columns.
    virtual std::vector<HistoryEntry> List(const std::optional<std::string>& serial, std::string* error) = 0;
    // One entry with its data; nullopt when there is none with that id.
    virtual std::optional<HistoryEntry> Get(int64_t id, std::string* error) = 0;
    virtual std::vector<HistoryValve> Valves(std::string* error) = 0;
};

// What waits in an outbox: each entry (without its data) with the reason it is kept back, or an
// empty reason when it waits for the store.
struct OutboxEntry {
    HistoryEntry entry;
    std::string quarantined;
};
// The outbox's entries, oldest first; an outbox that does not exist holds none. nullopt (with
// *error) when it cannot be read.
std::optional<std::vector<OutboxEntry>> ReadOutbox(const std::string& path, std::string* error);
// Lets a quarantined entry (every one when `uid` is empty) be delivered again at the next job.
bool ReleaseFromQuarantine(const std::string& path, const std::string& uid, std::string* error);
// Lays the valve history into a PostgreSQL database, or migrates an older one (run by the
// database's owner; stations never do); false with the reason. Safe to run again.
bool SetUpHistory(const HistoryTarget& target, std::string* error);
// The set-up's SQL, as SetUpHistory runs it, for an administrator to review.
std::string HistorySetupScript();

// A fresh uid: 128 random bits as 32 hexadecimal digits.
std::string NewHistoryUid();

// False in a build without the database library (the Windows console program): every store then
// fails to open, and the programs say that the history is not available in this build.
bool HistoryAvailable();

// What the desktop program and qln-cli use for a job: the configured store, with the outbox when it
// cannot be used. The history records; it never decides: unless the station requires recording
// ([HISTORY] REQUIRED=1), nothing about the store stops a job. Record() never loses an entry it
// can keep: what the store does not take goes into the outbox (and *notice says so once per Open,
// naming the outbox and what to do); Deliver() moves the outbox's entries into the store, oldest
// first, each exactly once. Open it at the start of every job: that is when a store out of reach is
// tried again.
class HistoryRecorder {
public:
    // `required`: a job whose entry the store cannot take is refused before it touches the valve.
    HistoryRecorder(HistoryTarget target, std::string outboxPath, bool required = false);
    // Opens the store (delivering the outbox when it is usable). False only when recording is
    // required and the store cannot take the job's entry: *error says why and *failure which. Any
    // other failure is no failure: the job's entries wait in the outbox (or, where the store
    // refuses this station, are kept in the outbox's quarantine).
    bool Open(HistoryOpenFailure* failure, std::string* error);
    // Whether jobs are recorded at all (the history is not off).
    bool Enabled() const;
    bool Required() const { return required_; }
    // Puts a write's entry into the outbox as `started` before its first write telegram, so that a
    // job that never ends leaves it behind; Record() with the same uid gives it its outcome. False
    // (with *error) when the outbox cannot take it: Record() still records the outcome.
    bool Start(HistoryEntry& entry, std::string* error);
    // Stores the entry (delivering the outbox first), or keeps it in the outbox; false only when
    // neither took it (*error says why). *notice is set at the first entry of a job that goes to the
    // outbox, and at every entry the store refuses (kept in the quarantine).
    bool Record(HistoryEntry entry, std::string* notice, std::string* error);
    // Moves the outbox's waiting entries into the open store, oldest first; one the store refuses
    // goes into the quarantine and the others go on. False (with *error) when some stay behind.
    bool Deliver(std::string* error);
    // The open store, or nullptr (off, or unusable).
    HistoryStore* Store();
    // Why the database could not be used in this job, with what to do (empty when it could).
    const std::string& UnreachableReason() const { return unreachable_; }
    // Tests only: called between the store's commit of a delivered entry and its removal from the
    // outbox (a writer killed there).
    void SetDeliveredHook(std::function<void()> hook) { delivered_ = std::move(hook); }

private:
    bool Keep(HistoryEntry& entry, HistoryOpenFailure kind, const std::string& reason, std::string* notice,
              std::string* error);

    HistoryTarget target_;
    std::string outboxPath_;
    std::unique_ptr<HistoryStore> store_;
    bool required_ = false;
    std::string unreachable_; // why the store could not be used at Open
    HistoryOpenFailure openFailure_ = HistoryOpenFailure::None;
    bool noticeGiven_ = false;
    std::vector<std::string> started_; // uids put into the outbox by Start()
    std::function<void()> delivered_;
};
