#include "app/CommandTable.h"

namespace {
// The popups of the built-in menu bar, left to right.
struct Popup {
    MenuPopup popup;
    const char* text;
};
constexpr Popup MENU_BAR[] = {
    {MENU_PROJECT, "&Project"},
    {MENU_VALVE, "&Valve"},
    {MENU_SCOPE, "&Scope"},
    {MENU_HELP, "&?"},
};

bool HasRule(unsigned command, unsigned rule) {
    const CommandRow* row = FindCommand(command);
    return row && (row->rule & rule) != 0;
}
} // namespace

std::vector<LangMenuItem> BuiltinMenu() {
    std::vector<LangMenuItem> menu;
    for (const Popup& bar : MENU_BAR) {
        LangMenuItem& p = menu.emplace_back();
        p.text = bar.text;
        for (const CommandRow& row : COMMANDS) {
            if (row.popup != bar.popup) continue;
            if (row.separatorBefore) p.children.emplace_back().separator = true;
            LangMenuItem& item = p.children.emplace_back();
            item.text = row.text;
            item.commandId = row.id;
        }
    }
    return menu;
}

void RemoveCalibrationCommands(std::vector<LangMenuItem>& menu) {
    std::vector<unsigned> ids;
    for (const CommandRow& row : COMMANDS)
        if (row.rule & RULE_CALIBRATION_MODE) ids.push_back(row.id);
    RemoveMenuCommands(menu, ids);
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
    static const std::vector<Accelerator> table = [] {
        std::vector<Accelerator> keys;
        for (const CommandRow& row : COMMANDS)
            if (row.keys) keys.push_back({row.id, row.keys});
        return keys;
    }();
    return table;
}

bool CommandEnabledByEngine(unsigned command, uint32_t threadCmd) {
    return !HasRule(command, RULE_IDLE_ENGINE) || threadCmd == 0;
}

bool CalibrationOnly(unsigned command) {
    return HasRule(command, RULE_CALIBRATION_MODE);
}

bool CommandEnabled(unsigned command, uint32_t threadCmd, bool calibrationMode) {
    const CommandRow* row = FindCommand(command);
    if (!row) return false;
    if ((row->rule & RULE_CALIBRATION_MODE) && !calibrationMode) return false;
    return CommandEnabledByEngine(command, threadCmd);
}
