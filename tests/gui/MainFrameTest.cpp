// Widget tests of the desktop program on the offscreen platform: the real window, the real
// engine threads (in test mode, on a fast or manual clock) and real files in a temporary folder.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include "WidgetTestSupport.h"
#include "app/MainFrm.h"
#include "app/QtNotifier.h"
#include "app/SerialPortDialog.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/DebugDialog.h"
#include "dialogs/MessageBox.h"
#include "dialogs/NotifiedDialog.h"
#include "engine/QlnState.h"
#include "support/ScriptedValve.h"
#include "system/Clock.h"
#include "text/LanguageLibrary.h"
#include "view/ChildView.h"

using widget_test::ReadAll;

namespace {
struct Shown {
    std::string text, caption;
    MbIcon icon;
    MbButtons buttons;
    bool windowVisible; // was any top-level window visible when the box came up
};

// Answers the boxes from a script (then with the default button) and remembers them.
class FakeBoxes : public IMessageBox {
public:
    MbResult Show(const std::string& text, const std::string& caption, MbIcon icon, MbButtons buttons,
                  MbResult defaultButton) override {
        bool visible = false;
        for (QWidget* w : QApplication::topLevelWidgets())
            visible = visible || w->isVisible();
        shown.push_back({text, caption, icon, buttons, visible});
        if (!answers.empty()) {
            const MbResult r = answers.front();
            answers.pop_front();
            return r;
        }
        return buttons == MbButtons::Ok ? MbResult::Ok : defaultButton;
    }
    std::vector<Shown> shown;
    std::deque<MbResult> answers;
};

class FakeDialog : public CNotifiedDialog {
public:
    void OnMsgReceive(uint32_t code, intptr_t) override { codes.push_back(code); }
    std::vector<uint32_t> codes;
};

// Waits without handling events, as a window busy elsewhere would.
template <class Pred> bool WaitWithoutEvents(Pred pred, int ms = 30000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// One program: a folder, a clock, the shared state, the boxes and the window.
struct Program {
    explicit Program(IClock& c) : clock(c), state(std::make_unique<QlnState>(c)) {}
    ~Program() { frame.reset(); }
    CMainFrame& Start(Switches sw, const LanguageLibrary* library = nullptr) {
        FrameSetup setup;
        setup.state = state.get();
        setup.switches = sw;
        setup.library = library;
        setup.programFolder = dir.path().toStdString();
        setup.buildStamp = "20250102 030405";
        setup.messages = &boxes;
        setup.screenWidth = 1280;
        frame = std::make_unique<CMainFrame>(setup);
        return *frame;
    }
    QString File(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    bool ThreadsStopped() const {
        for (const auto& rs : state->link.RunStates)
            if (rs.load() != RUN_STOPPED) return false;
        return true;
    }
    // Exits through the guard; true once the window has closed. A window that does not close
    // within `ms` has deadlocked: closing never waits on the wall clock.
    bool ExitAndWait(int ms = 30000) {
        QElapsedTimer t;
        t.start();
        frame->OnCommand(ID_EXIT);
        while (frame->isVisible() && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return !frame->isVisible();
    }

    IClock& clock;
    QTemporaryDir dir;
    std::unique_ptr<QlnState> state;
    FakeBoxes boxes;
    std::unique_ptr<CMainFrame> frame;
};
} // namespace

class GuiTest : public QObject {
    Q_OBJECT
private slots:
    void startUpCautionTitleFilesAndCleanExit();
    void menuWithoutCalibrationSwitch();
    void menuWithCalibrationSwitch();
    void menuFromTheLanguageLibrary();
    void recordingStartsWithF4AndStopsWithF5();
    void aRecordingEndedByALineFailureIsHardStopped();
    void aLineFailureSaysAMissingTextOnce();
    void notificationsReachTheOpenDialogsOnly();
    void sendReturnsOnlyAfterHandlingAndNeverHangsWhenClosing();
    void exitGuard();
    void exitLetsTheStopReachTheValveFirst();
    void statusBarsFollowTheValveBlock();
    void closesQuicklyWhileTheEngineIsBusy();
    void serialPortDialog();
    void serialPortChangeIsWrittenAfterConfirming();
    void serialPortSettingsFileRules();
    void speedFoundIsRememberedForThePortsDevice();
    void aboutBox();
    void debugDialog();
};

void GuiTest::startUpCautionTitleFilesAndCleanExit() {
    // Under a comma-decimal locale the program's files must still hold dots.
    const char* lcAll = std::getenv("LC_ALL");
    if (lcAll && std::string(lcAll).rfind("de_DE", 0) == 0)
        QCOMPARE(std::localeconv()->decimal_point[0], ',');

    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({true, false, true});
    QVERIFY(!p.boxes.shown.empty());
    const Shown& caution = p.boxes.shown.front();
    QCOMPARE(caution.text, p.state->texts->Get(357));
    QVERIFY(caution.text.find("Caution") != std::string::npos);
    QCOMPARE(caution.caption, std::string("Quillon Software"));
    QCOMPARE(caution.icon, MbIcon::Stop);
    QVERIFY(!caution.windowVisible);

    QCOMPARE(f.windowTitle(), QStringLiteral("Quillon Software TESTMODE  -  [ UNKNOWN.QPJ ]"));
    f.showMaximized();
    QVERIFY(f.windowState() & Qt::WindowMaximized);
    QCOMPARE(f.BuildStamp(), std::string("20250102 030405"));

    QVERIFY(ReadAll(p.File("QLN_com.ini")).find("PORT=COM1") != std::string::npos);
    const std::string para = ReadAll(p.File("QLN_para.ini"));
    int keys = 0, sections = 0;
    std::istringstream lines(para);
    for (std::string line; std::getline(lines, line);) {
        keys += line.find('=') != std::string::npos;
        sections += line.rfind("[", 0) == 0;
    }
    QCOMPARE(keys, 114);
    QCOMPARE(sections, 8);
    QVERIFY(para.find("VALUE_PROPORTIONAL_GAIN=1.00") != std::string::npos);
    QVERIFY(para.find(',') == std::string::npos);
    QVERIFY(ReadAll(p.File("debug.txt")).find("uTestMode Flag: 1") != std::string::npos);
    // The file defaults became the edited set.
    QCOMPARE(p.state->params.EditBlock.SETPOINT_OFFSET, -50);

    QVERIFY(!p.ThreadsStopped());
    QVERIFY2(p.ExitAndWait(), "the window did not close");
    QVERIFY(!f.isVisible());
    QVERIFY(p.ThreadsStopped());
    QCOMPARE(p.state->link.PortOpen.load(), 0);
}

void GuiTest::menuWithoutCalibrationSwitch() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({});
    QCOMPARE(f.windowTitle(), QStringLiteral("Quillon Software -  [ UNKNOWN.QPJ ]"));
    for (unsigned id : {ID_CALIBRATION, ID_CALIBRATION_MATRIX, ID_DISPLAY_CALIBRATION})
        QVERIFY2(f.CommandAction(id) == nullptr, "calibration must be unreachable");
    const std::vector<std::pair<unsigned, QString>> items{{ID_NEW_PROJECT, "&New Project..."},
                                                          {ID_OPEN_PROJECT, "&Open Project..."},
                                                          {ID_SAVE_PROJECT, "&Save Project"},
                                                          {ID_SAVE_PROJECT_AS, "Save Project &as..."},
                                                          {ID_PROJECT_INFO, "Project &Info..."},
                                                          {ID_PRINT_PROJECT, "&Print Project..."},
                                                          {ID_SERIAL_PORT, "Seria&l Port..."},
                                                          {ID_EXIT, "&Exit \tAlt+F4"},
                                                          {ID_PARAMETERS, "P&arameters"},
                                                          {ID_VALVE_INFO, "Valve &Info"},
                                                          {ID_STATUS, "S&tatus\tF2"},
                                                          {ID_SERIAL_SETPOINT, "&Serial Setpoint"},
                                                          {ID_TEST_FUNCTION, "T&est Function"},
                                                          {ID_AUTOTUNE, "A&uto-Tune"},
                                                          {ID_SCOPE_SETUP, "&Setup\tF3"},
                                                          {ID_START_ACQUISITION, "St&art Acquisition\tF4"},
                                                          {ID_STOP_ACQUISITION, "Sto&p Acquisition\tF5"},
                                                          {ID_SHOW_GRID, "Show G&rid"},
                                                          {ID_RESET_ZOOM, "Reset &Zoom\tF10"},
                                                          {ID_ABOUT, "About &Quillon..."},
                                                          {ID_HELP, "&Help...\tF1"}};
    for (const auto& [id, text] : items) {
        QAction* a = f.CommandAction(id);
        QVERIFY2(a, qPrintable(text));
        QCOMPARE(a->text(), text);
    }
    QCOMPARE(f.CommandAction(ID_STATUS)->shortcut(), QKeySequence(Qt::Key_F2));
    QCOMPARE(f.CommandAction(ID_DEBUG_DIALOG)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+Q")));
    QCOMPARE(f.CommandAction(ID_EXIT)->shortcut(), QKeySequence(QStringLiteral("Alt+F4")));
    QCOMPARE(f.CommandAction(ID_RESET_ZOOM)->shortcut(), QKeySequence(Qt::Key_F10));
    // Every command is built; these work whenever the engine is idle.
    for (unsigned id : {ID_SCOPE_SETUP, ID_SERIAL_PORT, ID_EXIT, ID_PARAMETERS, ID_ABOUT, ID_HELP,
                        ID_DEBUG_DIALOG, ID_NEW_PROJECT, ID_OPEN_PROJECT, ID_SAVE_PROJECT, ID_SAVE_PROJECT_AS,
                        ID_PROJECT_INFO, ID_PRINT_PROJECT, ID_SERIAL_SETPOINT, ID_TEST_FUNCTION, ID_AUTOTUNE})
        QVERIFY(f.CommandAction(id)->isEnabled());
    // The grid item is checked while the grid is shown.
    f.CommandAction(ID_SHOW_GRID)->trigger();
    QVERIFY(f.View()->GridShown());
    QVERIFY(f.CommandAction(ID_SHOW_GRID)->isChecked());
}

void GuiTest::menuWithCalibrationSwitch() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({false, true, false});
    QVERIFY(f.CommandAction(ID_CALIBRATION));
    QCOMPARE(f.CommandAction(ID_CALIBRATION)->text(), QStringLiteral("Ca&libration"));

    // Every item has a name; every one that can be chosen reaches a handler.
    int items = 0, enabled = 0;
    std::function<void(const QList<QAction*>&)> walk = [&](const QList<QAction*>& actions) {
        for (QAction* a : actions) {
            QVERIFY2(a->isSeparator() || !a->text().isEmpty(), "a menu item without a name");
            if (a->menu()) {
                walk(a->menu()->actions());
            } else if (!a->isSeparator()) {
                ++items;
                enabled += a->isEnabled();
                QVERIFY2(!a->isEnabled() || CMainFrame::HasHandler(a->data().toUInt()),
                         qPrintable(a->text()));
            }
        }
    };
    walk(f.menuBar()->actions());
    QCOMPARE(items, 26);
    // The five project commands, print, the two exports, serial port, exit, parameters, calibration,
    // valve info, valve history, status, serial setpoint, test function, auto-tune, scope setup,
    // start and stop acquisition, grid, step figures, reset zoom, help, about.
    QCOMPARE(enabled, 26);
}

void GuiTest::menuFromTheLanguageLibrary() {
    LanguageLibrary lib;
    std::string error;
    QVERIFY2(
        lib.Parse("QLN-LANGUAGE 1\n[STRINGTABLE]\n1 \"x\"\n[MENU 32024]\n"
                  "POPUP \"&Ventil\"\n"
                  "  32026 \"S&tatus\\tF2\"\n"
                  "  POPUP \"&Kalibrierung\"\n    32021 \"Ka&librierung\"\n    32029 \"&Matrix\"\n  END\n"
                  "  32013 \"&Unbekannt\"\n"
                  "  32031 \"A&uto-Tune\"\n"
                  "END\n",
                  &error),
        error.c_str());
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({}, &lib);
    const QList<QAction*> bar = f.menuBar()->actions();
    QCOMPARE(bar.size(), 1);
    QCOMPARE(bar[0]->text(), QStringLiteral("&Ventil"));
    // Without the switch the calibration items go from the library's menu too, at any depth.
    QCOMPARE(f.CommandAction(ID_CALIBRATION), nullptr);
    QCOMPARE(f.CommandAction(ID_CALIBRATION_MATRIX), nullptr);
    QCOMPARE(f.CommandAction(ID_NEW_PROJECT), nullptr);
    // The library gives the text; the key stays the program's.
    QCOMPARE(f.CommandAction(ID_STATUS)->text(), QStringLiteral("S&tatus\tF2"));
    QCOMPARE(f.CommandAction(ID_STATUS)->shortcut(), QKeySequence(Qt::Key_F2));
    QVERIFY(f.CommandAction(ID_STATUS)->isEnabled());
    QVERIFY(f.CommandAction(ID_AUTOTUNE)->isEnabled());
    // An id the program does not know is shown, and never does anything.
    QVERIFY(f.CommandAction(32013));
    QVERIFY(!f.CommandAction(32013)->isEnabled());
    // Keys of commands missing from the library's menu still work.
    QCOMPARE(f.CommandAction(ID_HELP)->shortcut(), QKeySequence(Qt::Key_F1));
    QVERIFY(f.CommandAction(ID_HELP)->isEnabled());
    QCOMPARE(f.CommandAction(ID_EXIT)->shortcut(), QKeySequence(QStringLiteral("Alt+F4")));
}

// Against the simulated valve: F4 starts the set-up's roll recording, the view is told of the new
// samples (its marker moves, and it clears the display flag when it has painted them), F5 ends it.
void GuiTest::recordingStartsWithF4AndStopsWithF5() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({false, false, true});
    f.show();
    f.activateWindow();
    QVERIFY2(QTest::qWaitForWindowActive(&f), "the main window never became active");
    auto* view = f.findChild<CChildView*>();
    QVERIFY(view);
    QTest::keyClick(&f, Qt::Key_F4);
    QVERIFY(p.state->THREAD_CMD.load() & CMD_ROLL_TRIGGER);
    QVERIFY(!f.CommandAction(ID_START_ACQUISITION)->isEnabled());
    QVERIFY2(widget_test::Until([&] { return view->MarkerSample() > 0; }), "no progress reached the view");
    QVERIFY2(widget_test::Until([&] { return p.state->DisplayUpdatePending.load() == 0; }),
             "the view never took the new samples");
    // Exit is refused while it records.
    f.OnCommand(ID_EXIT);
    QVERIFY(f.isVisible());
    QCOMPARE(p.boxes.shown.back().text, std::string("Communication active. Exit not possible!"));

    QTest::keyClick(&f, Qt::Key_F5);
    QVERIFY2(widget_test::Until([&] { return p.state->THREAD_CMD.load() == 0; }),
             "the recording never ended");
    QVERIFY2(widget_test::Until([&] { return view->MarkerSample() == -1; }),
             "the end never reached the view");
    QVERIFY(p.state->SamplesReceived.load() > 0);

    // A mode no recording has (from a damaged project file) is said, and the recording stays.
    const int32_t filled = p.state->FillIndex.load();
    QVERIFY(filled > 0);
    const float last = p.state->samples.Analog(0, filled - 1);
    ScopeSetup damaged = CopyScopeSetup(*p.state);
    damaged.Mode = 7;
    StoreScopeSetup(*p.state, damaged);
    f.OnCommand(ID_START_ACQUISITION);
    QCOMPARE(
        p.boxes.shown.back().text,
        std::string("The scope set-up holds an unknown acquisition mode (7). Choose Step, Ramp or Trigger "
                    "Mode in Scope > Setup (F3), then start again. The recording is kept."));
    QCOMPARE(p.state->THREAD_CMD.load(), 0u);
    QCOMPARE(p.state->FillIndex.load(), filled);
    QCOMPARE(p.state->samples.Analog(0, filled - 1), last);
}

// After a recording ended in a communication error the valve may still stream: the window says
// what failed and sends the hard stop. After any other failed action the line is left alone.
void GuiTest::aRecordingEndedByALineFailureIsHardStopped() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({true, false, true});
    f.OnMsgReceive(NOTIFY_REPLY_TIMEOUT, 0);
    QCOMPARE(p.state->THREAD_CMD.load(), 0u);
    p.state->link.ValveMayStream.store(1); // what a recording leaves behind when it gives up
    p.boxes.shown.clear();
    f.OnMsgReceive(NOTIFY_REPLY_TIMEOUT, 0);
    QVERIFY(p.boxes.shown.at(0).text.find("Communication Error") != std::string::npos);
    QVERIFY2(widget_test::Until([&] {
                 return ReadAll(p.File("debug.txt")).find(" Hard Stop Acquisition done") !=
                            std::string::npos &&
                        p.state->THREAD_CMD.load() == 0;
             }),
             "no hard stop followed the failure");
    QCOMPARE(p.state->link.ValveMayStream.load(), 0u);
}

