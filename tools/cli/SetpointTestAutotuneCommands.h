#pragma once
// The commands that drive the valve from the PC: setpoint, test-function and autotune.
#include <string>

struct CommandContext;
struct Options;

// The arguments: each returns "" or the usage error, and keeps the value in `o`.
std::string ParseSetpoint(const std::string& word, Options& o);     // PCT or off
std::string ParseTestFunction(const std::string& word, Options& o); // off, ramp, step, multistep
std::string ParseTestTime(const std::string& text, Options& o);     // --time S, 0 to 20 s

int RunSetpoint(CommandContext& c);
int RunTestFunction(CommandContext& c);
int RunAutotune(CommandContext& c);
