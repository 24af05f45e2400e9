#include "app/MainFrameRules.h"

#include <algorithm>

#include "engine/DeviceRecords.h"
#include "engine/QlnState.h"

namespace {
LangMenuItem Cmd(const char* text, unsigned id) {
    LangMenuItem m;
    m.text = text;
    m.commandId = id;
    return m;
}
LangMenuItem Sep() {
    LangMenuItem m;
    m.separator = true;
    return m;
}
LangMenuItem Popup(const char* text, std::vector<LangMenuItem> children) {
    LangMenuItem m;
    m.text = text;
    m.children = std::move(children);
    return m;
}

bool IsCalibrationCommand(unsigned id) {
    return id == ID_CALIBRATION || id == ID_CALIBRATION_MATRIX || id == ID_DISPLAY_CALIBRATION;
}

constexpr uint32_t ACQUISITION_BITS = CMD_ROLL_TRIGGER | CMD_RAMP_MODE | CMD_STEP_MODE;
constexpr unsigned ALL_SLOTS = (1u << SLOT_COUNT) - 1;
} // namespace

std::vector<LangMenuItem> BuiltinMenu() {
    return {
        Popup("&Project",
              {Cmd("&New Project...", ID_NEW_PROJECT), Cmd("&Open Project...", ID_OPEN_PROJECT),
               Cmd("&Save Project", ID_SAVE_PROJECT), Cmd("Save Project &as...", ID_SAVE_PROJECT_AS),
               Cmd("Project &Info...", ID_PROJECT_INFO), Sep(), Cmd("&Print Project...", ID_PRINT_PROJECT),
               Sep(), Cmd("Seria&l Port...", ID_SERIAL_PORT), Sep(), Cmd("&Exit \tAlt+F4", ID_EXIT)}),
        Popup("&Valve", {Cmd("P&arameters", ID_PARAMETERS), Cmd("Ca&libration", ID_CALIBRATION), Sep(),
                         Cmd("Valve &Info", ID_VALVE_INFO), Cmd("S&tatus\tF2", ID_STATUS), Sep(),
                         Cmd("&Serial Setpoint", ID_SERIAL_SETPOINT), Cmd("T&est Function", ID_TEST_FUNCTION),
                         Cmd("A&uto-Tune", ID_AUTOTUNE)}),
        Popup("&Scope",
              {Cmd("&Setup\tF3", ID_SCOPE_SETUP), Sep(), Cmd("St&art Acquisition\tF4", ID_START_ACQUISITION),
               Cmd("Sto&p Acquisition\tF5", ID_STOP_ACQUISITION), Sep(), Cmd("Show G&rid", ID_SHOW_GRID),
               Cmd("Reset &Zoom\tF10", ID_RESET_ZOOM)}),
        Popup("&?", {Cmd("&Help...\tF1", ID_HELP), Sep(), Cmd("About &Quillon...", ID_ABOUT)}),
    };
}

void RemoveCalibrationCommands(std::vector<LangMenuItem>& menu) {
    std::erase_if(
        menu, [](const LangMenuItem& m) { return m.children.empty() && IsCalibrationCommand(m.commandId); });
    for (LangMenuItem& m : menu)
        RemoveCalibrationCommands(m.children);
}

std::vector<unsigned> MenuCommands(const std::vector<LangMenuItem>& menu) {
    std::vector<unsigned> ids;
    for (const LangMenuItem& m : menu) {
        if (!m.separator && m.children.empty() && m.commandId != 0) ids.push_back(m.commandId);
        const std::vector<unsigned> sub = MenuCommands(m.children);
        ids.insert(ids.end(), sub.begin(), sub.end());
    }
    return ids;
}

const std::vector<Accelerator>& Accelerators() {
    static const std::vector<Accelerator> table{
        {ID_HELP, "F1"},
        {ID_STATUS, "F2"},
        {ID_SCOPE_SETUP, "F3"},
        {ID_START_ACQUISITION, "F4"},
        {ID_STOP_ACQUISITION, "F5"},
        {ID_RESET_ZOOM, "F10"},
        {ID_DEBUG_DIALOG, "Ctrl+Shift+Q"},
        {ID_NEXT_READOUT, "Tab"},
        {ID_PREVIOUS_READOUT, "Shift+Tab"},
        {ID_TAKE_READOUT, "Return"},
        {ID_EXIT, "Alt+F4"},
    };
    return table;
}

bool CommandEnabledByEngine(unsigned command, uint32_t threadCmd) {
    if (command == ID_START_ACQUISITION || command == ID_RESET_ZOOM) return threadCmd == 0;
    return true;
}

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

bool RequestStopAcquisition(std::atomic<uint32_t>& threadCmd) {
    // One read-modify-write for both changes, so the engine never sees the acquisition bits gone
    // without the stop request that goes with them.
    uint32_t old = threadCmd.load();
    uint32_t next;
    do {
        next = (old & ~ACQUISITION_BITS) | ((old & ACQUISITION_BITS) ? CMD_STOP_ACQUISITION : CMD_HARD_STOP);
    } while (!threadCmd.compare_exchange_weak(old, next));
    return (old & ACQUISITION_BITS) != 0;
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
