#pragma once
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "system/Clock.h"

struct QlnState;

// Calls off qln-cli's running request from another thread: main's watcher of SIGINT, SIGTERM and
// SIGHUP. The engine ends the request before its next telegram, so the valve never gets half a
// telegram, and the tool says what the valve now holds.
class CliInterrupt {
public:
    // From any thread; `signo` names the cause in the message.
    void Raise(int signo);
    // The signal raised, or 0.
    int Signal() const;
    // What a signal does to the running request; `count` is how many came so far. Without one
    // the request is called off before its next telegram.
    using Handler = std::function<void(QlnState& s, int count)>;
    // The run's state while its engine runs (nullptr when it ends). A signal raised before the
    // engine started takes effect as soon as it is attached.
    void Attach(QlnState* s, Handler handler = {});

private:
    void Apply();

    mutable std::mutex m_;
    QlnState* state_ = nullptr;
    Handler handler_;
    int signal_ = 0;
    int count_ = 0;
};

// qln-cli as a function, so tests can run it in-process with a fast clock.
// Returns the exit status: 0 success, 2 usage error or unreadable file, else the engine's code
// (see the README for the full list).
int RunCli(const std::vector<std::string>& args, IClock& clock, std::ostream& out, std::ostream& err,
           CliInterrupt* interrupt = nullptr);
