#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "link/Clock.h"

// qln-cli as a function, so tests can run it in-process with a fast clock.
// Returns the exit status: 0 success, 2 usage error or unreadable file, else the engine's code.
int RunCli(const std::vector<std::string>& args, IClock& clock, std::ostream& out, std::ostream& err);
