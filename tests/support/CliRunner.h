#pragma once
// qln-cli run in-process with its output captured, and run against a started qln-valve.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "support/ValveProcess.h"

namespace qln_test {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// Without the valve history, unless the test names one with --history: a test's telegrams stay
// the command's own, and no test leaves a database behind.
inline CliRun RunCliCaptured(std::vector<std::string> args, IClock& clock,
                             CliInterrupt* interrupt = nullptr) {
    if (std::none_of(args.begin(), args.end(), [](const std::string& a) { return a == "--history"; }))
        args.insert(args.begin(), {"--history", "off"});
    std::ostringstream out, err;
    const int status = RunCli(args, clock, out, err, interrupt);
    return {status, out.str(), err.str()};
}

// The valve's terminal is the --device, given before the rest of `args`. The clock is the
// caller's: paced for requests, real for a recording, which runs at the valve's pace.
inline CliRun RunCliAgainst(const ValveProcess& valve, std::vector<std::string> args, IClock& clock) {
    args.insert(args.begin(), {"--device", valve.SlavePath()});
    return RunCliCaptured(args, clock);
}

} // namespace qln_test
