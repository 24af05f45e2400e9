#pragma once
#include <atomic>
#include <functional>
#include <thread>

// The console's requests to stop (Ctrl+C, a closing terminal, kill): taken by one watcher thread
// and handed to `onStop` with their number, so that no other thread is ever interrupted in the
// middle of a telegram. Construct it before any other thread starts: the threads started after it
// inherit the blocked signals.
class ConsoleStopSignals {
public:
    explicit ConsoleStopSignals(std::function<void(int signo)> onStop);
    // Ends the watcher; signals that come later are no longer handed on. Destroy it once the program
    // has stopped what it was doing: on Windows a closing console, log-off or shut-down waits for
    // this (some 4.5 s at most), as the system ends the process as soon as that wait is over.
    ~ConsoleStopSignals();
    ConsoleStopSignals(const ConsoleStopSignals&) = delete;
    ConsoleStopSignals& operator=(const ConsoleStopSignals&) = delete;

private:
    std::function<void(int)> onStop_;
    std::atomic<bool> done_{false};
    std::thread watcher_;
};

// The name of a stop signal as the console user knows it ("SIGINT"), or "a signal".
const char* StopSignalName(int signo);
