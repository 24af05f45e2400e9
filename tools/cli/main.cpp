#include <clocale>
#include <iostream>

#include "Cli.h"
#include "system/StopSignals.h"

int main(int argc, char** argv) {
    // Times in the trace follow the user's locale; numbers always use a '.' decimal point.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    std::vector<std::string> args(argv + 1, argv + argc);

    // Ctrl+C, a terminating session or kill must not cut a parameter write short without a word:
    // the stop requests are taken by one watcher, and the run stops cleanly after the telegram on
    // the line.
    CliInterrupt interrupt;
    ConsoleStopSignals stopSignals([&interrupt](int signo) { interrupt.Raise(signo); });

    RealClock clock;
    const int status = RunCli(args, clock, std::cout, std::cerr, &interrupt);
    // A closing console (Windows) holds the process only until stopSignals goes: what was printed
    // is out of the buffers by then.
    std::cout.flush();
    return status;
}
