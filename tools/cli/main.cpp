#include <atomic>
#include <clocale>
#include <csignal>
#include <iostream>
#include <thread>

#include <pthread.h>

#include "Cli.h"

int main(int argc, char** argv) {
    // Times in the trace follow the user's locale; numbers always use a '.' decimal point.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    std::vector<std::string> args(argv + 1, argv + argc);

    // Ctrl+C, a terminating session or kill must not cut a parameter write short without a word:
    // the signals are taken by one watcher thread (blocked in every other thread, which inherit
    // the mask), and the run stops cleanly after the telegram on the line.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, sig);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    CliInterrupt interrupt;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        for (;;) {
            int sig = 0;
            if (sigwait(&stopSignals, &sig) != 0) continue;
            if (done.load()) return;
            interrupt.Raise(sig);
        }
    });

    RealClock clock;
    const int status = RunCli(args, clock, std::cout, std::cerr, &interrupt);
    done.store(true);
    pthread_kill(watcher.native_handle(), SIGTERM);
    watcher.join();
    return status;
}
