#include "JobHistory.h"

#include <cstdio>
#include <ostream>

#include "CliRun.h"
#include "history/JobEntry.h"
#include "settings/ComSettings.h"

std::string NoHistoryHere() {
    return "the valve history is not available in this build (use --history off, or the Linux build)";
}

std::optional<HistoryTarget> ChooseHistoryTarget(const Options& o, std::string* error) {
    // Without the database library the history is off, whatever QLN_com.ini names.
    if (!HistoryAvailable()) return HistoryTarget{};
    if (o.history) {
        std::string why;
        std::optional<HistoryTarget> t = ParseHistoryTarget(*o.history, &why);
        if (!t) *error = "--history: " + why;
        return t;
    }
    if (o.testMode) return HistoryTarget{};
    return ConfiguredHistoryTarget(ReadComSettings("").HistoryDatabase, ".", error);
}

std::string CliOutboxPath() {
    return OutboxPath(".");
}

JobHistory::JobHistory(CommandContext& c) : c_(c) {}
JobHistory::~JobHistory() = default;

int JobHistory::Open() {
    std::string error;
    const std::optional<HistoryTarget> chosen = ChooseHistoryTarget(c_.o, &error);
    // The simulated valve is never held to a line's rule: it touches no valve.
    const bool required = !c_.o.testMode && ReadComSettings("").HistoryRequired;
    const HistoryTarget target = JobHistoryTarget(chosen, error);
    if (target.kind == HistoryTarget::Kind::Off && !required) return -1;
    auto recorder = std::make_unique<HistoryRecorder>(target, CliOutboxPath(), required);
    HistoryOpenFailure failure = HistoryOpenFailure::None;
    if (!recorder->Open(&failure, &error)) {
        c_.err << "qln-cli: the valve history cannot take this job's entry: " << TerminalText(error)
               << "\nNothing was sent to the valve. Make the database usable, name another one (--history or "
                  "[HISTORY] DATABASE), or use a newer qln-cli.\n";
        return EXIT_HISTORY;
    }
    recorder_ = std::move(recorder);
    return -1;
}

void JobHistory::SetLink(const std::string& port, const std::string& device) {
    base_.port = port;
    base_.device = device;
}

void JobHistory::SetIdentity(const ValveIdentity& id) {
    SetJobIdentity(base_, id);
}

void JobHistory::Start(const std::string& action, const QlnState& s) {
    if (!recorder_ || started_.first == action) return;
    HistoryEntry entry = JobEntry(base_, action, HistoryResult::Started, -1, "", s);
    std::string why;
    // Without it the outcome is still recorded at the end; only a job killed on the way is not.
    if (!recorder_->Start(entry, &why))
        c_.err << "qln-cli: warning: the " << action << " entry could not be kept in " << CliOutboxPath()
               << " before the write: " << why << "\n";
    else
        started_ = {action, entry.uid};
}

void JobHistory::Record(const std::string& action, HistoryResult result, int confirmed,
                        const std::string& error, const QlnState& s) {
    if (!recorder_) return;
    std::string notice, why;
    HistoryEntry entry = JobEntry(base_, action, result, confirmed, error, s);
    if (started_.first == action) entry.uid = started_.second;
    if (!recorder_->Record(entry, &notice, &why)) {
        c_.err << "qln-cli: the " << action
               << " entry of this job was not recorded, neither in the history nor in " << CliOutboxPath()
               << ": " << TerminalText(why) << "\n";
        // Only a station that requires recording fails the job for it; elsewhere the job's own status
        // stands.
        c_.historyLost = recorder_->Required();
        return;
    }
    // The recorder says a store out of reach once per job, and every entry the store refuses.
    if (!notice.empty()) c_.err << "qln-cli: " << TerminalText(notice) << "\n";
}
