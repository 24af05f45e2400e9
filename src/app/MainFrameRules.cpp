#include "app/MainFrameRules.h"

#include <algorithm>

#include "engine/DeviceRecords.h"
#include "engine/QlnState.h"
#include "link/SerialPort.h"
#include "system/Files.h"

namespace {
constexpr unsigned ALL_SLOTS = (1u << SLOT_COUNT) - 1;

// What the last failed exchange says about the line; a telegram that could not be sent says
// nothing about the valve (the port itself is judged below).
struct FailureText {
    LineFailure failure;
    unsigned text;
};
constexpr FailureText FAILURE_TEXTS[] = {
    {LineFailure::NoAnswer, IDS_LINK_NOT_ANSWERING},
    {LineFailure::Refused, IDS_LINK_REPLIES_UNUSABLE},
    {LineFailure::Damaged, IDS_LINK_REPLIES_UNUSABLE},
    {LineFailure::FirmwareZero, IDS_LINK_REPLIES_UNUSABLE},
};

unsigned LineStateText(const QlnState& s) {
    const LinkState& l = s.link;
    if (l.PortLost.load()) return PortDeviceBack(l) ? IDS_LINK_DEVICE_BACK : IDS_LINK_DEVICE_GONE;
    const LineFailure failure = s.LastFailure.load();
    for (const FailureText& f : FAILURE_TEXTS)
        if (f.failure == failure) return f.text;
    const bool open = l.PortOpen.load() != 0;
    if (open && BaudRateOf(l.BaudIndex.load()) != 0) return IDS_LINK_BAUD;
    if (!open && l.LastOpenErrno.load() != 0) return IDS_LINK_CANNOT_OPEN;
    return IDS_LINK_NOT_CONNECTED;
}
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

std::string ConnectionText(const TextSource& texts, const QlnState& s) {
    const LinkState& l = s.link;
    const int port = l.PortIndex.load();
    const std::string com = "COM" + std::to_string(port + 1);
    std::string device;
    if (l.uTestMode.load() & 1)
        device = texts.GetSilently(IDS_LINK_SIMULATED);
    else if (port >= 0 && port < static_cast<int>(l.DevicePath.size()))
        device = l.DevicePath[static_cast<size_t>(port)];
    const std::string baud = std::to_string(BaudRateOf(l.BaudIndex.load()));
    return FillPlaceholders(texts.GetSilently(LineStateText(s)), {com, device, baud});
}

std::string DisabledReason(const TextSource& texts, unsigned command, uint32_t threadCmd,
                           bool calibrationMode) {
    const CommandRow* row = FindCommand(command);
    if (!row || CommandEnabled(command, threadCmd, calibrationMode)) return "";
    if ((row->rule & RULE_CALIBRATION_MODE) && !calibrationMode)
        return texts.GetSilently(IDS_WHY_CALIBRATION);
    if (threadCmd & ACQUISITION_BITS) return texts.GetSilently(IDS_WHY_RECORDING);
    return texts.GetSilently(IDS_WHY_ENGINE_BUSY);
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
    } else if (code == NOTIFY_HISTORY_REFUSED) {
        // A job the history refused ends as a failure does: every dialog waiting for it is free
        // again. The window's history says why.
        r.slotMask = ALL_SLOTS;
    } else if (code == NOTIFY_CANCELLED) {
        // Only qln-cli calls a request off; the window has nothing to show for it.
    } else if (code == 130 || code == NOTIFY_IDENTITY) {
        // Auto-tune written, the valve's identity read for the history: nothing to show.
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

std::vector<std::string> HelpFileCandidates(const std::string& programFolder, const std::string& exeFolder,
                                            const std::string& language) {
    const std::string folders[] = {programFolder, exeFolder,
                                   exeFolder.empty() ? "" : exeFolder + "/../share/qln"};
    auto in = [](const std::string& folder, const std::string& name) {
        return folder.empty() ? name : folder + "/" + name;
    };
    const bool plainName = !language.empty() && language.size() <= 16 &&
                           language.find_first_not_of(
                               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_-") == std::string::npos;
    std::vector<std::string> paths;
    if (plainName)
        for (const std::string& folder : folders)
            paths.push_back(in(in(folder, language), kHelpFile));
    for (const std::string& folder : folders)
        paths.push_back(in(folder, kHelpFile));
    return paths;
}

std::string FirstRegularFile(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (IsRegularFile(path)) return path;
    }
    return "";
}

ScreenRect RestoredGeometry(const ScreenRect& window, const ScreenRect& available, int minWidth,
                            int minHeight) {
    const bool inside = window.x >= available.x && window.y >= available.y &&
                        window.x + window.width <= available.x + available.width &&
                        window.y + window.height <= available.y + available.height;
    // A window that fills the whole area is the maximised size kept as the normal one.
    if (inside && !(window.width == available.width && window.height == available.height)) return window;
    ScreenRect r;
    r.width = std::min(std::max(available.width * 4 / 5, minWidth), available.width);
    r.height = std::min(std::max(available.height * 4 / 5, minHeight), available.height);
    r.x = available.x + (available.width - r.width) / 2;
    r.y = available.y + (available.height - r.height) / 2;
    return r;
}

int ScreenClass(int screenWidth) {
    return screenWidth <= 1000 ? 800 : 1024;
}
