#include "system/StopSignals.h"

#include <csignal>
#include <pthread.h>

namespace {
sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, sig);
    return set;
}
} // namespace

ConsoleStopSignals::ConsoleStopSignals(std::function<void(int)> onStop) : onStop_(std::move(onStop)) {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this] {
        const sigset_t stop = StopSet();
        for (;;) {
            int sig = 0;
            if (sigwait(&stop, &sig) != 0) continue;
            if (done_.load()) return;
            onStop_(sig);
        }
    });
}

ConsoleStopSignals::~ConsoleStopSignals() {
    done_.store(true);
    pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
}

const char* StopSignalName(int signo) {
    switch (signo) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}