// A language library without the line's texts: the failure says each missing one once, and of the
// texts added after the first libraries (407 onwards) none at all.
void GuiTest::aLineFailureSaysAMissingTextOnce() {
    LanguageLibrary lib;
    std::string error;
    QVERIFY2(lib.Parse("QLN-LANGUAGE 1\n[STRINGTABLE]\n106 \"Kommunikationsfehler\"\n", &error),
             error.c_str());
    // As the program wires it, every lookup the library cannot answer is said; the texts outlive
    // the window.
    std::vector<std::string> missing;
    const TextSource texts(&lib,
                           [&](const std::string& text, const std::string&) { missing.push_back(text); });
    ScaledClock clock(20);
    Program p(clock);
    p.state->texts = &texts;
    CMainFrame& f = p.Start({false, false, true}, &lib);
    p.boxes.shown.clear();
    missing.clear();
    p.state->LastFailure.store(LineFailure::NoAnswer);
    p.state->TestFunctionUnsent.store(1);
    f.OnMsgReceive(NOTIFY_REPLY_TIMEOUT, 0);
    QCOMPARE(p.boxes.shown.size(), size_t{1});
    QVERIFY(p.boxes.shown[0].text.rfind("Kommunikationsfehler", 0) == 0);
    QVERIFY(p.boxes.shown[0].text.find("The valve's controller settings could not be read") !=
            std::string::npos);
    QCOMPARE(std::count(missing.begin(), missing.end(), " IDS 401 not found "), 1);
    QCOMPARE(std::count(missing.begin(), missing.end(), " IDS 407 not found "), 0);
}

