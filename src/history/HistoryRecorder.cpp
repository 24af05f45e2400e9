#include "history/History.h"
#include "history/SociStore.h"

#include <algorithm>

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

std::unique_ptr<SociHistoryStore> OpenOutbox(const std::string& path, std::string* error) {
    return SociHistoryStore::Open({HistoryTarget::Kind::Sqlite, path}, nullptr, error,
                                  SociHistoryStore::Role::Outbox);
}
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
    openFailure_ = HistoryOpenFailure::None;
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
    openFailure_ = why;
    // A setting that names no database says itself what to write there.
    unreachable_ = target_.kind == HistoryTarget::Kind::Unusable ? text : text + Advice(why);
    return true;
}

bool HistoryRecorder::Deliver(std::string* error) {
    if (!store_ || outboxPath_.empty() || !IsRegularFile(outboxPath_)) return true;
    std::string why;
    std::unique_ptr<SociHistoryStore> outbox = OpenOutbox(outboxPath_, &why);
    if (!outbox) {
        if (error) *error = why;
        return false;
    }
    // Stored first, removed second: a crash between the two leaves the entry in both, and the
    // store takes a uid it holds with the same content only once. One the store refuses is kept
    // back with the reason; the others go on.
    for (HistoryEntry& entry : outbox->Oldest(&why)) {
        HistoryOpenFailure kind = HistoryOpenFailure::None;
        std::string refused;
        if (store_->Add(entry, &refused, &kind)) {
            if (delivered_) delivered_();
            if (!outbox->Remove(entry.uid, &why)) break;
        } else if (kind == HistoryOpenFailure::Refused) {
            if (!outbox->Quarantine(entry.uid, refused, &why)) break;
        } else {
            unreachable_ = refused;
            store_.reset();
            break;
        }
    }
    if (!why.empty() && error) *error = why;
    return why.empty();
}

bool HistoryRecorder::Start(HistoryEntry& entry, std::string* error) {
    if (!Enabled()) return true;
    if (entry.uid.empty()) entry.uid = NewHistoryUid();
    entry.result = HistoryResult::Started;
    std::unique_ptr<SociHistoryStore> outbox = OpenOutbox(outboxPath_, error);
    if (!outbox || !outbox->Add(entry, error) || !outbox->MarkStarted(entry.uid, error)) return false;
    started_.push_back(entry.uid);
    return true;
}

bool HistoryRecorder::Record(HistoryEntry entry, std::string* notice, std::string* error) {
    if (!Enabled()) return true;
    if (entry.uid.empty()) entry.uid = NewHistoryUid();
    // A started entry gets its outcome where it waits, and goes with the outbox.
    if (std::find(started_.begin(), started_.end(), entry.uid) != started_.end()) {
        std::string why;
        std::unique_ptr<SociHistoryStore> outbox = OpenOutbox(outboxPath_, &why);
        if (outbox && outbox->Replace(entry, &why)) {
            outbox.reset();
            if (!store_) return Keep(entry, openFailure_, unreachable_, notice, error);
            std::string ignored;
            Deliver(&ignored);
            if (store_) return true;
            return Keep(entry, HistoryOpenFailure::Unreachable, unreachable_, notice, error);
        }
    }
    HistoryOpenFailure kind = openFailure_;
    std::string why = unreachable_;
    if (store_) {
        std::string ignored;
        Deliver(&ignored);
        if (store_ && store_->Add(entry, &why, &kind)) return true;
        if (store_ && kind != HistoryOpenFailure::Refused) unreachable_ = why;
        // A connection that failed once is not trusted again in this job.
        if (kind != HistoryOpenFailure::Refused) store_.reset();
        if (!store_ && kind != HistoryOpenFailure::Refused) why = unreachable_;
    }
    return Keep(entry, kind, why, notice, error);
}

// Into the outbox: waiting for the store, or in the quarantine when the store refused it.
bool HistoryRecorder::Keep(HistoryEntry& entry, HistoryOpenFailure kind, const std::string& reason,
                           std::string* notice, std::string* error) {
    std::string why;
    std::unique_ptr<SociHistoryStore> outbox = OpenOutbox(outboxPath_, &why);
    const bool refused = kind == HistoryOpenFailure::Refused;
    if (!outbox || !outbox->Add(entry, &why) || (refused && !outbox->Quarantine(entry.uid, reason, &why))) {
        if (error) *error = reason + "; the entry could not be kept in the outbox either: " + why;
        return false;
    }
    if (refused && notice) {
        *notice = "History: " + reason + ". The entry is kept back in the quarantine of " + outboxPath_ +
                  "; qln-cli history outbox lists it, and --release sends it again once the cause is mended.";
    } else if (!noticeGiven_ && notice) {
        *notice = "History: " + reason + "; the entry waits in the outbox " + outboxPath_ +
                  " and is delivered at the next job that reaches the database.";
        noticeGiven_ = true;
    }
    return true;
}
