// The console's Ctrl+C, Ctrl+Break and close events. The system runs the handler on a thread of
// its own, which takes the place of the POSIX watcher thread: no other thread is interrupted.
#include "system/StopSignals.h"
#include "system/Win32.h"

#include <csignal>
#include <mutex>

namespace {
// SIGHUP's number, which the C library here does not define: a closing console.
constexpr int kConsoleClosed = 1;

std::mutex gMutex;
std::function<void(int)>* gOnStop = nullptr;

struct EventSignal {
    DWORD event;
    int signo;
};
constexpr EventSignal kEvents[] = {{CTRL_C_EVENT, SIGINT},
                                   {CTRL_BREAK_EVENT, SIGINT},
                                   {CTRL_CLOSE_EVENT, kConsoleClosed},
                                   {CTRL_LOGOFF_EVENT, SIGTERM},
                                   {CTRL_SHUTDOWN_EVENT, SIGTERM}};

} // namespace

BOOL WINAPI ConsoleStopHandler(DWORD event) {
    for (const EventSignal& e : kEvents) {
        if (e.event != event) continue;
        std::lock_guard<std::mutex> lock(gMutex);
        if (!gOnStop) return FALSE;
        (*gOnStop)(e.signo);
        return TRUE;
    }
    return FALSE;
}

ConsoleStopSignals::ConsoleStopSignals(std::function<void(int)> onStop) : onStop_(std::move(onStop)) {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gOnStop = &onStop_;
    }
    // A process started with Ctrl+C ignored (start /b, some shells) takes it again.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(ConsoleStopHandler, TRUE);
}

ConsoleStopSignals::~ConsoleStopSignals() {
    ::SetConsoleCtrlHandler(ConsoleStopHandler, FALSE);
    std::lock_guard<std::mutex> lock(gMutex);
    if (gOnStop == &onStop_) gOnStop = nullptr;
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
