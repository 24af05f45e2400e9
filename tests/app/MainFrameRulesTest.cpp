#include "app/MainFrameRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/SerialPortRules.h"
#include "dialogs/DebugView.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

namespace {
bool Has(const std::vector<unsigned>& ids, unsigned id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}
} // namespace

TEST(MainFrameMenu, HoldsEveryMenuCommandAndLosesCalibrationWithoutTheSwitch) {
    std::vector<LangMenuItem> menu = BuiltinMenu();
    const std::vector<unsigned> all = MenuCommands(menu);
    for (unsigned id :
         {32004u, 32005u, 32006u, 32007u, 32008u, 32015u, 32010u, 32019u, 32020u, 32021u, 32011u,
          32026u, 32014u, 32027u, 32031u, 32016u, 32017u, 32018u, 32012u, 32009u, 32002u, 32001u})
        EXPECT_TRUE(Has(all, id)) << id;
    RemoveCalibrationCommands(menu);
    const std::vector<unsigned> left = MenuCommands(menu);
    EXPECT_FALSE(Has(left, ID_CALIBRATION));
    EXPECT_EQ(left.size(), all.size() - 1);

    // A library menu may carry the other two calibration commands, at any depth.
    LangMenuItem deep;
    deep.text = "Cal";
    deep.children = {LangMenuItem{"Matrix", ID_CALIBRATION_MATRIX, false, {}},
                     LangMenuItem{"Display", ID_DISPLAY_CALIBRATION, false, {}},
                     LangMenuItem{"Info", ID_VALVE_INFO, false, {}}};
    std::vector<LangMenuItem> lib{LangMenuItem{"Top", 0, false, {deep}}};
    RemoveCalibrationCommands(lib);
    EXPECT_EQ(MenuCommands(lib), std::vector<unsigned>{ID_VALVE_INFO});
}

TEST(MainFrameMenu, TextsAndKeys) {
    std::vector<std::pair<unsigned, std::string>> texts;
    std::function<void(const std::vector<LangMenuItem>&)> walk = [&](const std::vector<LangMenuItem>& items) {
        for (const LangMenuItem& m : items) {
            if (m.commandId) texts.emplace_back(m.commandId, m.text);
            walk(m.children);
        }
    };
    walk(BuiltinMenu());
    auto text = [&](unsigned id) {
        for (auto& [i, t] : texts)
            if (i == id) return t;
        return std::string();
    };
    EXPECT_EQ(text(ID_EXIT), "&Exit \tAlt+F4");
    EXPECT_EQ(text(ID_STATUS), "S&tatus\tF2");
    EXPECT_EQ(text(ID_START_ACQUISITION), "St&art Acquisition\tF4");
    EXPECT_EQ(text(ID_ABOUT), "About &Quillon...");
    EXPECT_EQ(text(ID_SERIAL_PORT), "Seria&l Port...");
    auto key = [](unsigned id) {
        for (const Accelerator& a : Accelerators())
            if (a.command == id) return std::string(a.keys);
        return std::string();
    };
    EXPECT_EQ(key(ID_DEBUG_DIALOG), "Ctrl+Shift+Q");
    EXPECT_EQ(key(ID_HELP), "F1");
    EXPECT_EQ(key(ID_RESET_ZOOM), "F10");
    EXPECT_EQ(key(ID_EXIT), "Alt+F4");
    EXPECT_EQ(key(ID_PREVIOUS_READOUT), "Shift+Tab");
}

TEST(MainFrameCommands, StartAndZoomWaitForAnIdleEngine) {
    EXPECT_TRUE(CommandEnabledByEngine(ID_START_ACQUISITION, 0));
    EXPECT_FALSE(CommandEnabledByEngine(ID_START_ACQUISITION, CMD_READ_STATUS));
    EXPECT_FALSE(CommandEnabledByEngine(ID_RESET_ZOOM, CMD_STEP_MODE));
    EXPECT_TRUE(CommandEnabledByEngine(ID_STOP_ACQUISITION, CMD_STEP_MODE));
    EXPECT_TRUE(CommandEnabledByEngine(ID_SERIAL_PORT, CMD_STEP_MODE));
}

