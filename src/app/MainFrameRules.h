#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "params/ParameterBlock.h"
#include "text/LanguageLibrary.h"
#include "text/Texts.h"

// The main window's rules that need no widget: commands, menu, title, status bars, notification
// routing, the exit guard and the request-word updates of its commands.

enum CommandId : unsigned {
    ID_HELP = 32001,
    ID_ABOUT = 32002,
    ID_DEBUG_DIALOG = 32003,
    ID_NEW_PROJECT = 32004,
    ID_OPEN_PROJECT = 32005,
    ID_SAVE_PROJECT = 32006,
    ID_SAVE_PROJECT_AS = 32007,
    ID_PROJECT_INFO = 32008,
    ID_RESET_ZOOM = 32009,
    ID_SERIAL_PORT = 32010,
    ID_VALVE_INFO = 32011,
    ID_SHOW_GRID = 32012,
    ID_SERIAL_SETPOINT = 32014,
    ID_PRINT_PROJECT = 32015,
    ID_SCOPE_SETUP = 32016,
    ID_START_ACQUISITION = 32017,
    ID_STOP_ACQUISITION = 32018,
    ID_EXIT = 32019,
    ID_PARAMETERS = 32020,
    ID_CALIBRATION = 32021,
    ID_NEXT_READOUT = 32022,
    ID_PREVIOUS_READOUT = 32023,
    ID_TAKE_READOUT = 32025,
    ID_STATUS = 32026,
    ID_TEST_FUNCTION = 32027,
    ID_CALIBRATION_MATRIX = 32029,
    ID_DISPLAY_CALIBRATION = 32030,
    ID_AUTOTUNE = 32031,
};

// The version text handed to the About box.
constexpr const char* kVersionText = "Release 1.01";
constexpr const char* kHelpFile = "QLN.HLP";
constexpr const char* kTraceFile = "debug.txt";

// The built-in menu (the language library may bring its own in the same form).
std::vector<LangMenuItem> BuiltinMenu();
// Drops the calibration commands (32021, 32029, 32030) wherever they are in the tree; without the
// calibration switch they must not be reachable at all.
void RemoveCalibrationCommands(std::vector<LangMenuItem>& menu);
// Every command id in the tree, depth first.
std::vector<unsigned> MenuCommands(const std::vector<LangMenuItem>& menu);

struct Accelerator {
    unsigned command;
    const char* keys; // portable key text: "F4", "Ctrl+Shift+Q"
};
// The key table. Alt+F4 is bound here as well: without a window manager (a virtual display, a
// kiosk session) nobody else turns it into a close request.
const std::vector<Accelerator>& Accelerators();

// Start acquisition and reset zoom wait for an idle engine; every other command is always enabled.
bool CommandEnabledByEngine(unsigned command, uint32_t threadCmd);

// "Quillon Software[ TESTMODE ] -  [ path ]" with " *]" for a modified project.
std::string BuildTitle(const TextSource& texts, bool testMode, const std::string& projectPath, bool modified);

struct StatusTexts {
    std::string project;      // project bar, pane 0
    std::string setpoint;     // project bar, pane 1
    std::string file;         // file bar, pane 0
    std::string parameterSet; // file bar, pane 1
};
// The four panes from the valve's parameter block as last read (the fields count only while its
// BLOCK_VALID flag is set).
StatusTexts BuildStatusTexts(const TextSource& texts, const ParameterBlock& valveBlock,
                             const std::string& projectName, const std::string& fileName);

// The eight dialogs the engine's notifications can reach.
enum DialogSlot : unsigned {
    SLOT_CALIBRATION = 0,
    SLOT_DISPLAY_CALIBRATION,
    SLOT_CALIBRATION_MATRIX,
    SLOT_PARAMETERS,
    SLOT_VALVE_INFO,
    SLOT_SERIAL_SETPOINT,
    SLOT_STATUS_INFO,
    SLOT_TEST_FUNCTION,
    SLOT_COUNT
};

struct NotificationRoute {
    enum class View { None, Send, Post };
    enum class Box { None, CommunicationError, BaudrateError, Unknown };
    unsigned slotMask = 0; // bit n: forward to DialogSlot n when open
    View view = View::None;
    Box box = Box::None;
    // 65 with the parameter dialog closed: the valve now holds what was written.
    bool copyEditToValveWhenParametersClosed = false;
};
NotificationRoute RouteNotification(uint32_t code);

enum class ExitDecision { Refuse, AskSave, Close };
// An acquisition that has not been told to stop keeps the program open: leaving would leave the
// valve streaming. Once a stop is requested, leaving is allowed even before the engine finished.
ExitDecision DecideExit(uint32_t threadCmd, bool projectModified);

// Stop acquisition: clears the three acquisition bits and sets an orderly stop when one of them was
// set, else a hard stop; every other bit is kept. Returns true for the orderly stop.
bool RequestStopAcquisition(std::atomic<uint32_t>& threadCmd);
// Auto-tune is requested only into an idle request word. Returns true when it was requested.
bool RequestAutoTune(std::atomic<uint32_t>& threadCmd);

// The names of a freshly reset project.
struct ProjectNames {
    std::string name;     // text 31, "UNKNOWN"
    std::string fileName; // "UNKNOWN.QPJ"
    std::string path;     // the file name alone: relative to the program folder
};
ProjectNames ResetProjectNames(const TextSource& texts);

// 800 on a screen of 1000 pixels width or less, else 1024: the view and the status-bar fonts scale by it.
int ScreenClass(int screenWidth);
