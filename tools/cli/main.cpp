#include <clocale>
#include <iostream>

#include "Cli.h"

int main(int argc, char** argv) {
    // Times in the trace follow the user's locale; numbers always use a '.' decimal point.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    std::vector<std::string> args(argv + 1, argv + argc);
    RealClock clock;
    return RunCli(args, clock, std::cout, std::cerr);
}