TEST(MainFrameTitle, NamesTestModeAndModifiedState) {
    TextSource texts;
    EXPECT_EQ(BuildTitle(texts, true, "UNKNOWN.QPJ", false), "Quillon Software TESTMODE  -  [ UNKNOWN.QPJ ]");
    EXPECT_EQ(BuildTitle(texts, false, "UNKNOWN.QPJ", false), "Quillon Software -  [ UNKNOWN.QPJ ]");
    EXPECT_EQ(BuildTitle(texts, false, "/p/A.QPJ", true), "Quillon Software -  [ /p/A.QPJ *]");
    const ProjectNames n = ResetProjectNames(texts);
    EXPECT_EQ(n.name, "UNKNOWN");
    EXPECT_EQ(n.fileName, "UNKNOWN.QPJ");
    EXPECT_EQ(n.path, "UNKNOWN.QPJ");
}

TEST(MainFrameStatusBars, ShowTheValveBlockOnlyWhileItIsValid) {
    TextSource texts;
    ParameterBlock b{};
    b.SETPOINT_ADJUSTMENT = 1;
    b.PARAMETER_SET = 1;
    StatusTexts t = BuildStatusTexts(texts, b, "UNKNOWN", "UNKNOWN.QPJ");
    EXPECT_EQ(t.project, "Project: UNKNOWN");
    EXPECT_EQ(t.file, "File: UNKNOWN.QPJ");
    EXPECT_EQ(t.setpoint, "Setpoint: --");
    EXPECT_EQ(t.parameterSet, "Parameter Set: --");
    b.BLOCK_VALID = 1;
    t = BuildStatusTexts(texts, b, "P", "F");
    EXPECT_EQ(t.setpoint, "Setpoint: Custom");
    EXPECT_EQ(t.parameterSet, "Parameter Set: Factory");
    b.SETPOINT_ADJUSTMENT = 0;
    b.PARAMETER_SET = 0;
    t = BuildStatusTexts(texts, b, "P", "F");
    EXPECT_EQ(t.setpoint, "Setpoint: Normal (0 - 100%)");
    EXPECT_EQ(t.parameterSet, "Parameter Set: Custom");
    b.SETPOINT_ADJUSTMENT = 5;
    b.PARAMETER_SET = 9;
    t = BuildStatusTexts(texts, b, "P", "F");
    EXPECT_EQ(t.setpoint, "Setpoint: --");
    EXPECT_EQ(t.parameterSet, "Parameter Set: --");
}

TEST(MainFrameRouting, SendsEachCodeWhereItBelongs) {
    using R = NotificationRoute;
    for (uint32_t c = 1; c <= 8; ++c) {
        EXPECT_EQ(RouteNotification(c).slotMask, 0xFFu) << c;
        EXPECT_EQ(RouteNotification(c).box, c == 7 ? R::Box::BaudrateError : R::Box::CommunicationError) << c;
    }
    for (uint32_t c = 32; c <= 38; ++c)
        EXPECT_EQ(RouteNotification(c).slotMask,
                  1u << SLOT_CALIBRATION | 1u << SLOT_DISPLAY_CALIBRATION | 1u << SLOT_CALIBRATION_MATRIX);
    EXPECT_EQ(RouteNotification(48).view, R::View::Send);
    EXPECT_EQ(RouteNotification(49).view, R::View::Post);
    EXPECT_EQ(RouteNotification(64).slotMask, 1u << SLOT_PARAMETERS);
    EXPECT_TRUE(RouteNotification(65).copyEditToValveWhenParametersClosed);
    EXPECT_FALSE(RouteNotification(64).copyEditToValveWhenParametersClosed);
    EXPECT_EQ(RouteNotification(66).slotMask, 1u << SLOT_PARAMETERS);
    EXPECT_EQ(RouteNotification(80).slotMask, 1u << SLOT_VALVE_INFO);
    EXPECT_EQ(RouteNotification(96).slotMask, 1u << SLOT_SERIAL_SETPOINT);
    EXPECT_EQ(RouteNotification(112).slotMask, 1u << SLOT_STATUS_INFO);
    EXPECT_EQ(RouteNotification(128).slotMask, 1u << SLOT_TEST_FUNCTION);
    EXPECT_EQ(RouteNotification(129).slotMask, 1u << SLOT_TEST_FUNCTION);
    // Auto-tune written, the identity read for the history.
    for (uint32_t c : {130u, 0x51u}) {
        EXPECT_EQ(RouteNotification(c).slotMask, 0u) << c;
        EXPECT_EQ(RouteNotification(c).box, R::Box::None) << c;
    }
    // A job the history refused frees every waiting dialog; the window's history says why.
    EXPECT_EQ(RouteNotification(0x52).slotMask, 0xFFu);
    EXPECT_EQ(RouteNotification(0x52).box, R::Box::None);
    for (uint32_t c : {0u, 9u, 31u, 39u, 50u, 67u, 83u, 131u, 0x8001u}) {
        EXPECT_EQ(RouteNotification(c).box, R::Box::Unknown) << c;
        EXPECT_EQ(RouteNotification(c).slotMask, 0u) << c;
    }
}