void GuiTest::notificationsReachTheOpenDialogsOnly() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({false, false, true});
    p.boxes.shown.clear();
    FakeDialog info, params;
    f.SetSlot(SLOT_VALVE_INFO, &info);
    f.SetSlot(SLOT_PARAMETERS, &params);

    f.OnMsgReceive(80, 0);
    QVERIFY(info.codes.empty()); // forwards are queued
    QCoreApplication::processEvents();
    QCOMPARE(info.codes, std::vector<uint32_t>{80});
    QVERIFY(params.codes.empty());
    QVERIFY(p.boxes.shown.empty());

    f.OnMsgReceive(3, 0);
    QCoreApplication::processEvents();
    QCOMPARE(info.codes.back(), 3u);
    QCOMPARE(params.codes.back(), 3u);
    QCOMPARE(p.boxes.shown.back().text, std::string("Communication Error"));
    QCOMPARE(p.boxes.shown.back().caption, std::string("Quillon Software"));

    f.OnMsgReceive(7, 0);
    QCOMPARE(p.boxes.shown.back().text, std::string("Baudrate Error"));

    // After a write that did not complete the box says what happened and what the valve holds.
    p.state->LastFailure.store(LineFailure::Refused);
    p.state->ParamsWriteAcked.store(7);
    f.OnMsgReceive(6, 0);
    const std::string& text = p.boxes.shown.back().text;
    QVERIFY2(text.rfind("Communication Error\n\nThe valve refused the telegram (NAK)", 0) == 0, text.c_str());
    QVERIFY2(
        text.find("\n\nThe write did not complete: the valve confirmed the first 7 of the 34 new values") !=
            std::string::npos,
        text.c_str());
    p.state->LastFailure.store(LineFailure::None);
    p.state->ParamsWriteAcked.store(-1);

    const size_t boxes = p.boxes.shown.size();
    f.OnMsgReceive(130, 0);
    QCOMPARE(p.boxes.shown.size(), boxes);
    f.OnMsgReceive(200, 0);
    QCOMPARE(p.boxes.shown.back().text, std::string("ERROR OnMsgReceive "));
    QCOMPARE(p.boxes.shown.back().caption, std::string("KVT"));

    // Parameters written: with the editor open it takes care; without it the valve holds the edit.
    p.state->params.EditBlock.FORWARD_OFFSET = 42;
    f.OnMsgReceive(65, 0);
    QVERIFY(p.state->params.ValveBlock.FORWARD_OFFSET != 42);
    f.SetSlot(SLOT_PARAMETERS, nullptr);
    f.OnMsgReceive(65, 0);
    QCOMPARE(p.state->params.ValveBlock.FORWARD_OFFSET, 42);

    // A dialog that closed before its forward arrived is not reached.
    {
        FakeDialog gone;
        f.SetSlot(SLOT_STATUS_INFO, &gone);
        f.OnMsgReceive(112, 0);
    }
    QCoreApplication::processEvents();
}

