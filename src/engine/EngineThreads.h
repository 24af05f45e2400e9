#pragma once
#include <thread>

#include "engine/Notifier.h"
#include "engine/QlnState.h"

// Starts the four worker threads on a shared state and stops them in order: the supervisor
// stops the other three, then itself; then the port is closed.
class EngineThreads {
public:
    EngineThreads(QlnState& s, INotifier& notifier);
    ~EngineThreads();
    EngineThreads(const EngineThreads&) = delete;
    EngineThreads& operator=(const EngineThreads&) = delete;

    void Start();
    // Lets a requested stop of a recording (orderly or hard) run to its end, its PAS sent and
    // answered or given up, for at most `limitMs` on the link's clock: a valve left streaming
    // answers nothing else. Returns at once when none is pending or the engine does not run;
    // false when the limit ended the wait.
    bool FinishStop(uint32_t limitMs);
    // Asks MainCtrlThread to stop, waits until every thread has ended and closes the port.
    void Stop();
    bool Running() const { return running_; }

private:
    QlnState& s_;
    INotifier& notifier_;
    std::thread mainCtrl_, action_, writeCom_, readCom_;
    bool running_ = false;
};
