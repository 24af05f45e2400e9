#include "params/ParamDifferences.h"

#include "params/ParameterTable.h"

std::vector<Difference> Differences(const ParameterBlock& first, const ParameterBlock& second) {
    std::vector<Difference> out;
    for (const ParameterDescription& p : ParameterTable()) {
        if (p.telegram == ParamTelegram::None || p.wire == Wire::NotSent ||
            !TelegramInfo(p.telegram).writeName)
            continue;
        std::string a = FormatValue(first, p), b = FormatValue(second, p);
        if (a != b) out.push_back({p.name, std::move(a), std::move(b)});
    }
    return out;
}