void GuiTest::sendReturnsOnlyAfterHandlingAndNeverHangsWhenClosing() {
    std::atomic<int> handled{0};
    std::thread::id handlerThread;
    QtNotifier n(
        [&](uint32_t, intptr_t) {
            handled.fetch_add(1);
            handlerThread = std::this_thread::get_id();
        },
        [&](const std::string&, const std::string&) { handled.fetch_add(100); });

    int seenAfterSend = -1;
    std::jthread sender([&] {
        n.Send(80, 0);
        seenAfterSend = handled.load();
    });
    QVERIFY(WaitWithoutEvents([&] { return n.WaitingSenders() == 1; }));
    QCOMPARE(handled.load(), 0);
    QCoreApplication::processEvents();
    sender.join();
    QCOMPARE(seenAfterSend, 1);
    QCOMPARE(handlerThread, std::this_thread::get_id());

    std::jthread message([&] { n.ShowMessage("text", "caption"); });
    QTRY_COMPARE_WITH_TIMEOUT(handled.load(), 101, 2000);
    message.join();

    // A sender waiting while the window closes is released, and its notification is dropped.
    std::atomic<bool> returned{false};
    std::jthread late([&] {
        n.Send(112, 0);
        returned = true;
    });
    QVERIFY(WaitWithoutEvents([&] { return n.WaitingSenders() == 1; }));
    n.BeginClosing();
    late.join();
    QVERIFY(returned.load());
    QCoreApplication::processEvents();
    QCOMPARE(handled.load(), 101);
    n.Send(80, 0); // closing: returns at once
    n.Post(80, 0);
    QCoreApplication::processEvents();
    QCOMPARE(handled.load(), 101);
}

