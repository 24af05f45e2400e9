#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CommandTable.h"
#include "params/ParameterBlock.h"
#include "text/Texts.h"

struct QlnState;

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

// The connection field after the status bars' panes: the port, its device and what is known of
// the line ("COM1 /dev/ttyUSB0 — 57600 baud"), from the engine's shared state. Its texts are
// looked up without reporting a library that lacks them: the field is rebuilt every second.
std::string ConnectionText(const TextSource& texts, const QlnState& s);

// Why a command that the menu shows is disabled now ("" while it is enabled): its rule in the
// command table, and for a busy engine whether a recording is what keeps it busy.
std::string DisabledReason(const TextSource& texts, unsigned command, uint32_t threadCmd,
                           bool calibrationMode);

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

// Where F1 looks for the help file, in this order: the program folder (the working directory),
// the folder of the program file and the installed share folder beside it (<exe>/../share/qln);
// with a language (the library's text IDS_HELP_LANGUAGE, e.g. "de") each folder's subfolder of
// that name first. A language that is not a plain folder name is ignored.
std::vector<std::string> HelpFileCandidates(const std::string& programFolder, const std::string& exeFolder,
                                            const std::string& language);
// The first of the paths that is a regular file (never a pipe or a device that would block the
// reader), or "" when there is none.
std::string FirstRegularFile(const std::vector<std::string>& paths);

// A window rectangle in screen pixels.
struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};
// Where a window restored from maximised goes: where it is when it lies within the available
// screen area, else 80 % of that area (but no smaller than the window's minimum, and no larger than
// the area), centred, so its title bar is on the screen.
ScreenRect RestoredGeometry(const ScreenRect& window, const ScreenRect& available, int minWidth = 0,
                            int minHeight = 0);

// 800 on a screen of 1000 pixels width or less, else 1024: the view and the status-bar fonts scale by it.
int ScreenClass(int screenWidth);
