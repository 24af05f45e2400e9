#include "ShowCommand.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>

#include "CliRun.h"
#include "ParamsCommands.h"
#include "params/ParameterTable.h"
#include "scope/Acquisition.h"

namespace {
// The edited set as a write would send it: each number rounded to what the valve can hold.
ParameterBlock Written(ParameterBlock b) {
    RoundToValveSteps(b);
    return b;
}

// How many samples the stored recording holds.
int RecordedSamples(const ProjectFile& p) {
    bool any = false;
    for (uint8_t b : p.samples)
        any = any || b != 0;
    return StoredSampleCount(p.scopeSetup, !any);
}

// The texts of the description in UTF-8. The path and the file name are the file's real ones, which
// the record's Windows-1252 fields may not spell ("Ventil?A.QPJ"), as the window shows them.
void PrintProject(const ProjectFile& p, const std::string& realPath, bool json, std::ostream& out) {
    const ProjectInfo& i = p.info;
    const std::pair<const char*, std::string> texts[] = {
        {"name", FieldName(i.ProjectName)}, {"file", ShownFileName(i, realPath)}, {"path", realPath},
        {"company", FieldName(i.Company)},  {"address", FieldName(i.Address)},    {"city", FieldName(i.City)},
        {"phone", FieldName(i.Phone)},      {"email", FieldName(i.Email)}};
    char version[32];
    std::snprintf(version, sizeof version, "%.2f", static_cast<double>(FormatVersion(p)));
    const ScopeSetup& s = p.scopeSetup;
    if (json) {
        JsonObject project, scope, recording, all;
        for (const auto& [key, text] : texts)
            project.AddText(key, text);
        project.Add("version", static_cast<long>(i.Version));
        scope.Add("mode", s.Mode);
        scope.Add("acquisition_time", s.AcquisitionTime);
        scope.Add("sample_rate_index", s.SampleRateIndex);
        scope.Add("trigger_channel", s.TriggerChannel);
        recording.Add("samples", RecordedSamples(p));
        all.Add("project", project.Body());
        all.Add("format_version", std::isfinite(FormatVersion(p)) ? std::string(version) : "null");
        all.Add("parameters", ParamsJson(Written(p.editBlock)).Body());
        all.Add("scope", scope.Body());
        all.Add("recording", recording.Body());
        out << all.Str();
        return;
    }
    for (const auto& [key, text] : texts)
        out << key << std::string(16 - std::strlen(key), ' ') << text << "\n";
    out << "version         " << i.Version << "\nformat version  " << version << "\n";
    out << "scope           mode " << s.Mode << ", " << s.AcquisitionTime << " s, sample rate index "
        << s.SampleRateIndex << "\nrecording       " << RecordedSamples(p) << " samples\n\nparameters\n";
    PrintParams(Written(p.editBlock), false, out);
}
} // namespace

int RunShow(CommandContext& c) {
    PrintProject(c.project, RealProjectPath(c.o.file), c.o.json, c.out);
    return 0;
}
