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
        if (!t)
            *error = "--history " + *o.history + ": " + why + " (use postgresql://..., sqlite:PATH or off)";
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
    const std::optional<HistoryTarget> target = ChooseHistoryTarget(c_.o, &error);
    if (!target) {
        c_.err << "qln-cli: " << error << ". Nothing was sent to the valve.\n";
        return EXIT_HISTORY;
    }
    if (target->kind == HistoryTarget::Kind::Off) return -1;
    auto recorder = std::make_unique<HistoryRecorder>(*target, CliOutboxPath());
    HistoryOpenFailure failure = HistoryOpenFailure::None;
    if (!recorder->Open(&failure, &error)) {
        c_.err << "qln-cli: the valve history cannot be used: " << error
               << "\nNothing was sent to the valve. Use a newer qln-cli, another database (--history), or "
                  "--history off to run without a history.\n";
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

void JobHistory::Record(const std::string& action, HistoryResult result, int confirmed,
                        const std::string& error, const QlnState& s) {
    if (!recorder_) return;
    std::string notice, why;
    if (!recorder_->Record(JobEntry(base_, action, result, confirmed, error, s), &notice, &why)) {
        c_.err << "qln-cli: the " << action << " entry of this job could not be kept in the history nor in "
               << CliOutboxPath() << ": " << why << "\n";
        c_.historyLost = true;
        return;
    }
    if (!notice.empty() && !toldOutbox_) c_.err << "qln-cli: " << notice << "\n";
    toldOutbox_ = toldOutbox_ || !notice.empty();
}
