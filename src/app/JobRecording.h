#pragma once
// The desktop program's part of the valve history: which of the engine's notifications end a
// recorded job, what its entry says, and the backup that comes before every parameter write. The
// entries go to a HistoryWriter, whose thread stores them; the window's thread never waits for a
// database.
#include <cstdint>
#include <memory>
#include <string>

#include "history/HistoryWriter.h"

struct QlnState;

// The request bits whose jobs the desktop program records; each such request reads the valve's
// identity first. A calibration's checks are part of it and not recorded on their own.
uint32_t RecordedJobBits();

class JobRecording {
public:
    explicit JobRecording(QlnState& s);
    ~JobRecording();

    // Records into `target` from now on (the engine is told which requests to refuse or to read the
    // identity for); Kind::Off records nothing unless `required`, when every job is refused.
    // `reporter` hears of refusals, the outbox and lost entries on the writer's thread.
    void Start(const HistoryTarget& target, const std::string& outboxPath, bool required,
               HistoryWriter::Reporter reporter);
    // Stores what is handed over, then ends the writer's thread.
    void Stop();
    bool Enabled() const { return writer_ != nullptr; }
    // Recording is required and the database cannot take entries: every recorded job is refused
    // before it sends anything, until Accept(). A refused job tries the database again.
    void Refuse();
    void Accept();
    bool Required() const { return required_; }
    // Forgets what the last parameter read was for (a backup, a read-back): the request it belonged
    // to has ended, or the editor that asked for it has gone.
    void ForgetReadPurpose();

    // The window's handler of every notification, on its thread: records the job the notification
    // ends, and after the backup of a parameter write starts the write. `failureReport` is what the
    // window says of a failed request ("" for others).
    void OnNotification(uint32_t code, const std::string& failureReport);
    // Blocks until every entry so far is stored (tests, and before the window goes).
    void Flush();

private:
    void Record(const char* action, HistoryResult result, int confirmed, const std::string& error,
                bool newJob);
    void OnFailure(uint32_t code, const std::string& failureReport);
    const char* ReadAction();

    QlnState& s_;
    std::unique_ptr<HistoryWriter> writer_;
    bool required_ = false;
    HistoryEntry job_;              // the running job's port, device and the valve's identity
    bool switchPending_ = false;    // a set switch was confirmed; its read-back ends the job
    bool writeAfterBackup_ = false; // the last entry was a write's backup: the write is the same job
};