void GuiTest::exitGuard() {
    // A manual clock: the acquisition the test requests can never finish on its own.
    ManualClock clock;
    Program p(clock);
    CMainFrame& f = p.Start({false, false, true});
    f.show();
    p.boxes.shown.clear();
    // The engine is stopped first, so that the acquisition request stays pending whatever the
    // engine would make of it.
    p.state->link.RunStates[THREAD_ACTION].store(RUN_STOP_REQUESTED);
    WakeEngine(p.state->link);
    QVERIFY(WaitWithoutEvents([&] { return p.state->link.RunStates[THREAD_ACTION].load() == RUN_STOPPED; }));
    p.state->THREAD_CMD.fetch_or(CMD_STEP_MODE);
    f.OnCommand(ID_EXIT);
    QCOMPARE(p.boxes.shown.size(), size_t{1});
    QCOMPARE(p.boxes.shown.back().text, std::string("Communication active. Exit not possible!"));
    // The window's close button and Alt+F4 go the same way.
    f.close();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(f.isVisible());
    QCOMPARE(p.boxes.shown.size(), size_t{2});

    // A requested stop allows leaving before the engine has finished; a modified project asks
    // first: Cancel stays, a failed save stays, No leaves.
    QVERIFY(RequestStopAcquisition(p.state->THREAD_CMD));
    QVERIFY(p.state->THREAD_CMD.load() & CMD_STOP_ACQUISITION);
    f.SetProjectModified(true);
    QVERIFY(f.windowTitle().endsWith(QStringLiteral(" *]")));
    // A folder where the project file should go makes the save fail.
    QVERIFY(QDir(p.dir.path()).mkdir(QStringLiteral("UNKNOWN.QPJ")));
    p.boxes.answers = {MbResult::Cancel, MbResult::Yes, MbResult::Ok, MbResult::No};
    f.OnCommand(ID_EXIT);
    QCoreApplication::processEvents();
    QVERIFY(f.isVisible());
    QCOMPARE(p.boxes.shown.back().icon, MbIcon::Exclamation);
    QCOMPARE(p.boxes.shown.back().buttons, MbButtons::YesNoCancel);
    f.OnCommand(ID_EXIT);
    QCoreApplication::processEvents();
    QVERIFY(f.isVisible());
    QVERIFY2(p.ExitAndWait(), "the window did not close");
    QVERIFY(!f.isVisible());
    QVERIFY(p.ThreadsStopped());
}

