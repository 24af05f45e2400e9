// The console's Ctrl+C, Ctrl+Break and close events. The system runs the handler on a thread of
// its own, which takes the place of the POSIX watcher thread: no other thread is interrupted.
#include "system/StopSignals.h"
#include "system/Win32.h"

#include <csignal>

namespace {
// SIGHUP's number, which the C library here does not define: a closing console.
constexpr int kConsoleClosed = 1;

// The system ends the process as soon as the handler returns from a close, log-off or shut-down
// event, and after some 5 s even if it does not: the handler holds it a little less than that.
constexpr ULONGLONG kStopWaitMs = 4500;

// The system's own lock and condition, which are never destroyed: the handler may still be waking
// from its wait while the main thread runs the program's exit.
SRWLOCK gLock = SRWLOCK_INIT;
CONDITION_VARIABLE gEnded = CONDITION_VARIABLE_INIT;
std::function<void(int)>* gOnStop = nullptr;
// How many ConsoleStopSignals have ended: the program has stopped what it was doing.
unsigned gEndedCount = 0;

class Locked {
public:
    Locked() { ::AcquireSRWLockExclusive(&gLock); }
    ~Locked() { ::ReleaseSRWLockExclusive(&gLock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// With the lock held: waits until a ConsoleStopSignals ends after `ended`, at most kStopWaitMs.
void WaitForTheEnd(unsigned ended) {
    const ULONGLONG deadline = ::GetTickCount64() + kStopWaitMs;
    while (gEndedCount == ended) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return;
        if (!::SleepConditionVariableSRW(&gEnded, &gLock, static_cast<DWORD>(deadline - now), 0)) return;
    }
}

struct EventSignal {
    DWORD event;
    int signo;
    // Whether the system ends the process when the handler returns, so that the handler waits
    // until the program has stopped cleanly (the valve told, the file saved).
    bool endsProcess;
};
constexpr EventSignal kEvents[] = {{CTRL_C_EVENT, SIGINT, false},
                                   {CTRL_BREAK_EVENT, SIGINT, false},
                                   {CTRL_CLOSE_EVENT, kConsoleClosed, true},
                                   {CTRL_LOGOFF_EVENT, SIGTERM, true},
                                   {CTRL_SHUTDOWN_EVENT, SIGTERM, true}};

} // namespace

BOOL WINAPI ConsoleStopHandler(DWORD event) {
    for (const EventSignal& e : kEvents) {
        if (e.event != event) continue;
        Locked lock;
        if (!gOnStop) return FALSE;
        (*gOnStop)(e.signo);
        if (e.endsProcess) WaitForTheEnd(gEndedCount);
        return TRUE;
    }
    return FALSE;
}

ConsoleStopSignals::ConsoleStopSignals(std::function<void(int)> onStop) : onStop_(std::move(onStop)) {
    {
        Locked lock;
        gOnStop = &onStop_;
    }
    // A process started with Ctrl+C ignored (start /b, some shells) takes it again.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(ConsoleStopHandler, TRUE);
}

ConsoleStopSignals::~ConsoleStopSignals() {
    ::SetConsoleCtrlHandler(ConsoleStopHandler, FALSE);
    Locked lock;
    if (gOnStop == &onStop_) gOnStop = nullptr;
    ++gEndedCount;
    ::WakeAllConditionVariable(&gEnded);
}

const char* StopSignalName(int signo) {
    switch (signo) {
    case SIGINT:
        return "Ctrl+C";
    case SIGTERM:
        return "the end of the session";
    case kConsoleClosed:
        return "the closing console";
    default:
        return "a signal";
    }
}
