#include "app/MainFrameRules.h"

#include "engine/DeviceRecords.h"
#include "engine/QlnState.h"

namespace {
constexpr unsigned ALL_SLOTS = (1u << SLOT_COUNT) - 1;
} // namespace

std::string BuildTitle(const TextSource& texts, bool testMode, const std::string& projectPath,
                       bool modified) {
    std::string t = texts.Get(IDS_APP_TITLE);
    if (testMode) t += " TESTMODE ";
    t += " - ";
    t += " [ ";
    t += projectPath;
    t += modified ? " *]" : " ]";
    return t;
}

StatusTexts BuildStatusTexts(const TextSource& texts, const ParameterBlock& valveBlock,
                             const std::string& projectName, const std::string& fileName) {
    // The engine publishes the block by storing BLOCK_VALID last; load it first.
    const bool valid =
        std::atomic_ref<const int32_t>(valveBlock.BLOCK_VALID).load(std::memory_order_acquire) != 0;
    StatusTexts s;
    s.project = texts.Get(10) + projectName;
    s.file = texts.Get(4) + fileName;
    std::string setpoint = texts.Get(8);
    std::string set = texts.Get(8);
    if (valid) {
        if (valveBlock.SETPOINT_ADJUSTMENT == 0) setpoint = texts.Get(216);
        if (valveBlock.SETPOINT_ADJUSTMENT == 1) setpoint = texts.Get(130);
        if (valveBlock.PARAMETER_SET == 1) set = texts.Get(132);
        if (valveBlock.PARAMETER_SET == 0) set = texts.Get(130);
    }
    s.setpoint = texts.Get(129) + setpoint;
    s.parameterSet = texts.Get(133) + set;
    return s;
}

NotificationRoute RouteNotification(uint32_t code) {
    using R = NotificationRoute;
    R r;
    if (code >= 1 && code <= 8) {
        r.slotMask = ALL_SLOTS;
        r.box = code == NOTIFY_BAUDRATE_ERROR ? R::Box::BaudrateError : R::Box::CommunicationError;
    } else if (code >= 32 && code <= 38) {
        r.slotMask = 1u << SLOT_CALIBRATION | 1u << SLOT_DISPLAY_CALIBRATION | 1u << SLOT_CALIBRATION_MATRIX;
    } else if (code == 48) {
        r.view = R::View::Send;
    } else if (code == 49) {
        r.view = R::View::Post;
    } else if (code == 64 || code == 66) {
        r.slotMask = 1u << SLOT_PARAMETERS;
    } else if (code == 65) {
        r.slotMask = 1u << SLOT_PARAMETERS;
        r.copyEditToValveWhenParametersClosed = true;
    } else if (code == 80) {
        r.slotMask = 1u << SLOT_VALVE_INFO;
    } else if (code == 96) {
        r.slotMask = 1u << SLOT_SERIAL_SETPOINT;
    } else if (code == 112) {
        r.slotMask = 1u << SLOT_STATUS_INFO;
    } else if (code == 128 || code == 129) {
        r.slotMask = 1u << SLOT_TEST_FUNCTION;
    } else if (code == NOTIFY_CANCELLED) {
        // Only qln-cli calls a request off; the window has nothing to show for it.
    } else if (code == 130) {
        // Auto-tune written: nothing to show.
    } else {
        r.box = R::Box::Unknown;
    }
    return r;
}

ExitDecision DecideExit(uint32_t threadCmd, bool projectModified) {
    if ((threadCmd & ACQUISITION_BITS) != 0 && (threadCmd & (CMD_STOP_ACQUISITION | CMD_HARD_STOP)) == 0)
        return ExitDecision::Refuse;
    return projectModified ? ExitDecision::AskSave : ExitDecision::Close;
}

bool RequestAutoTune(std::atomic<uint32_t>& threadCmd) {
    uint32_t idle = 0;
    return threadCmd.compare_exchange_strong(idle, CMD_AUTOTUNE);
}

ProjectNames ResetProjectNames(const TextSource& texts) {
    ProjectNames n;
    n.name = texts.Get(31);
    n.fileName = "UNKNOWN.QPJ";
    n.path = n.fileName;
    return n;
}

int ScreenClass(int screenWidth) {
    return screenWidth <= 1000 ? 800 : 1024;
}
