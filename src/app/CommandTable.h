#pragma once
#include <cstdint>
#include <vector>

#include "text/LanguageLibrary.h"

// Every command of the main window, once. The built-in menu, the key table, the enabling and the
// dispatch are all made from this table; the window binds each id to its handler (MainFrmMenus.cpp), and
// the build fails when a command has no handler there.

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
    // Beyond the original menu: the recording and the picture of the view as files.
    ID_EXPORT_RECORDING = 32040,
    ID_EXPORT_PICTURE = 32041,
    ID_VALVE_HISTORY = 32042,
    ID_STEP_FIGURES = 32043,
};

// The popups of the built-in menu bar.
enum MenuPopup : unsigned char { MENU_NONE, MENU_PROJECT, MENU_VALVE, MENU_SCOPE, MENU_HELP };

// When a command may run. The flags combine.
enum CommandRule : unsigned {
    RULE_ALWAYS = 0,
    // Only while THREAD_CMD is 0: no action requested or running.
    RULE_IDLE_ENGINE = 1u << 0,
    // Only with the calibration switch; without it the command is in no menu and has no key.
    RULE_CALIBRATION_MODE = 1u << 1,
};

struct CommandRow {
    unsigned id;
    MenuPopup popup;      // MENU_NONE: not in the built-in menu (a key only, or a library menu's item)
    bool separatorBefore; // a separator line above the item
    // The built-in menu text ('&' before the mnemonic, "\t" before the key shown). A language
    // library's menu brings its own text for the same id.
    const char* text;
    const char* keys; // portable key text ("F4", "Ctrl+Shift+Q"), or nullptr
    unsigned rule;    // CommandRule flags
};

