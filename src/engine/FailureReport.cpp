#include "engine/FailureReport.h"

#include "engine/DeviceCommands.h"

namespace {
void ReplacePlaceholder(std::string& text, const std::string& placeholder, const std::string& value) {
    const size_t at = text.find(placeholder);
    if (at != std::string::npos) text.replace(at, placeholder.size(), value);
}
} // namespace

std::string LineFailureText(LineFailure failure, const TextSource& texts) {
    switch (failure) {
    case LineFailure::NotSent:
        return texts.Get(IDS_LINE_NOT_SENT);
    case LineFailure::NoAnswer:
        return texts.Get(IDS_LINE_NO_ANSWER);
    case LineFailure::Refused:
        return texts.Get(IDS_LINE_REFUSED);
    case LineFailure::Damaged:
        return texts.Get(IDS_LINE_DAMAGED);
    case LineFailure::FirmwareZero:
        return texts.Get(IDS_LINE_FIRMWARE_ZERO);
    case LineFailure::None:
        break;
    }
    return "";
}

std::string WriteOutcomeText(int32_t acked, const TextSource& texts) {
    if (acked < 0 || acked >= PARAM_WRITE_COUNT) return "";
    if (acked == 0) return texts.Get(IDS_WRITE_NONE_TAKEN);
    // The program's texts are never printf formats: the counts go into {0} and {1}.
    std::string text = texts.Get(IDS_WRITE_MIXED);
    ReplacePlaceholder(text, "{0}", std::to_string(acked));
    ReplacePlaceholder(text, "{1}", std::to_string(PARAM_WRITE_COUNT));
    return text;
}

std::string SerialSetpointText(const QlnState& s, const TextSource& texts) {
    return s.SerialSetpointMayRun.load() ? texts.Get(IDS_SERIAL_SETPOINT_MAY_RUN) : "";
}

std::string TestFunctionText(const QlnState& s, const TextSource& texts) {
    return s.TestFunctionUnsent.load() ? texts.Get(IDS_TEST_FUNCTION_NOT_WRITTEN) : "";
}

std::string FailureReport(const QlnState& s, const TextSource& texts) {
    std::string out = LineFailureText(s.LastFailure.load(), texts);
    for (const std::string& more : {WriteOutcomeText(s.ParamsWriteAcked.load(), texts),
                                    TestFunctionText(s, texts), SerialSetpointText(s, texts)})
        if (!more.empty()) out += (out.empty() ? "" : "\n\n") + more;
    return out;
}
