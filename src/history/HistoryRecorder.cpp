#include "history/History.h"
#include "history/SociStore.h"

#include "system/Files.h"

namespace {
// What the user can do about a store that cannot take entries, after the store's own reason.
std::string Advice(HistoryOpenFailure failure) {
    switch (failure) {
    case HistoryOpenFailure::Unreachable:
        return " (check that the server runs and this station reaches it)";
    case HistoryOpenFailure::Damaged:
        return " (check that the database's folder can be written and the file is a qln history, or name "
               "another database in [HISTORY] DATABASE of QLN_com.ini)";
    default:
        return "";
    }
}

constexpr const char* kRequired = "; this station requires every job to be recorded ([HISTORY] REQUIRED=1 in "
                                  "QLN_com.ini)";
} // namespace

HistoryRecorder::HistoryRecorder(HistoryTarget target, std::string outboxPath, bool required)
    : target_(std::move(target)), outboxPath_(std::move(outboxPath)), required_(required) {}

bool HistoryRecorder::Enabled() const {
    return target_.kind != HistoryTarget::Kind::Off;
}

HistoryStore* HistoryRecorder::Store() {
    return store_.get();
}

bool HistoryRecorder::Open(HistoryOpenFailure* failure, std::string* error) {
    store_.reset();
    unreachable_.clear();
    noticeGiven_ = false;
    if (failure) *failure = HistoryOpenFailure::None;
    if (!Enabled() && !required_) return true;
    HistoryOpenFailure why = HistoryOpenFailure::None;
    std::string text;
    store_ = HistoryStore::Open(target_, &why, &text);
    if (store_) {
        // What cannot be delivered now waits for the next job.
        Deliver(&text);
        return true;
    }
    if (required_) {
        if (failure) *failure = why;
        if (error) *error = text + kRequired;
        return false;
    }
    // A setting that names no database says itself what to write there.
    unreachable_ = target_.kind == HistoryTarget::Kind::Unusable ? text : text + Advice(why);
    return true;
}

bool HistoryRecorder::Deliver(std::string* error) {
    if (!store_ || outboxPath_.empty() || !IsRegularFile(outboxPath_)) return true;
    std::string why;
    std::unique_ptr<SociHistoryStore> outbox =
        SociHistoryStore::Open({HistoryTarget::Kind::Sqlite, outboxPath_}, nullptr, &why);
    if (!outbox) {
        if (error) *error = why;
        return false;
    }
    // Stored first, removed second: a crash between the two leaves the entry in both, and the
    // store takes a uid it holds only once.
    for (HistoryEntry& entry : outbox->Oldest(&why)) {
        if (!store_->Add(entry, &why)) {
            unreachable_ = why;
            store_.reset();
            break;
        }
        if (!outbox->Remove(entry.uid, &why)) break;
    }
    if (!why.empty() && error) *error = why;
    return why.empty();
}

bool HistoryRecorder::Record(HistoryEntry entry, std::string* notice, std::string* error) {
    if (!Enabled()) return true;
    if (entry.uid.empty()) entry.uid = NewHistoryUid();
    if (store_) {
        std::string ignored, why;
        Deliver(&ignored);
        if (store_ && store_->Add(entry, &why)) return true;
        if (store_) unreachable_ = why;
        // A connection that failed once is not trusted again in this job.
        store_.reset();
    }
    std::string why;
    std::unique_ptr<SociHistoryStore> outbox =
        SociHistoryStore::Open({HistoryTarget::Kind::Sqlite, outboxPath_}, nullptr, &why);
    if (!outbox || !outbox->Add(entry, &why)) {
        if (error) *error = unreachable_ + "; the entry could not be kept in the outbox either: " + why;
        return false;
    }
    if (!noticeGiven_ && notice) {
        *notice = "History: " + unreachable_ + "; the entry waits in the outbox " + outboxPath_ +
                  " and is delivered at the next job that reaches the database.";
        noticeGiven_ = true;
    }
    return true;
}
