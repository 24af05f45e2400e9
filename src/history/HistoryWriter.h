#pragma once
// The desktop program's history: entries handed over by the window are stored by a thread of its
// own, so that neither a slow commit nor a server out of reach (up to its connect time-out) ever
// blocks the window. The writer opens the database afresh at each new job, as qln-cli does at
// each run: that is when a server out of reach is tried again and the outbox delivered.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "history/History.h"

class HistoryWriter {
public:
    // What the writer tells the window, on its own thread (the window passes it on to its own).
    struct Report {
        enum class Kind {
            Refused, // recording is required and the database cannot take entries: jobs must not touch
                     // the valve
            Usable,  // after a refusal, the database takes entries again
            Notice,  // the first entry of a job went to the outbox; `text` says why the database could not
                     // be used and what to do
            Lost,    // an entry that neither the database nor the outbox took
        };
        Kind kind;
        std::string text;
    };
    using Reporter = std::function<void(const Report&)>;

    // Starts the thread and opens the database once, so that a refusal is known before the first job.
    // `required`: the station requires recording, so a database that cannot take entries is refused.
    HistoryWriter(HistoryTarget target, std::string outboxPath, bool required, Reporter reporter);
    // Stores everything handed over, then stops: no entry is dropped at exit.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // One entry; `newJob` for the first entry of a job (the database is opened afresh for it).
    void Submit(HistoryEntry entry, bool newJob);
    // Tries the database again after a refusal (a job was refused): Usable when it now takes entries.
    void Retry();
    // Blocks until every entry handed over so far is stored or in the outbox.
    void Flush();

private:
    struct Item {
        HistoryEntry entry;
        bool newJob;
        bool retryOnly = false; // no entry: the database is only opened again
    };
    void Run();
    void OpenStore();
    void Store(HistoryEntry entry);

    HistoryRecorder recorder_;
    Reporter reporter_;
    std::mutex m_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    bool busy_ = false;
    bool refused_ = false; // the last opening was refused (the writer's thread only)
    bool stop_ = false;
    std::thread thread_;
};