// Exit right after F5 while the valve streams: the window stays up with the wait cursor until the
// valve has answered PAS, and only then is the port closed. On a manual clock no time-out can end
// the wait instead.
void GuiTest::exitLetsTheStopReachTheValveFirst() {
    std::promise<void> answerPas;
    std::shared_future<void> pasAnswered = answerPas.get_future().share();
    bool streaming = false;
    qln_test::ScriptedValve valve([&](const std::vector<uint8_t>& r) -> std::vector<uint8_t> {
        switch (r[1]) {
        case 0x23: // VER
            return qln_test::Framed({12});
        case 43: // ACR
            return qln_test::Framed({0});
        case 40: { // TAS: its ACK, then the stream
            streaming = true;
            std::vector<uint8_t> out{0x06};
            for (int k = 0; k < 200; ++k)
                out.insert(out.end(), {0x02, 64, 0, 128, 128, 0});
            return out;
        }
        case 41: // PAS: the recording's own at its start at once, the stop when the test says so
            if (streaming) pasAnswered.wait_for(std::chrono::seconds(10));
            return {0x06};
        default:
            return {0x06};
        }
    });
    ManualClock clock;
    widget_test::TestProgram<> p({true, false, false}, &clock, valve.SlavePath());
    ScopeSetup setup = CopyScopeSetup(p.state);
    setup.Mode = 2;
    StoreScopeSetup(p.state, setup);
    p.frame->OnCommand(ID_START_ACQUISITION);
    QVERIFY2(widget_test::Until([&] { return p.state.SamplesReceived.load() > 0; }), "nothing was recorded");
    p.frame->OnCommand(ID_STOP_ACQUISITION);
    p.frame->OnCommand(ID_EXIT);
    // Once closing has begun (the window hidden, or the wait cursor up) and PAS is on the line: how
    // the window looks, then the valve answers.
    bool shownWhileWaiting = false, waitCursor = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto commands = valve.Commands();
        const QCursor* cursor = QGuiApplication::overrideCursor();
        if ((p.frame->isVisible() && !cursor) || commands.empty() || commands.back() != 41) return;
        shownWhileWaiting = p.frame->isVisible();
        waitCursor = cursor && cursor->shape() == Qt::WaitCursor;
        answerPas.set_value();
        watch.stop();
    });
    watch.start();
    QVERIFY2(widget_test::Until([&] { return !p.frame->isVisible(); }), "the window did not close");
    QVERIFY(shownWhileWaiting);
    QVERIFY(waitCursor);
    QVERIFY(!QGuiApplication::overrideCursor());
    const std::string trace = p.Trace();
    const size_t stopDone = trace.find(" Stop Acquisition ");
    QVERIFY2(stopDone != std::string::npos, "the stop never ended");
    QVERIFY(stopDone < trace.rfind(" Close Com Port"));
    QCOMPARE(p.state.link.PortOpen.load(), 0);
}

