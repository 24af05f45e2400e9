#pragma once
// The valve history as qln-cli keeps it: which database a run uses, and the entries of one valve
// job (who, where, when, which valve, what was done, how it ended, the set or matrix it moved).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/History.h"

struct CommandContext;
struct ValveIdentity;
struct Options;
struct QlnState;

// A station that requires recording ([HISTORY] REQUIRED=1) and a history that cannot take the job's
// entry: refused before anything is sent, or an entry that neither the database nor the outbox took.
constexpr int EXIT_HISTORY = 11;

// The history of this run: --history; else none in test mode, so the simulated valve never fills a
// real history; else [HISTORY] DATABASE of QLN_com.ini; else QLN_history.db in the current folder.
// nullopt with *error for a value that names no database.
// Off in a build without the history.
std::optional<HistoryTarget> ChooseHistoryTarget(const Options& o, std::string* error);
// What a build without the history says when one is asked for.
std::string NoHistoryHere();

// The outbox of qln-cli's runs: beside QLN_history.db in the current folder, whatever the target.
std::string CliOutboxPath();

// The entries of one valve job. The identity is read once per job and shared by its entries.
class JobHistory {
public:
    explicit JobHistory(CommandContext& c);
    ~JobHistory();

    // Before the valve is touched. Returns -1, or EXIT_HISTORY after saying why on stderr.
    int Open();
    bool Enabled() const { return recorder_ != nullptr; }

    void SetLink(const std::string& port, const std::string& device);
    // The identity as `info --json` prints serial, part and firmware.
    void SetIdentity(const ValveIdentity& id);

    // A write's entry, kept in the outbox as started before its first write telegram; Record() with
    // the same action gives it its outcome.
    void Start(const std::string& action, const QlnState& s);
    // One entry of the job, stored or kept in the outbox. The data is what the action moved.
    void Record(const std::string& action, HistoryResult result, int confirmed, const std::string& error,
                const QlnState& s);

private:
    CommandContext& c_;
    std::unique_ptr<HistoryRecorder> recorder_;
    HistoryEntry base_;                           // the job's link and the valve's identity
    std::pair<std::string, std::string> started_; // the started action and its entry's uid
};
