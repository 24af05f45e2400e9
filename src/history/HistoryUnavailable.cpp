// The history in a build without the database library: nothing opens, and every caller is told
// why, so that no job believes its entries were kept.
#include "history/History.h"

namespace {
constexpr const char* kUnavailable = "the valve history is not available in this build";
}

bool HistoryAvailable() {
    return false;
}

std::unique_ptr<HistoryStore> HistoryStore::Open(const HistoryTarget&, HistoryOpenFailure* failure,
                                                 std::string* error) {
    if (failure) *failure = HistoryOpenFailure::Unreachable;
    if (error) *error = kUnavailable;
    return nullptr;
}

HistoryRecorder::HistoryRecorder(HistoryTarget target, std::string outboxPath, bool required)
    : target_(std::move(target)), outboxPath_(std::move(outboxPath)), required_(required) {}

bool HistoryRecorder::Enabled() const {
    return false;
}

HistoryStore* HistoryRecorder::Store() {
    return nullptr;
}

bool HistoryRecorder::Open(HistoryOpenFailure* failure, std::string* error) {
    // Nothing about the history stops a job unless the station requires recording.
    if (!required_) return true;
    if (failure) *failure = HistoryOpenFailure::Damaged;
    if (error) *error = kUnavailable;
    return false;
}

bool HistoryRecorder::Start(HistoryEntry&, std::string*) {
    return true;
}

std::optional<std::vector<OutboxEntry>> ReadOutbox(const std::string&, std::string* error) {
    if (error) *error = kUnavailable;
    return std::nullopt;
}

bool ReleaseFromQuarantine(const std::string&, const std::string&, std::string* error) {
    if (error) *error = kUnavailable;
    return false;
}

bool SetUpHistory(const HistoryTarget&, std::string* error) {
    if (error) *error = kUnavailable;
    return false;
}

bool HistoryRecorder::Deliver(std::string*) {
    return true;
}

bool HistoryRecorder::Record(HistoryEntry, std::string*, std::string* error) {
    if (target_.kind == HistoryTarget::Kind::Off) return true;
    if (error) *error = kUnavailable;
    return false;
}
