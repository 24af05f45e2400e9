#include "app/CommandTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>

#include "engine/QlnState.h"

namespace {
// One line per popup: "text: item | item | - | item", separators as "-".
std::string Render(const std::vector<LangMenuItem>& menu) {
    std::string out;
    for (const LangMenuItem& popup : menu) {
        out += popup.text + ":";
        for (const LangMenuItem& item : popup.children)
            out +=
                " " + (item.separator ? std::string("-") : item.text + "=" + std::to_string(item.commandId));
        out += "\n";
    }
    return out;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Every id the window knows, from its description of the menu and keys.
const std::set<unsigned> kAllCommands = {32001, 32002, 32003, 32004, 32005, 32006, 32007, 32008,
                                         32009, 32010, 32011, 32012, 32014, 32015, 32016, 32017,
                                         32018, 32019, 32020, 32021, 32022, 32023, 32025, 32026,
                                         32027, 32029, 32030, 32031, 32040, 32041, 32042, 32043};
// The commands whose dialogs or actions exist in this version.
// Help, About, Debug, the five project commands (32004..32008), Serial Port, Valve Info, Show Grid,
// Step Figures,
// Exit, Parameters, Status, Serial Setpoint, Test Function, Auto-Tune, Scope Setup, Print, the
// calibration commands, the view's Tab, Shift+Tab and Enter, Valve History.
const std::set<unsigned> kWorking = {32001, 32002, 32003, 32004, 32005, 32006, 32007, 32008, 32010, 32011,
                                     32012, 32014, 32015, 32016, 32018, 32019, 32020, 32021, 32022, 32023,
                                     32025, 32026, 32027, 32029, 32030, 32031, 32042, 32043};
// Reset Zoom and the two exports wait for an idle engine as Start Acquisition does.
const std::set<unsigned> kIdleOnly = {32009, 32017, 32040, 32041};
} // namespace

TEST(CommandTable, EachCommandOnceEachKeyOnce) {
    std::map<unsigned, int> ids;
    std::map<std::string, unsigned> keys;
    for (const CommandRow& row : COMMANDS) {
        EXPECT_EQ(++ids[row.id], 1) << row.id << " is in the table twice";
        if (!row.keys) continue;
        const auto [it, added] = keys.emplace(Lower(row.keys), row.id);
        EXPECT_TRUE(added) << row.keys << " is bound to " << it->second << " and " << row.id;
    }
    std::set<unsigned> known;
    for (const auto& [id, n] : ids)
        known.insert(id);
    EXPECT_EQ(known, kAllCommands);
    EXPECT_EQ(FindCommand(32013), nullptr);
    EXPECT_FALSE(CommandEnabled(32013, 0, true));
}

TEST(CommandTable, KeysAreTheDocumentedOnes) {
    const std::map<unsigned, std::string> expected{
        {32001, "F1"},        {32026, "F2"},     {32016, "F3"},           {32017, "F4"},
        {32018, "F5"},        {32009, "F10"},    {32003, "Ctrl+Shift+Q"}, {32022, "Tab"},
        {32023, "Shift+Tab"}, {32025, "Return"}, {32019, "Alt+F4"}};
    std::map<unsigned, std::string> keys;
    for (const Accelerator& a : Accelerators())
        keys[a.command] = a.keys;
    EXPECT_EQ(keys, expected);
}

TEST(CommandTable, MenuItemsHaveTextsAndShowTheirOwnKey) {
    for (const CommandRow& row : COMMANDS) {
        if (row.popup == MENU_NONE) {
            EXPECT_EQ(row.text, nullptr) << row.id << " has a text but no place in the menu";
            EXPECT_FALSE(row.separatorBefore) << row.id;
            continue;
        }
        ASSERT_NE(row.text, nullptr) << row.id;
        const std::string text = row.text;
        const auto tab = text.find('\t');
        if (tab == std::string::npos) {
            EXPECT_EQ(row.keys, nullptr) << row.id << " has a key its menu text does not show";
        } else {
            ASSERT_NE(row.keys, nullptr) << row.id << " shows a key it does not have";
            EXPECT_EQ(text.substr(tab + 1), row.keys) << row.id;
        }
    }
}

TEST(CommandTable, BuiltinMenuKeepsItsLayout) {
    EXPECT_EQ(Render(BuiltinMenu()),
              "&Project: &New Project...=32004 &Open Project...=32005 &Save Project=32006 "
              "Save Project &as...=32007 Project &Info...=32008 - &Print Project...=32015 "
              "Export &Recording (CSV)\u2026=32040 Export Pi&cture (PNG)\u2026=32041 - "
              "Seria&l Port...=32010 - &Exit \tAlt+F4=32019\n"
              "&Valve: P&arameters=32020 Ca&libration=32021 - Valve &Info=32011 Valve &History...=32042 "
              "S&tatus\tF2=32026 - "
              "&Serial Setpoint=32014 T&est Function=32027 A&uto-Tune=32031\n"
              "&Scope: &Setup\tF3=32016 - St&art Acquisition\tF4=32017 Sto&p Acquisition\tF5=32018 - "
              "Show G&rid=32012 Step &Figures=32043 Reset &Zoom\tF10=32009\n"
              "&?: &Help...\tF1=32001 - About &Quillon...=32002\n");
}

TEST(CommandTable, OnlyBuiltCommandsAreEverEnabled) {
    // Stop acquisition is always there (a hard stop when nothing records); start acquisition only
    // while the engine is idle. Auto-tune is always enabled: its handler asks an idle engine.
    for (uint32_t threadCmd : {0u, uint32_t{CMD_STEP_MODE}, uint32_t{CMD_READ_STATUS}}) {
        for (bool cal : {false, true}) {
            EXPECT_TRUE(CommandEnabled(ID_AUTOTUNE, threadCmd, cal));
            EXPECT_TRUE(CommandEnabled(ID_STOP_ACQUISITION, threadCmd, cal));
            EXPECT_EQ(CommandEnabled(ID_START_ACQUISITION, threadCmd, cal), threadCmd == 0);
        }
    }
    std::set<unsigned> enabled, enabledWhileBusy;
    for (unsigned id : kAllCommands) {
        if (CommandEnabled(id, 0, true)) enabled.insert(id);
        if (CommandEnabled(id, CMD_STEP_MODE, true)) enabledWhileBusy.insert(id);
        EXPECT_EQ(CommandEnabled(id, 0, false), CommandEnabled(id, 0, true) && !CalibrationOnly(id)) << id;
    }
    std::set<unsigned> idleOnly = kWorking;
    idleOnly.insert(kIdleOnly.begin(), kIdleOnly.end());
    EXPECT_EQ(enabled, idleOnly);
    EXPECT_EQ(enabledWhileBusy, kWorking);
}

TEST(CommandTable, CalibrationCommandsNeedTheSwitch) {
    std::set<unsigned> calibration;
    for (unsigned id : kAllCommands)
        if (CalibrationOnly(id)) calibration.insert(id);
    EXPECT_EQ(calibration, (std::set<unsigned>{32021, 32029, 32030}));
}