void GuiTest::statusBarsFollowTheValveBlock() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({false, false, true});
    QCOMPARE(f.StatusText(0, 0), QStringLiteral("Project: UNKNOWN"));
    QCOMPARE(f.StatusText(0, 1), QStringLiteral("Setpoint: --"));
    QCOMPARE(f.StatusText(1, 0), QStringLiteral("File: UNKNOWN.QPJ"));
    QCOMPARE(f.StatusText(1, 1), QStringLiteral("Parameter Set: --"));
    ParameterBlock& v = p.state->params.ValveBlock;
    v.SETPOINT_ADJUSTMENT = 1;
    v.PARAMETER_SET = 1;
    std::atomic_ref<int32_t>(v.BLOCK_VALID).store(1);
    // The bars follow on the next tick of the one-second timer.
    QTRY_COMPARE_WITH_TIMEOUT(f.StatusText(0, 1), QStringLiteral("Setpoint: Custom"), 2500);
    QCOMPARE(f.StatusText(1, 1), QStringLiteral("Parameter Set: Factory"));
}

void GuiTest::closesQuicklyWhileTheEngineIsBusy() {
    for (int round = 0; round < 3; ++round) {
        ScaledClock clock(1);
        Program p(clock);
        CMainFrame& f = p.Start({false, false, true});
        f.show();
        RequestAction(*p.state, CMD_READ_DEVICE_INFO | CMD_READ_PARAMETER);
        // A second "engine" in the middle of a sent notification that nobody has handled yet.
        std::atomic<bool> released{false};
        std::jthread sender([&] {
            f.Notifier().Send(112, 0);
            released = true;
        });
        QVERIFY(WaitWithoutEvents([&] { return f.Notifier().WaitingSenders() >= 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
        const bool closed = p.ExitAndWait();
        sender.join();
        QVERIFY2(closed, "the window did not close");
        QVERIFY(released.load());
        QVERIFY(p.ThreadsStopped());
    }
}

void GuiTest::serialPortDialog() {
    ManualClock clock;
    QlnState s(clock);
    FakeBoxes boxes;
    s.link.PortIndex = 2;
    s.link.BaudIndex = 3;
    ComSettings com;
    com.DevicePath[2] = "/dev/ttyUSB0";
    CSerialPortDialog d(nullptr, s, com.DevicePath, *s.texts, boxes);
    QCOMPARE(d.windowTitle(), QStringLiteral("Serial Port"));
    QVERIFY(d.PortButton(2)->isChecked());
    QVERIFY(d.PortButton(2)->text().contains(QStringLiteral("/dev/ttyUSB0")));
    QVERIFY(d.PortButton(0)->text().contains(QStringLiteral("/dev/ttyS0")));
    QVERIFY(d.BaudButton(1)->isChecked());
    QVERIFY(!d.BaudButton(0)->isChecked());
    QVERIFY(!d.BaudButton(0)->isEnabled() && !d.BaudButton(1)->isEnabled());
    QCOMPARE(d.Timer()->interval(), 5000);
    QVERIFY(d.Timer()->isActive());
    QVERIFY(d.PortButton(0)->isEnabled());

    // Busy engine: the port cannot be changed until the next tick finds it idle.
    s.THREAD_CMD = CMD_STEP_MODE;
    d.RefreshEnabling();
    QVERIFY(!d.PortButton(0)->isEnabled());
    s.THREAD_CMD = 0;
    d.RefreshEnabling();
    QVERIFY(d.PortButton(0)->isEnabled());

    // Cancel with a different port asks; No keeps the dialog, Yes leaves without storing.
    d.show();
    d.PortButton(5)->setChecked(true);
    boxes.answers = {MbResult::No, MbResult::Yes};
    d.reject();
    QVERIFY(d.isVisible());
    QCOMPARE(boxes.shown.back().text, std::string("Data's are changed. Do you really want to cancel?"));
    QCOMPARE(boxes.shown.back().icon, MbIcon::Question);
    d.reject();
    QVERIFY(!d.isVisible());
    QCOMPARE(s.link.PortIndex.load(), 2);
    QCOMPARE(s.link.BaudIndex.load(), 3);

    // OK with the same port still forgets the known line speed.
    CSerialPortDialog again(nullptr, s, com.DevicePath, *s.texts, boxes);
    again.accept();
    QVERIFY(again.Changed());
    QCOMPARE(s.link.BaudIndex.load(), 0);
    QCOMPARE(s.link.PortIndex.load(), 2);
}

void GuiTest::serialPortChangeIsWrittenAfterConfirming() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start({false, false, true});
    f.show();
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<CSerialPortDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        seen = true;
        d->PortButton(3)->setChecked(true);
        d->accept();
    });
    f.OnCommand(ID_SERIAL_PORT);
    QVERIFY(seen);
    QCOMPARE(p.state->link.PortIndex.load(), 3);
    QVERIFY(ReadAll(p.File("QLN_com.ini")).find("PORT=COM4") != std::string::npos);
}

