#pragma once
// The commands on the valve's identity, status and parameter sets: info, status, read-params,
// write-params, diff, factory and custom.
#include <iosfwd>

struct CommandContext;
struct ParameterBlock;
class JsonObject;

int RunInfo(CommandContext& c);
int RunStatus(CommandContext& c);
int RunReadParams(CommandContext& c);
int RunWriteParams(CommandContext& c);
int RunDiff(CommandContext& c);
int RunFactorySet(CommandContext& c);
int RunCustomSet(CommandContext& c);

// A parameter set as printed: one line per parameter with its unit or choice, or one JSON object.
void PrintParams(const ParameterBlock& b, bool json, std::ostream& out);
JsonObject ParamsJson(const ParameterBlock& b);