TEST(MainFrameExit, RefusedOnlyWhileAnAcquisitionRunsUnstopped) {
    EXPECT_EQ(DecideExit(0, false), ExitDecision::Close);
    EXPECT_EQ(DecideExit(CMD_READ_STATUS, false), ExitDecision::Close);
    EXPECT_EQ(DecideExit(0, true), ExitDecision::AskSave);
    for (uint32_t bit : {CMD_ROLL_TRIGGER, CMD_RAMP_MODE, CMD_STEP_MODE}) {
        EXPECT_EQ(DecideExit(bit, true), ExitDecision::Refuse);
        EXPECT_EQ(DecideExit(bit | CMD_STOP_ACQUISITION, false), ExitDecision::Close);
        EXPECT_EQ(DecideExit(bit | CMD_HARD_STOP, true), ExitDecision::AskSave);
    }
}

TEST(MainFrameRequests, StopAndAutoTuneKeepOtherBits) {
    std::atomic<uint32_t> cmd{CMD_STEP_MODE | CMD_READ_STATUS};
    EXPECT_TRUE(RequestStopAcquisition(cmd));
    EXPECT_EQ(cmd.load(), CMD_READ_STATUS | CMD_STOP_ACQUISITION);
    cmd = CMD_READ_STATUS;
    EXPECT_FALSE(RequestStopAcquisition(cmd));
    EXPECT_EQ(cmd.load(), CMD_READ_STATUS | CMD_HARD_STOP);

    cmd = CMD_READ_STATUS;
    EXPECT_FALSE(RequestAutoTune(cmd));
    EXPECT_EQ(cmd.load(), CMD_READ_STATUS);
    cmd = 0;
    EXPECT_TRUE(RequestAutoTune(cmd));
    EXPECT_EQ(cmd.load(), CMD_AUTOTUNE);
}

TEST(MainFrameScreen, SmallScreensGetTheSmallLayout) {
    EXPECT_EQ(ScreenClass(800), 800);
    EXPECT_EQ(ScreenClass(1000), 800);
    EXPECT_EQ(ScreenClass(1001), 1024);
}

TEST(SerialPortRules, OkCancelAndEnabling) {
    ManualClock clock;
    LinkState link(clock);
    link.PortIndex = 2;
    link.BaudIndex = 3;
    EXPECT_TRUE(ApplySerialPortChoice(2, link)); // same port, but the known speed is dropped
    EXPECT_EQ(link.BaudIndex.load(), 0);
    EXPECT_FALSE(ApplySerialPortChoice(2, link));
    EXPECT_FALSE(ApplySerialPortChoice(-1, link)); // nothing checked: unchanged
    EXPECT_EQ(link.PortIndex.load(), 2);
    EXPECT_TRUE(ApplySerialPortChoice(7, link));
    EXPECT_EQ(link.PortIndex.load(), 7);

    EXPECT_FALSE(CancelNeedsConfirmation(7, link));
    EXPECT_FALSE(CancelNeedsConfirmation(-1, link));
    EXPECT_TRUE(CancelNeedsConfirmation(0, link));
    EXPECT_TRUE(PortButtonsEnabled(0));
    EXPECT_FALSE(PortButtonsEnabled(CMD_STEP_MODE));
}

TEST(DebugView, NamesLabelsAndValues) {
    EXPECT_EQ(DebugVarName(1), "1 THREAD_CMD       ");
    EXPECT_EQ(DebugVarName(14), "xF                 ");
    EXPECT_EQ(DebugVarName(8).size(), 19u);
    EXPECT_EQ(DebugRowLabel(20), "20: x15                ");
    EXPECT_EQ(DebugRowLabel(29), "29: x1E                ");
    EXPECT_EQ(DebugValueText(0x100), "0x00000100 ");
    EXPECT_EQ(DebugValueText(0xABCDEF12u), "0xABCDEF12 ");
    EXPECT_STREQ(DebugTabTitle(1), "Var 10- 19");
}