void GuiTest::serialPortSettingsFileRules() {
    ScaledClock clock(20);
    Program p(clock);
    {
        std::ofstream f(p.File("QLN_com.ini").toStdString());
        f << "; my adapters\n[SERIAL-PORT]\nPORT=com3\n[DEVICES]\nCOM1=/dev/ttyUSB7\n";
    }
    CMainFrame& f = p.Start({false, false, true});
    // A lower-case name selects COM1 and is rewritten at once; the user's lines stay.
    QCOMPARE(p.state->link.PortIndex.load(), 0);
    QCOMPARE(p.state->link.DevicePath[0], std::string("/dev/ttyUSB7"));
    const std::string text = ReadAll(p.File("QLN_com.ini"));
    QVERIFY(text.find("PORT=COM1") != std::string::npos);
    QVERIFY(text.find("; my adapters") != std::string::npos);
    QVERIFY(text.find("COM1=/dev/ttyUSB7") != std::string::npos);
    QCOMPARE(f.PortSettings().DevicePath[0], std::string("/dev/ttyUSB7"));
}

// The port's device's remembered speed is tried first; a different one found is stored under the
// device's path with the next notification, and from then on tried first.
void GuiTest::speedFoundIsRememberedForThePortsDevice() {
    ScaledClock clock(20);
    Program p(clock);
    {
        std::ofstream f(p.File("QLN_com.ini").toStdString());
        f << "[SERIAL-PORT]\nPORT=COM2\n[DEVICES]\nCOM2=/dev/ttyUSB7\n[SPEEDS]\n/dev/ttyUSB7=19200\n"
             "/dev/ttyS1=57600\n";
    }
    CMainFrame& f = p.Start({false, false, false}); // in test mode no device answers
    LinkState& link = p.state->link;
    QCOMPARE(link.PreferredBaudIndex.load(), 2);
    link.FoundBaudIndex.store(3);
    f.OnMsgReceive(NOTIFY_STATUS, 0);
    QCOMPARE(link.PreferredBaudIndex.load(), 3);
    const std::string text = ReadAll(p.File("QLN_com.ini"));
    QVERIFY2(text.find("[SPEEDS]\r\n/dev/ttyUSB7=57600\r\n/dev/ttyS1=57600\r\n") != std::string::npos,
             text.c_str());
}

void GuiTest::aboutBox() {
    TextSource texts;
    CAboutDialog withStamp(nullptr, texts, "Release 1.01", "20250102 030405");
    withStamp.show();
    QCOMPARE(withStamp.VersionLabel()->text(), QStringLiteral("Release 1.01"));
    QCOMPARE(withStamp.StampLabel()->text(), QStringLiteral("20250102 030405"));
    QVERIFY(withStamp.StampLabel()->isVisible());
    QCOMPARE(withStamp.windowTitle(), QString::fromStdString(texts.Get(114)));
    CAboutDialog noStamp(nullptr, texts, "Release 1.01", "");
    noStamp.show();
    QVERIFY(!noStamp.StampLabel()->isVisible());
    // A look at it for a person: written into the build folder.
    withStamp.grab().save(QCoreApplication::applicationDirPath() + "/about.png");
}

void GuiTest::debugDialog() {
    std::atomic<uint32_t> vars[kDebugVarCount];
    for (auto& v : vars)
        v = kDebugUnset;
    vars[1] = 0x100;
    CDebugDialog d(nullptr, vars);
    QCOMPARE(d.windowTitle(), QStringLiteral("Debug Dialog"));
    QCOMPARE(d.Tabs()->count(), 3);
    QCOMPARE(d.Tabs()->tabText(2), QStringLiteral("Var 20- 29"));
    QCOMPARE(d.Timer()->interval(), 100);
    QCOMPARE(d.Label(1)->text(), QStringLiteral("1: 1 THREAD_CMD       "));
    QCOMPARE(d.Value(1)->text(), QStringLiteral("0x00000100 "));
    QVERIFY(d.Value(0)->text().isEmpty()); // 0xFFFFFFFF is never painted

    vars[1] = 0x800;
    d.Tick();
    QCOMPARE(d.Value(1)->text(), QStringLiteral("0x00000800 "));
    vars[1] = kDebugUnset;
    d.Tick();
    QCOMPARE(d.Value(1)->text(), QStringLiteral("0x00000800 ")); // keeps what it showed

    vars[29] = 0xABCDEF12u;
    d.Tabs()->setCurrentIndex(2);
    QCOMPARE(d.FirstVar(), 20);
    QCOMPARE(d.Label(0)->text(), QStringLiteral("20: x15                "));
    QCOMPARE(d.Label(9)->text(), QStringLiteral("29: x1E                "));
    QCOMPARE(d.Value(9)->text(), QStringLiteral("0xABCDEF12 "));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GuiTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "MainFrameTest.moc"
