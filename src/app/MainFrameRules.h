#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "app/CommandTable.h"
#include "params/ParameterBlock.h"
#include "text/Texts.h"

// The main window's rules that need no widget: title, status bars, notification routing, the exit
// guard and the request-word updates of its commands. The commands themselves are in CommandTable.h.

// The version text handed to the About box.
constexpr const char* kVersionText = "Release 1.01";
constexpr const char* kHelpFile = "QLN.HLP";
constexpr const char* kTraceFile = "debug.txt";

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
