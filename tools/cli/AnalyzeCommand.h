#pragma once
#include <iosfwd>

#include "scope/StepResponse.h"

struct CommandContext;
class JsonObject;

// The step figures of a recording as qln-cli prints them: "period_s", "samples" and "steps" (and
// "note" when the channels show something else) into `j`; or one line a step.
void AddStepsJson(const RecordingSteps& r, JsonObject& j);
void PrintSteps(const RecordingSteps& r, std::ostream& out);

// analyze FILE: the figures of a project's recording or of a CSV in the export's form.
int RunAnalyze(CommandContext& c);
