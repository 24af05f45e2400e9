#include "history/HistoryWriter.h"

HistoryWriter::HistoryWriter(HistoryTarget target, std::string outboxPath, bool required, Reporter reporter)
    : recorder_(std::move(target), std::move(outboxPath), required), reporter_(std::move(reporter)),
      thread_([this] { Run(); }) {}

HistoryWriter::~HistoryWriter() {
    {
        std::lock_guard<std::mutex> lock(m_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void HistoryWriter::Submit(HistoryEntry entry, bool newJob) {
    {
        std::lock_guard<std::mutex> lock(m_);
        queue_.push_back({std::move(entry), newJob});
    }
    changed_.notify_all();
}

void HistoryWriter::Retry() {
    {
        std::lock_guard<std::mutex> lock(m_);
        queue_.push_back({HistoryEntry{}, true, true});
    }
    changed_.notify_all();
}

void HistoryWriter::Flush() {
    std::unique_lock<std::mutex> lock(m_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void HistoryWriter::OpenStore() {
    HistoryOpenFailure failure = HistoryOpenFailure::None;
    std::string error;
    const bool refused = !recorder_.Open(&failure, &error);
    if (refused)
        reporter_({Report::Kind::Refused, error});
    else if (refused_)
        reporter_({Report::Kind::Usable, ""});
    refused_ = refused;
}

void HistoryWriter::Store(HistoryEntry entry) {
    std::string notice, error;
    if (!recorder_.Record(std::move(entry), &notice, &error))
        reporter_({Report::Kind::Lost, error});
    else if (!notice.empty())
        reporter_({Report::Kind::Notice, recorder_.UnreachableReason()});
}

void HistoryWriter::Run() {
    OpenStore();
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) break; // stopping, and everything handed over is stored
        Item item = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        if (item.newJob) OpenStore();
        if (!item.retryOnly) Store(std::move(item.entry));
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}