// Within a popup the built-in menu lists the commands in table order.
// clang-format off
inline constexpr CommandRow COMMANDS[] = {
    // id                   popup         sep    text                      keys            rule
    {ID_NEW_PROJECT,         MENU_PROJECT, false, "&New Project...",        nullptr,        RULE_ALWAYS},
    {ID_OPEN_PROJECT,        MENU_PROJECT, false, "&Open Project...",       nullptr,        RULE_ALWAYS},
    {ID_SAVE_PROJECT,        MENU_PROJECT, false, "&Save Project",          nullptr,        RULE_ALWAYS},
    {ID_SAVE_PROJECT_AS,     MENU_PROJECT, false, "Save Project &as...",    nullptr,        RULE_ALWAYS},
    {ID_PROJECT_INFO,        MENU_PROJECT, false, "Project &Info...",       nullptr,        RULE_ALWAYS},
    {ID_PRINT_PROJECT,       MENU_PROJECT, true,  "&Print Project...",      nullptr,        RULE_ALWAYS},
    {ID_EXPORT_RECORDING,    MENU_PROJECT, false, "Export &Recording (CSV)\u2026", nullptr, RULE_IDLE_ENGINE},
    {ID_EXPORT_PICTURE,      MENU_PROJECT, false, "Export Pi&cture (PNG)\u2026",   nullptr, RULE_IDLE_ENGINE},
    {ID_SERIAL_PORT,         MENU_PROJECT, true,  "Seria&l Port...",        nullptr,        RULE_ALWAYS},
    // Alt+F4 is a key of the program's own: without a window manager (a virtual display, a kiosk
    // session) nobody else turns it into a close request.
    {ID_EXIT,                MENU_PROJECT, true,  "&Exit \tAlt+F4",         "Alt+F4",       RULE_ALWAYS},
    {ID_PARAMETERS,          MENU_VALVE,   false, "P&arameters",            nullptr,        RULE_ALWAYS},
    {ID_CALIBRATION,         MENU_VALVE,   false, "Ca&libration",           nullptr,        RULE_CALIBRATION_MODE},
    {ID_VALVE_INFO,          MENU_VALVE,   true,  "Valve &Info",            nullptr,        RULE_ALWAYS},
    {ID_VALVE_HISTORY,       MENU_VALVE,   false, "Valve &History...",      nullptr,        RULE_ALWAYS},
    {ID_STATUS,              MENU_VALVE,   false, "S&tatus\tF2",            "F2",           RULE_ALWAYS},
    {ID_SERIAL_SETPOINT,     MENU_VALVE,   true,  "&Serial Setpoint",       nullptr,        RULE_ALWAYS},
    {ID_TEST_FUNCTION,       MENU_VALVE,   false, "T&est Function",         nullptr,        RULE_ALWAYS},
    {ID_AUTOTUNE,            MENU_VALVE,   false, "A&uto-Tune",             nullptr,        RULE_ALWAYS},
    {ID_SCOPE_SETUP,         MENU_SCOPE,   false, "&Setup\tF3",             "F3",           RULE_ALWAYS},
    {ID_START_ACQUISITION,   MENU_SCOPE,   true,  "St&art Acquisition\tF4", "F4",           RULE_IDLE_ENGINE},
    {ID_STOP_ACQUISITION,    MENU_SCOPE,   false, "Sto&p Acquisition\tF5",  "F5",           RULE_ALWAYS},
    {ID_SHOW_GRID,           MENU_SCOPE,   true,  "Show G&rid",             nullptr,        RULE_ALWAYS},
    {ID_STEP_FIGURES,        MENU_SCOPE,   false, "Step &Figures",          nullptr,        RULE_ALWAYS},
    {ID_RESET_ZOOM,          MENU_SCOPE,   false, "Reset &Zoom\tF10",       "F10",          RULE_IDLE_ENGINE},
    {ID_HELP,                MENU_HELP,    false, "&Help...\tF1",           "F1",           RULE_ALWAYS},
    {ID_ABOUT,               MENU_HELP,    true,  "About &Quillon...",      nullptr,        RULE_ALWAYS},
    {ID_DISPLAY_CALIBRATION, MENU_NONE,    false, nullptr,                  nullptr,        RULE_CALIBRATION_MODE},
    {ID_CALIBRATION_MATRIX,  MENU_NONE,    false, nullptr,                  nullptr,        RULE_CALIBRATION_MODE},
    {ID_DEBUG_DIALOG,        MENU_NONE,    false, nullptr,                  "Ctrl+Shift+Q", RULE_ALWAYS},
    {ID_NEXT_READOUT,        MENU_NONE,    false, nullptr,                  "Tab",          RULE_ALWAYS},
    {ID_PREVIOUS_READOUT,    MENU_NONE,    false, nullptr,                  "Shift+Tab",    RULE_ALWAYS},
    {ID_TAKE_READOUT,        MENU_NONE,    false, nullptr,                  "Return",       RULE_ALWAYS},
};
// clang-format on

// The row of a command, or nullptr for an id the program does not know (a library menu may name one).
constexpr const CommandRow* FindCommand(unsigned id) {
    for (const CommandRow& row : COMMANDS)
        if (row.id == id) return &row;
    return nullptr;
}

// The built-in menu, in the form a language library brings its own.
std::vector<LangMenuItem> BuiltinMenu();
// Drops the calibration commands wherever they are in the tree; without the calibration switch
// they must not be reachable at all.
void RemoveCalibrationCommands(std::vector<LangMenuItem>& menu);
// Every command id in the tree, depth first.
std::vector<unsigned> MenuCommands(const std::vector<LangMenuItem>& menu);

struct Accelerator {
    unsigned command;
    const char* keys; // portable key text: "F4", "Ctrl+Shift+Q"
};
// The key table: every command that has a key.
const std::vector<Accelerator>& Accelerators();

// The engine's part of the rule: false only for a command that waits for an idle engine while
// THREAD_CMD is not 0.
bool CommandEnabledByEngine(unsigned command, uint32_t threadCmd);
// Whether the command needs the calibration switch (the calibration dialogs).
bool CalibrationOnly(unsigned command);
// Whether the command may run now: known, in calibration mode when it needs it, and
// allowed by the engine's state.
bool CommandEnabled(unsigned command, uint32_t threadCmd, bool calibrationMode);
