#pragma once
// The commands on the valve's identity, status and parameter sets: info, status, read-params,
// write-params, diff, factory and custom.
#include <iosfwd>
#include <string>
#include <vector>

#include "params/ParamDifferences.h"

struct CommandContext;
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

// One line per difference with the two sets' names, or a JSON list of objects with those keys.
void PrintDifferences(const std::vector<Difference>& diffs, bool json, std::ostream& out,
                      const char* first = "project", const char* second = "valve");
