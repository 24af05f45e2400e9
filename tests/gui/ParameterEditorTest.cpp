// Widget tests of the parameter editor on the offscreen platform: the dialog alone over a shared
// state of its own (nobody clears the request word, so every request stays visible), opened from
// the real window with the engine serving the built-in valve, and against the real qln-valve on a
// pseudo-terminal.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "Cli.h"
#include "WidgetTestSupport.h"
#include "app/MainFrm.h"
#include "dialogs/ColorButton.h"
#include "dialogs/MessageBox.h"
#include "dialogs/ParametersDialog.h"
#include "engine/QlnState.h"
#include "history/History.h"
#include "support/ValveProcess.h"
#include "system/Clock.h"
#include "text/LanguageLibrary.h"

using widget_test::PutText;
using widget_test::RecordingBoxes;
using widget_test::Toggle;
using widget_test::Until;

namespace {
const QColor GREY(210, 210, 210);
const QColor RED(255, 0, 0);

// The name a screen reader announces. On this platform a drop-down list is announced by its
// current text and tied to its label by a relation; its own name is the label's text.
QString Accessible(QWidget* w) {
    if (qobject_cast<QComboBox*>(w)) return w->accessibleName();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
}

// What the user does: types into a box and leaves it.
void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(edit, &out);
}

// The dialog alone: its own shared state, no engine, no window.
struct Alone {
    Alone() : state(clock) {
        state.params.EditBlock = DefaultParameterBlock();
        std::fill(std::begin(state.params.VisibilityFlags), std::end(state.params.VisibilityFlags), 1);
    }
    std::unique_ptr<CParametersDialog> Open() {
        auto d = std::make_unique<CParametersDialog>(
            nullptr, state, *state.texts,
            [this](const std::string& text, const std::string&) { messages.push_back(text); });
        d->ButtonTimer()->stop();
        d->CursorTimer()->stop();
        d->show();
        return d;
    }
    // The valve's block as a complete read leaves it.
    void ValveRead(const ParameterBlock& b) {
        state.params.ValveBlock = b;
        PublishValid(state.params.ValveBlock.BLOCK_VALID, 1);
    }
    ManualClock clock;
    QlnState state;
    std::vector<std::string> messages;
};

CParameterPage* PageOf(const CParametersDialog& d, Page p) {
    return d.Sheet()->PageOf(p);
}

// The window with the engine on the test's clock, in a folder of its own, with the trace log.
struct TestProgram : widget_test::TestProgram<> {
    explicit TestProgram(bool testMode, IClock& c, const std::string& device = "",
                         const std::string& history = "off", const std::string& comIni = "")
        : widget_test::TestProgram<>({true, false, testMode}, &c, device, history, comIni) {}
};

// Runs `body` inside the modal loop of the Parameters dialog opened from the menu, then closes it
// as the user does.
bool WithEditor(CMainFrame& f, const std::function<void(CParametersDialog&)>& body) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<CParametersDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        seen = true;
        body(*d);
        d->CloseButton()->click();
    });
    f.CommandAction(ID_PARAMETERS)->trigger();
    return seen;
}

// Failures inside a modal loop are collected and reported after it.
struct Checks {
    void operator()(bool ok, const char* what) {
        if (!ok) failed.push_back(QString::fromLatin1(what));
    }
    std::vector<QString> failed;
};

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The part of the trace after the last line holding `marker`.
std::string After(const std::string& trace, const std::string& marker) {
    const size_t at = trace.rfind(marker);
    return at == std::string::npos ? std::string() : trace.substr(at);
}

std::filesystem::path SourceRoot() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
}
} // namespace

class ParameterEditorTest : public QObject {
    Q_OBJECT
private slots:
    void openingBeforeAnyRead();
    void everyControlHasItsLabelsName();
    void keyboardTabEnterEscape();
    void typedAndSpunValues();
    void assistiveToolsActLikeMouseAndKeyboard();
    void dependenciesTakeEffectAtOnce();
    void valveValuesAndRedMarks();
    void buttonsAndRequests();
    void refusedWriteNamesAndMarksTheFields();
    void closeWhileTheEngineSendsStoresNothing();
    void readCopyChangeWriteWithTheBuiltInValve();
    void theValveGetsWhatTheBoxesShow();
    void pagesOpenAndCloseWithoutChangingTheProject();
    void againstTheVirtualValve();
    void aDamagedHistoryStopsAJobOnlyWhereRecordingIsRequired();
    void aWriteThatFailedIsNeverCarriedOutByALaterRead();
    void screenshots();
};

void ParameterEditorTest::openingBeforeAnyRead() {
    Alone a;
    auto d = a.Open();
    QCOMPARE(d->windowTitle(), QStringLiteral("Parameters"));
    const QStringList tabs{"Control",       "Setpoint",       "Analog IN/OUT", "Autosafe",
                           "Digital Input", "Display / Keys", "Digital Out",   "ERROR"};
    QCOMPARE(d->Sheet()->count(), 8);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(d->Sheet()->tabText(i), tabs[i]);
    QCOMPARE(d->ButtonTimer()->interval(), 5000);
    QCOMPARE(d->CursorTimer()->interval(), 100);

    // Nothing read yet: every box of the valve's values shows " -- ", every button is grey.
    int boxes = 0;
    for (QLineEdit* box : d->findChildren<QLineEdit*>()) {
        if (!box->property("valveValue").toBool()) continue;
        QVERIFY(!box->isEnabled());
        QCOMPARE(box->text(), QStringLiteral(" -- "));
        ++boxes;
    }
    QVERIFY(boxes > 50);
    for (CColorButton* b : d->findChildren<CColorButton*>())
        QCOMPARE(b->Colour(), GREY);
    // The defaults are shown for editing.
    CParameterPage* control = PageOf(*d, Page::Control);
    QCOMPARE(control->Edit("PROPORTIONAL_GAIN")->text(), QStringLiteral("1.00"));
    QCOMPARE(PageOf(*d, Page::Setpoint)->Edit("SETPOINT_OFFSET")->text(), QStringLiteral("-50"));
    QVERIFY(control->Button("CONTROLLER_STRUCTURE", 0)->isChecked());
    QVERIFY(d->CustomButton()->isChecked() && !d->FactoryButton()->isChecked());
    QCOMPARE(PageOf(*d, Page::Autosafe)->List("COIL_ON_TIME")->currentText(), QStringLiteral("0.5"));

    // Copy needs a complete read; Write needs an opened project or a copy.
    QVERIFY(d->ReadButton()->isEnabled());
    QVERIFY(!d->CopyButton()->isEnabled());
    QVERIFY(!d->WriteButton()->isEnabled());
    a.state.params.WriteEnabled = 1;
    d->OnButtonTimer();
    QVERIFY(d->WriteButton()->isEnabled());
    QVERIFY(d->CloseButton()->isEnabled());
}

void ParameterEditorTest::everyControlHasItsLabelsName() {
    Alone a;
    auto d = a.Open();
    CParameterPage* control = PageOf(*d, Page::Control);
    QCOMPARE(Accessible(control->Edit("FORWARD_OFFSET")), QStringLiteral("Forward Offset / %"));
    QCOMPARE(Accessible(control->Spin("FORWARD_OFFSET")), QStringLiteral("Forward Offset / %"));
    QCOMPARE(Accessible(PageOf(*d, Page::Autosafe)->List("DELAY_TIME")), QStringLiteral("Delay Time / sec"));
    QCOMPARE(Accessible(PageOf(*d, Page::PressureSwitch)->Edit("LIMIT_SIZE")),
             QStringLiteral("Alert Value / %"));
    for (QWidget* w : d->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<CSpinButton*>(w);
        if (!control || qobject_cast<QLineEdit*>(w->parentWidget()) ||
            w->parentWidget()->inherits("QAbstractSpinBox"))
            continue;
        if (qobject_cast<QTabBar*>(w->parentWidget())) continue;
        QVERIFY2(!Accessible(w).trimmed().isEmpty(), qPrintable("no accessible name: " + w->objectName()));
    }
}

void ParameterEditorTest::keyboardTabEnterEscape() {
    Alone a;
    {
        auto d = a.Open();
        d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d.get()));
        CParameterPage* control = PageOf(*d, Page::Control);
        QLineEdit* offset = control->Edit("FORWARD_OFFSET");
        QCOMPARE(QApplication::focusWidget(), offset);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control->Spin("FORWARD_OFFSET"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QCOMPARE(offset->text(), QStringLiteral("1"));
        QCOMPARE(QApplication::focusWidget(), offset);
        QTest::keyClick(offset, Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control->Edit("FORWARD_GAIN"));
        // Enter closes (Close is the default button) and keeps the edit.
        QVERIFY(d->CloseButton()->isDefault());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!d->isVisible());
        QCOMPARE(a.state.params.EditBlock.FORWARD_OFFSET, 1);
        QVERIFY(d->Changed());
    }
    auto d = a.Open();
    d->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(d.get()));
    Type(PageOf(*d, Page::Control)->Edit("CONTROL_CYCLE_TIME"), QStringLiteral("7"));
    QTest::keyClick(d.get(), Qt::Key_Escape);
    QVERIFY(!d->isVisible());
    QCOMPARE(a.state.params.EditBlock.CONTROL_CYCLE_TIME, 7);
}

// The validators and the spin arithmetic are tested as plain rules; here, that the boxes use them.
void ParameterEditorTest::typedAndSpunValues() {
    Alone a;
    auto d = a.Open();
    CParameterPage* control = PageOf(*d, Page::Control);
    CParameterPage* setpoint = PageOf(*d, Page::Setpoint);
    ParameterBlock& local = const_cast<ParameterEditor&>(d->Editor()).Local();
    control->Button("CONTROLLER_STRUCTURE", 1)->click(); // PI: the integration time can be typed

    const struct {
        CParameterPage* page;
        const char* field;
        const char* typed;
        const char* shown;
    } cases[] = {
        {control, "FORWARD_OFFSET", "12a5", "12"},     {control, "PWM_FREQUENCY", "2005", "2000"},
        {control, "INTEGRATION_TIME", "0.14", "0.10"}, {control, "PROPORTIONAL_GAIN", "1.278", "1.28"},
        {setpoint, "SETPOINT_OFFSET", "-50", "-50"},   {setpoint, "SHUT_OFF_LEVEL", "1.27", "1.3"},
        {control, "PWM_FREQUENCY", "25", "30"},
    };
    for (const auto& c : cases) {
        Type(c.page->Edit(c.field), QString::fromLatin1(c.typed));
        QVERIFY2(c.page->Edit(c.field)->text() == QString::fromLatin1(c.shown),
                 qPrintable(QString::fromLatin1(c.field) + " " + c.typed + " -> " +
                            c.page->Edit(c.field)->text()));
    }
    // What the box shows is what is kept: 1.27 became 1.3, and the spin stands on 13.
    QCOMPARE(local.SHUT_OFF_LEVEL, 1.3f);
    QCOMPARE(setpoint->Spin("SHUT_OFF_LEVEL")->Position(), 13);
    QCOMPARE(local.INTEGRATION_TIME, 0.10f);
    QCOMPARE(local.PWM_FREQUENCY, 30);

    CParameterPage* autosafe = PageOf(*d, Page::Autosafe);
    Type(autosafe->Edit("CURRENT_LIMIT_LEVEL"), QStringLiteral("155"));
    QCOMPARE(autosafe->Edit("CURRENT_LIMIT_LEVEL")->text(), QStringLiteral("160"));
    QCOMPARE(autosafe->Spin("CURRENT_LIMIT_LEVEL")->Position(), 16);
    Type(autosafe->Edit("CURRENT_LIMIT_LEVEL"), QStringLiteral("150"));
    QCOMPARE(autosafe->Spin("CURRENT_LIMIT_LEVEL")->Position(), 15);
    autosafe->Spin("CURRENT_LIMIT_LEVEL")->stepBy(1);
    QCOMPARE(autosafe->Edit("CURRENT_LIMIT_LEVEL")->text(), QStringLiteral("160"));
    QCOMPARE(local.CURRENT_LIMIT_LEVEL, 160);
    Type(control->Edit("FORWARD_GAIN"), QStringLiteral("2.5"));
    control->Spin("FORWARD_GAIN")->stepBy(1);
    QCOMPARE(control->Edit("FORWARD_GAIN")->text(), QStringLiteral("2.50"));

    // In cascaded control the gain spins up to 1.00 only.
    control->Button("CONTROLLER_STRUCTURE", STRUCTURE_CASCADED)->click();
    Type(control->Edit("FORWARD_GAIN"), QStringLiteral("0.99"));
    control->Spin("FORWARD_GAIN")->stepBy(5);
    QCOMPARE(control->Edit("FORWARD_GAIN")->text(), QStringLiteral("1.00"));
    QCOMPARE(local.FORWARD_GAIN, 1.0f);
}

// A screen reader or automation acts through the accessibility interface: a toggled button has the
// effect of a click, text put into a field is validated as typed text is, on leaving the field or
// at the latest before Write.
void ParameterEditorTest::assistiveToolsActLikeMouseAndKeyboard() {
    Alone a;
    a.state.params.WriteEnabled = 1;
    auto d = a.Open();
    CParameterPage* control = PageOf(*d, Page::Control);
    Toggle(control->Button("CONTROLLER_STRUCTURE", 1));
    QCOMPARE(d->Editor().Local().CONTROLLER_STRUCTURE, 1);
    QVERIFY(control->Edit("INTEGRATION_TIME")->isEnabled());
    PutText(control->Edit("FORWARD_OFFSET"), QStringLiteral("12a5"));
    QCOMPARE(control->Edit("FORWARD_OFFSET")->text(), QStringLiteral("12"));
    QCOMPARE(d->Editor().Local().FORWARD_OFFSET, 12);
    // Never focused: Write takes it all the same, as the box then shows it.
    PutText(control->Edit("PROPORTIONAL_GAIN"), QStringLiteral("1.278"), false);
    d->WriteButton()->click();
    QCOMPARE(control->Edit("PROPORTIONAL_GAIN")->text(), QStringLiteral("1.28"));
    QCOMPARE(a.state.params.EditBlock.PROPORTIONAL_GAIN, 1.28f);
    a.state.THREAD_CMD = 0;
    d->OnButtonTimer();
    Toggle(d->FactoryButton());
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_FACTORY_SET | CMD_READ_PARAMETER});
    QVERIFY(d->FactoryButton()->isChecked());
}

void ParameterEditorTest::dependenciesTakeEffectAtOnce() {
    Alone a;
    auto d = a.Open();
    CParameterPage* control = PageOf(*d, Page::Control);
    auto enabled = [&](const char* field) { return control->Edit(field)->isEnabled(); };
    const char* integral[] = {"INTEGRATION_TIME", "INTEGRATION_LIMIT", "DEAD_BAND"};
    // Default structure P: neither integral nor derivative part.
    for (const char* f : integral)
        QVERIFY(!enabled(f));
    QVERIFY(!enabled("DERIVATION_TIME"));
    control->Button("CONTROLLER_STRUCTURE", 1)->click(); // PI
    for (const char* f : integral)
        QVERIFY(enabled(f));
    QVERIFY(!enabled("DERIVATION_TIME"));
    control->Button("CONTROLLER_STRUCTURE", 2)->click(); // PD
    for (const char* f : integral)
        QVERIFY(!enabled(f));
    QVERIFY(enabled("DERIVATION_TIME"));
    control->Button("CONTROLLER_STRUCTURE", 3)->click(); // PID
    for (const char* f : integral)
        QVERIFY(enabled(f));
    QVERIFY(enabled("DERIVATION_TIME"));

    // Cascaded control relabels the first two fields and locks the feedback choice.
    CParameterPage* analog = PageOf(*d, Page::AnalogInOut);
    QVERIFY(analog->Button("FEEDBACK_SELECT", 1)->isEnabled());
    QCOMPARE(analog->Button("FEEDBACK_SELECT", 0)->text(), QStringLiteral("internal Sensor"));
    control->Button("CONTROLLER_STRUCTURE", STRUCTURE_CASCADED)->click();
    QCOMPARE(control->findChild<QLabel*>(QStringLiteral("1359"))->text(), QStringLiteral("Slave Offset / %"));
    QCOMPARE(control->findChild<QLabel*>(QStringLiteral("1362"))->text(), QStringLiteral("Slave Gain"));
    QCOMPARE(Accessible(control->Edit("FORWARD_GAIN")), QStringLiteral("Slave Gain"));
    QVERIFY(!analog->Button("FEEDBACK_SELECT", 1)->isEnabled());
    control->Button("CONTROLLER_STRUCTURE", STRUCTURE_FLOW)->click();
    QCOMPARE(control->findChild<QLabel*>(QStringLiteral("1359"))->text(),
             QStringLiteral("Forward Offset / %"));
    QCOMPARE(control->findChild<QLabel*>(QStringLiteral("1362"))->text(), QStringLiteral("Forward Gain"));
    QVERIFY(analog->Button("FEEDBACK_SELECT", 1)->isEnabled());
    QCOMPARE(analog->Button("FEEDBACK_SELECT", 0)->text(), QStringLiteral("Flow"));

    // Setpoint: offset and span only for a custom adjustment, ramp times for any ramp; both
    // stay visible with their values.
    CParameterPage* setpoint = PageOf(*d, Page::Setpoint);
    QVERIFY(!setpoint->Edit("SETPOINT_SPAN")->isEnabled());
    QCOMPARE(setpoint->Edit("SETPOINT_SPAN")->text(), QStringLiteral("50"));
    setpoint->Button("SETPOINT_ADJUSTMENT", 1)->click();
    QVERIFY(setpoint->Edit("SETPOINT_SPAN")->isEnabled() && setpoint->Edit("SETPOINT_OFFSET")->isEnabled());
    QVERIFY(!setpoint->Edit("RAMP_FALL_TIME")->isEnabled());
    setpoint->Button("RAMP_FUNCTION", 1)->click(); // rising only: both times all the same
    QVERIFY(setpoint->Edit("RAMP_FALL_TIME")->isEnabled() && setpoint->Edit("RAMP_RISE_TIME")->isEnabled());

    // Autosafe: the inlet pressure limit needs the (hidden) inlet sensor option.
    CParameterPage* autosafe = PageOf(*d, Page::Autosafe);
    QVERIFY(!autosafe->Edit("INPUT_PRESSURE_LIMIT")->isEnabled());
    autosafe->Button("OPTION_INPUT_PRESSURE_SENSOR", 2)->click();
    QVERIFY(autosafe->Edit("INPUT_PRESSURE_LIMIT")->isEnabled());
    QVERIFY(autosafe->Edit("INPUT_PRESSURE_LIMIT")->isHidden());

    // Digital input: the second button from the top is Auto-Tune and stores 7.
    CParameterPage* input = PageOf(*d, Page::DigitalInput);
    const QList<CColorButton*> order =
        input->findChild<QGroupBox*>(QStringLiteral("1559"))->findChildren<CColorButton*>();
    QCOMPARE(order.at(1)->text(), QStringLiteral("Auto-Tune"));
    order.at(1)->click();
    QCOMPARE(d->Editor().Local().SELECT_FUNCTION, 7);

    // The pages without dependencies follow the settings file's flags; a flag of 0 greys the
    // group but keeps it showing its value.
    a.state.params.VisibilityFlags[IniIndex(*FindParameter("LED_RED"))] = 0;
    a.state.params.VisibilityFlags[IniIndex(*FindParameter("OUTPUT_DELAY"))] = 0;
    a.state.params.VisibilityFlags[IniIndex(*FindParameter("ERROR_SELECT"))] = 0;
    d->OnButtonTimer();
    QVERIFY(!PageOf(*d, Page::DisplayKeys)->Button("LED_RED", 0)->isEnabled());
    QVERIFY(PageOf(*d, Page::DisplayKeys)->Button("LED_RED", 0)->isChecked());
    QVERIFY(PageOf(*d, Page::DisplayKeys)->Button("LED_GREEN", 0)->isEnabled());
    QVERIFY(!PageOf(*d, Page::PressureSwitch)->Edit("OUTPUT_DELAY")->isEnabled());
    QVERIFY(!PageOf(*d, Page::Error)->Button("ERROR_SELECT", 3)->isEnabled());
    QVERIFY(PageOf(*d, Page::Error)->Button("SETPOINT_RANGE_DETECTION", 3)->isEnabled());
    QCOMPARE(PageOf(*d, Page::Error)->Button("SETPOINT_RANGE_DETECTION", 0)->text(),
             QStringLiteral("Disabled"));
}

void ParameterEditorTest::valveValuesAndRedMarks() {
    Alone a;
    ParameterBlock valve = DefaultParameterBlock();
    valve.I_SEARCH = 0;
    valve.PROPORTIONAL_GAIN = 1.0f;
    valve.OUTPUT_MODE = 231;
    valve.SETPOINT_RANGE_DETECTION = 0;
    valve.CONTROLLER_STRUCTURE = STRUCTURE_FLOW;
    valve.FEEDBACK_SELECT = 0;
    valve.COIL_ON_TIME = 2;
    valve.AUTO_ZERO_VALUE = -12;
    a.ValveRead(valve);
    a.state.params.EditBlock.I_SEARCH = 1;
    a.state.params.EditBlock.PROPORTIONAL_GAIN = 1.5f;
    auto d = a.Open();
    CParameterPage* control = PageOf(*d, Page::Control);
    QCOMPARE(control->ValueBox("I_SEARCH")->text(), QStringLiteral("On"));
    QCOMPARE(control->Button("I_SEARCH", 0)->Colour(), RED);
    QCOMPARE(control->Button("I_SEARCH", 1)->Colour(), GREY);
    QVERIFY(control->Button("I_SEARCH", 1)->isChecked());
    QCOMPARE(control->ValueBox("PROPORTIONAL_GAIN")->text(), QStringLiteral("1.00"));
    QVERIFY(control->ValueBox("PROPORTIONAL_GAIN")->property("differs").toBool());
    QVERIFY(!control->ValueBox("FORWARD_OFFSET")->property("differs").toBool());
    QCOMPARE(control->ValueBox("CONTROLLER_STRUCTURE")->text(), QStringLiteral("Flow control"));

    // A raw value outside the list is shown as the number, never as a neighbour's text.
    QCOMPARE(PageOf(*d, Page::PressureSwitch)->ValueBox("OUTPUT_MODE")->text(), QStringLiteral("231 (?)"));
    QCOMPARE(PageOf(*d, Page::Error)->ValueBox("SETPOINT_RANGE_DETECTION")->text(), QStringLiteral("Off"));
    QCOMPARE(PageOf(*d, Page::Autosafe)->ValueBox("COIL_ON_TIME")->text(), QStringLiteral("2.0"));
    QCOMPARE(PageOf(*d, Page::AnalogInOut)->ValueBox("FEEDBACK_SELECT")->text(), QStringLiteral("Flow"));
    QCOMPARE(PageOf(*d, Page::AnalogInOut)->ValueBox("AUTO_ZERO_VALUE")->text(), QStringLiteral("-12"));

    // Clicking the valve's value takes the red away at once.
    control->Button("I_SEARCH", 0)->click();
    QCOMPARE(control->Button("I_SEARCH", 0)->Colour(), GREY);
    Type(control->Edit("PROPORTIONAL_GAIN"), QStringLiteral("1"));
    QVERIFY(!control->ValueBox("PROPORTIONAL_GAIN")->property("differs").toBool());

    // An index outside the list selects nothing, and storing keeps it.
    ParameterBlock& local = const_cast<ParameterEditor&>(d->Editor()).Local();
    local.DELAY_TIME = 9;
    d->Sheet()->RefreshAll();
    QCOMPARE(PageOf(*d, Page::Autosafe)->List("DELAY_TIME")->currentIndex(), -1);
    d->Sheet()->StoreAll();
    QCOMPARE(local.DELAY_TIME, 9);

    // A read that failed part-way: the valve's values are gone, and so is the red.
    local.I_SEARCH = 1;
    PublishValid(a.state.params.ValveBlock.BLOCK_VALID, 0);
    d->OnMsgReceive(NOTIFY_REPLY_TIMEOUT, 0);
    QCOMPARE(control->ValueBox("I_SEARCH")->text(), QStringLiteral(" -- "));
    QCOMPARE(control->Button("I_SEARCH", 0)->Colour(), GREY);
    QVERIFY(!d->CopyButton()->isEnabled());
}

void ParameterEditorTest::buttonsAndRequests() {
    Alone a;
    auto d = a.Open();
    // Read: the edits go to the project's set, and the project learns of it.
    Type(PageOf(*d, Page::Control)->Edit("FORWARD_OFFSET"), QStringLiteral("33"));
    d->ReadButton()->click();
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_READ_PARAMETER});
    QCOMPARE(a.state.params.EditBlock.FORWARD_OFFSET, 33);
    QVERIFY(d->Changed());
    // Busy: only Close, and every page control is locked; the wait cursor shows.
    QVERIFY(!d->ReadButton()->isEnabled() && !d->WriteButton()->isEnabled() && !d->CopyButton()->isEnabled());
    QVERIFY(!d->FactoryButton()->isEnabled() && !d->CustomButton()->isEnabled());
    QVERIFY(!PageOf(*d, Page::Control)->Edit("FORWARD_OFFSET")->isEnabled());
    QVERIFY(d->CloseButton()->isEnabled());
    d->OnCursorTimer();
    QVERIFY(d->WaitCursorShown());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    // The read comes back.
    ParameterBlock valve = DefaultParameterBlock();
    valve.FORWARD_OFFSET = 10;
    a.ValveRead(valve);
    a.state.THREAD_CMD = 0;
    d->OnMsgReceive(NOTIFY_PARAMETERS_READ, 0);
    d->OnCursorTimer();
    QVERIFY(!d->WaitCursorShown());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(PageOf(*d, Page::Control)->Edit("FORWARD_OFFSET")->text(), QStringLiteral("33"));
    QCOMPARE(PageOf(*d, Page::Control)->ValueBox("FORWARD_OFFSET")->text(), QStringLiteral("10"));
    QVERIFY(!d->WriteButton()->isEnabled()); // a read makes Write wait for Copy
    QVERIFY(d->CopyButton()->isEnabled());

    // Copy: the valve's values become the edited ones; nothing is red; Write is allowed.
    d->CopyButton()->click();
    QCOMPARE(PageOf(*d, Page::Control)->Edit("FORWARD_OFFSET")->text(), QStringLiteral("10"));
    for (CColorButton* b : d->findChildren<CColorButton*>())
        QCOMPARE(b->Colour(), GREY);
    QVERIFY(d->WriteButton()->isEnabled());
    QCOMPARE(a.state.params.EditBlock.BLOCK_VALID, 1);

    // Write, then the read-back follows the notification.
    Type(PageOf(*d, Page::Control)->Edit("FORWARD_OFFSET"), QStringLiteral("20"));
    d->WriteButton()->click();
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_WRITE_PARAMETER});
    QCOMPARE(a.state.params.EditBlock.FORWARD_OFFSET, 20);
    a.state.THREAD_CMD = 0;
    d->OnMsgReceive(NOTIFY_PARAMETERS_WRITTEN, 0);
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_READ_PARAMETER});
    a.state.THREAD_CMD = 0;
    d->OnMsgReceive(NOTIFY_PARAMETERS_READ, 0);

    // Factory: the set switch with a read, the pages locked, Write off, Copy on.
    d->FactoryButton()->click();
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_FACTORY_SET | CMD_READ_PARAMETER});
    QCOMPARE(a.state.params.EditBlock.PARAMETER_SET, 1);
    QVERIFY(d->FactoryButton()->isChecked());
    a.state.THREAD_CMD = 0;
    d->OnMsgReceive(NOTIFY_SET_SWITCHED, 0);
    QVERIFY(!d->WriteButton()->isEnabled() && d->CopyButton()->isEnabled());
    QVERIFY(!PageOf(*d, Page::Error)->Button("ERROR_SELECT", 1)->isEnabled());
    QVERIFY(!PageOf(*d, Page::Control)->Edit("PROPORTIONAL_GAIN")->isEnabled());
    d->CustomButton()->click();
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_CUSTOM_SET | CMD_READ_PARAMETER});

    // Whatever arrives while busy changes nothing of the request word.
    d->FactoryButton()->click();
    d->ReadButton()->click();
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_CUSTOM_SET | CMD_READ_PARAMETER});
}

void ParameterEditorTest::refusedWriteNamesAndMarksTheFields() {
    Alone a;
    // A damaged project: a current limit of 0 mA and an output mode of 231.
    a.state.params.EditBlock.CURRENT_LIMIT_LEVEL = 0;
    a.state.params.EditBlock.OUTPUT_MODE = 231;
    a.state.params.EditBlock.KEY_LOCK = 5; // kept out of sight on its page
    a.state.params.WriteEnabled = 1;
    auto d = a.Open();
    CParameterPage* keys = PageOf(*d, Page::DisplayKeys);
    QGroupBox* keyLock = keys->findChild<QGroupBox*>(QStringLiteral("1494"));
    QVERIFY(keyLock->isVisibleTo(keys));
    // It can be looked at: the fields are marked before anything is tried.
    CParameterPage* autosafe = PageOf(*d, Page::Autosafe);
    CParameterPage* out = PageOf(*d, Page::PressureSwitch);
    QCOMPARE(autosafe->Edit("CURRENT_LIMIT_LEVEL")->text(), QStringLiteral("0"));
    QVERIFY(autosafe->Marked("CURRENT_LIMIT_LEVEL") && out->Marked("OUTPUT_MODE"));
    QVERIFY(!PageOf(*d, Page::Control)->Marked("FORWARD_OFFSET"));
    QCOMPARE(d->Sheet()->tabBar()->tabTextColor(3), RED);

    // It cannot be written as it is.
    d->WriteButton()->click();
    QCOMPARE(a.state.THREAD_CMD.load(), 0u);
    QCOMPARE(a.messages.size(), size_t{1});
    const std::string& m = a.messages[0];
    QVERIFY(m.find("Autosafe: CURRENT_LIMIT_LEVEL is 0, allowed 100 to 2000 mA") != std::string::npos);
    QVERIFY(m.find("Digital Out: OUTPUT_MODE is 231, allowed 0 to 1") != std::string::npos);
    QVERIFY(m.find("Display / Keys: KEY_LOCK is 5, allowed 0 to 1") != std::string::npos);
    QCOMPARE(d->Sheet()->currentIndex(), 3);

    // Corrected on its pages, it is written.
    Type(autosafe->Edit("CURRENT_LIMIT_LEVEL"), QStringLiteral("500"));
    QVERIFY(!autosafe->Marked("CURRENT_LIMIT_LEVEL"));
    out->Button("OUTPUT_MODE", 1)->click();
    QVERIFY(!out->Marked("OUTPUT_MODE"));
    keys->Button("KEY_LOCK", 0)->click();
    QVERIFY(!keyLock->isVisibleTo(keys));
    QVERIFY(!d->Sheet()->tabBar()->tabTextColor(3).isValid() || d->Sheet()->tabBar()->tabTextColor(3) != RED);
    d->WriteButton()->click();
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_WRITE_PARAMETER});
    QCOMPARE(a.state.params.EditBlock.CURRENT_LIMIT_LEVEL, 500);
    QCOMPARE(a.state.params.EditBlock.OUTPUT_MODE, 1);
}

void ParameterEditorTest::closeWhileTheEngineSendsStoresNothing() {
    Alone a;
    a.state.params.WriteEnabled = 1;
    auto d = a.Open();
    Type(PageOf(*d, Page::Control)->Edit("FORWARD_OFFSET"), QStringLiteral("40"));
    d->WriteButton()->click();
    QCOMPARE(a.state.THREAD_CMD.load(), uint32_t{CMD_WRITE_PARAMETER});
    const ParameterBlock sent = a.state.params.EditBlock;
    // Something in the dialog's copy changes after the write was asked for (a box the engine's
    // state did not lock in time); the set the engine is sending must not change under it.
    const_cast<ParameterEditor&>(d->Editor()).Local().FORWARD_OFFSET = 41;
    d->CloseButton()->click();
    QVERIFY(!d->isVisible());
    QCOMPARE(std::memcmp(&sent, &a.state.params.EditBlock, sizeof sent), 0);
    QVERIFY(d->Changed()); // from the write
}

void ParameterEditorTest::readCopyChangeWriteWithTheBuiltInValve() {
    ScaledClock clock(20);
    TestProgram p(true, clock);
    CMainFrame& f = *p.frame;
    QVERIFY(f.CommandAction(ID_PARAMETERS)->isEnabled());
    Checks check;
    std::string refusal;
    const bool seen = WithEditor(f, [&](CParametersDialog& d) {
        d.ButtonTimer()->stop();
        d.CursorTimer()->stop();
        CParameterPage* control = PageOf(d, Page::Control);
        check(!d.CopyButton()->isEnabled(), "Copy before any read");
        d.ReadButton()->click();
        check(Until([&] { return control->ValueBox("FORWARD_OFFSET")->text() != QStringLiteral(" -- "); }),
              "the read reaches the pages");
        // The built-in valve answers 0x40 to every read: a gain of 0.64, an offset of 64.
        check(control->ValueBox("PROPORTIONAL_GAIN")->text() == QStringLiteral("0.64"), "canned gain");
        check(control->ValueBox("FORWARD_OFFSET")->text() == QStringLiteral("64"), "canned offset");
        d.CopyButton()->click();
        bool grey = true;
        for (CColorButton* b : d.findChildren<CColorButton*>())
            grey = grey && b->Colour() == GREY;
        check(grey, "no red after Copy");
        check(d.WriteButton()->isEnabled(), "Write after Copy");

        // The canned set holds two bytes no valve may take back as they are.
        d.WriteButton()->click();
        check(p.state.THREAD_CMD.load() == 0, "refused write requests nothing");
        refusal = p.boxes.shown.empty() ? std::string() : p.boxes.shown.back();
        PageOf(d, Page::PressureSwitch)->Button("OUTPUT_MODE", 0)->click();
        PageOf(d, Page::AnalogInOut)->Button("ANALOG_IN_2_SIGNAL", 2)->click();

        Type(control->Edit("PROPORTIONAL_GAIN"), QStringLiteral("1.5"));
        check(control->ValueBox("PROPORTIONAL_GAIN")->property("differs").toBool(), "the change is red");
        // The engine starts at once and may be done before the next line runs: what the dialog
        // shows while it is busy is checked where the engine is held (closeWhileTheEngineSends...).
        d.WriteButton()->click();
        // Written, then read back: the valve's box follows.
        check(Until([&] {
                  return control->ValueBox("PROPORTIONAL_GAIN")->text() == QStringLiteral("0.64") &&
                         p.state.THREAD_CMD.load() == 0 &&
                         p.Trace().find("Read Parameter", p.Trace().find(" Write Parameter ")) !=
                             std::string::npos;
              }),
              "write and read-back end");
        d.OnCursorTimer();
        check(!d.WaitCursorShown(), "wait cursor gone");
    });
    QVERIFY(seen);
    for (const QString& what : check.failed)
        QFAIL(qPrintable(what));
    QVERIFY(refusal.find("OUTPUT_MODE is 64, allowed 0 to 1") != std::string::npos);
    QVERIFY(refusal.find("ANALOG_IN_2_SIGNAL is 64, allowed 0 to 2") != std::string::npos);
    QVERIFY(f.ProjectModified());
    QVERIFY(f.windowTitle().endsWith(QStringLiteral(" *]")));

    // The whole set went out: 34 telegrams, the new gain among them (KPS 1.50: 01 96, BCC 97),
    // then the automatic read.
    const std::string trace = p.Trace();
    const std::string written = trace.substr(trace.find(" Write Parameter "));
    const std::string readBack = After(written, "Read Parameter");
    const std::string sends = written.substr(0, written.size() - readBack.size());
    QCOMPARE(Count(sends, "Snd  "), size_t{34});
    QVERIFY(sends.find("'02019697'") != std::string::npos);
    QVERIFY(Count(readBack, "Snd  ") >= 36);
}

// What the boxes show goes out, in the valve's own telegrams: typed values and a project's value
// between two steps alike.
void ParameterEditorTest::theValveGetsWhatTheBoxesShow() {
    ScaledClock clock(20);
    TestProgram p(true, clock);
    p.state.params.EditBlock.SHUT_OFF_LEVEL = 1.27f; // as an opened project holds it
    p.state.params.EditBlock.RAMP_RISE_TIME = 2.25f;
    p.state.params.WriteEnabled = 1;
    Checks check;
    QVERIFY(WithEditor(*p.frame, [&](CParametersDialog& d) {
        CParameterPage* control = PageOf(d, Page::Control);
        CParameterPage* setpoint = PageOf(d, Page::Setpoint);
        control->Button("CONTROLLER_STRUCTURE", 3)->click(); // PID: the dead band can be typed
        const struct {
            CParameterPage* page;
            const char* field;
            const char* typed;
            const char* shown;
        } typed[] = {{control, "DEAD_BAND", "1.27", "1.3"},
                     {control, "PROPORTIONAL_GAIN", "1.278", "1.28"},
                     {control, "PWM_FREQUENCY", "25", "30"},
                     {PageOf(d, Page::Autosafe), "CURRENT_LIMIT_LEVEL", "155", "160"}};
        for (const auto& t : typed) {
            Type(t.page->Edit(t.field), QString::fromLatin1(t.typed));
            check(t.page->Edit(t.field)->text() == QString::fromLatin1(t.shown), t.field);
        }
        check(setpoint->Edit("SHUT_OFF_LEVEL")->text() == QStringLiteral("1.3"), "the project's 1.27");
        check(setpoint->Edit("RAMP_RISE_TIME")->text() == QStringLiteral("2.3"), "the project's 2.25");
        d.WriteButton()->click();
        check(Until([&] {
                  return p.Idle() && p.Trace().find("Read Parameter", p.Trace().find(" Write Parameter ")) !=
                                         std::string::npos;
              }),
              "written and read back");
    }));
    for (const QString& what : check.failed)
        QFAIL(qPrintable(what));
    const std::string trace = p.Trace();
    // DBS 13, KPS 128, PFS 3, ASS 16, SLS 13, TRS 23.
    for (const char* telegram :
         {"'02070D14'", "'02018081'", "'0238033B'", "'02481058'", "'02300D3D'", "'02091720'"})
        QVERIFY2(trace.find(telegram) != std::string::npos, telegram);
}

void ParameterEditorTest::pagesOpenAndCloseWithoutChangingTheProject() {
    ScaledClock clock(20);
    TestProgram p(true, clock);
    CMainFrame& f = *p.frame;
    Checks check;
    QVERIFY(WithEditor(f, [&](CParametersDialog& d) {
        d.ReadButton()->click();
        check(Until([&] { return p.state.THREAD_CMD.load() == 0 && d.CopyButton()->isEnabled(); }), "read");
        for (int i = 0; i < d.Sheet()->count(); ++i) {
            d.Sheet()->setCurrentIndex(i);
            QCoreApplication::processEvents();
        }
    }));
    for (const QString& what : check.failed)
        QFAIL(qPrintable(what));
    QVERIFY(!f.ProjectModified());
    QVERIFY(f.windowTitle().endsWith(QStringLiteral(" ]")));

    // An edit, then Read: the edit is kept in the project's set and the project is modified.
    QVERIFY(WithEditor(f, [&](CParametersDialog& d) {
        Type(PageOf(d, Page::Control)->Edit("CONTROL_CYCLE_TIME"), QStringLiteral("77"));
        d.ReadButton()->click();
        check(Until([&] { return p.state.THREAD_CMD.load() == 0; }), "second read");
    }));
    for (const QString& what : check.failed)
        QFAIL(qPrintable(what));
    QCOMPARE(p.state.params.EditBlock.CONTROL_CYCLE_TIME, 77);
    QVERIFY(f.ProjectModified());
}

void ParameterEditorTest::againstTheVirtualValve() {
    qln_test::ValveProcess valve({});
    QVERIFY2(!valve.SlavePath().empty(), "qln-valve did not start");
    // Program time runs at a fifth of the wall clock: a sanitizer build on a busy machine still
    // gets every reply within its time-out (the rate probe's 300 ms become 1.5 s).
    ScaledClock clock(0.2);
    std::string device = valve.SlavePath();
    QTemporaryDir historyDir;
    const std::string history = historyDir.filePath(QStringLiteral("h.db")).toStdString();
    {
        TestProgram p(false, clock, device, "sqlite:" + history);
        Checks check;
        bool redBefore = false, redAfter = true;
        QVERIFY(WithEditor(*p.frame, [&](CParametersDialog& d) {
            d.ButtonTimer()->stop();
            CParameterPage* control = PageOf(d, Page::Control);
            CParameterPage* setpoint = PageOf(d, Page::Setpoint);
            d.ReadButton()->click();
            check(Until([&] { return p.state.THREAD_CMD.load() == 0 && d.CopyButton()->isEnabled(); }),
                  "read from the valve");
            d.CopyButton()->click();
            Type(control->Edit("PROPORTIONAL_GAIN"), QStringLiteral("1.37"));
            const int32_t ramp = d.Editor().Local().RAMP_FUNCTION == 2 ? 1 : 2;
            const int32_t oldRamp = d.Editor().Local().RAMP_FUNCTION;
            setpoint->Button("RAMP_FUNCTION", ramp)->click();
            redBefore = control->ValueBox("PROPORTIONAL_GAIN")->property("differs").toBool() &&
                        setpoint->Button("RAMP_FUNCTION", oldRamp)->Colour() == RED;
            d.WriteButton()->click();
            check(Until([&] {
                      return p.state.THREAD_CMD.load() == 0 &&
                             control->ValueBox("PROPORTIONAL_GAIN")->text() == QStringLiteral("1.37");
                  }),
                  "written and read back");
            redAfter = control->ValueBox("PROPORTIONAL_GAIN")->property("differs").toBool() ||
                       setpoint->Button("RAMP_FUNCTION", oldRamp)->Colour() == RED ||
                       setpoint->Button("RAMP_FUNCTION", ramp)->Colour() == RED;
            check(setpoint->ValueBox("RAMP_FUNCTION")->text() ==
                      setpoint->Button("RAMP_FUNCTION", ramp)->text(),
                  "the valve reports the new ramp");
        }));
        for (const QString& what : check.failed)
            QFAIL(qPrintable(what));
        QVERIFY2(redBefore, "the two changes were not red before Write");
        QVERIFY2(!redAfter, "a change is still red after the read-back");
        // KPS 1.37: 01 89, BCC 8A.
        const std::string trace = p.Trace();
        QVERIFY(trace.find("'0201898A'") != std::string::npos);
        // The write's backup is read (after the valve's identity) before the first write telegram.
        const size_t write = trace.find(" Write Parameter ");
        const size_t backup = trace.rfind("Read Parameter", write);
        QVERIFY(backup != std::string::npos && trace.rfind(" Read Identity ", backup) != std::string::npos);
        // The read and the write are jobs, each with the valve's identity; the read-back is none.
        QCOMPARE(Count(trace, " Read Identity "), size_t{2});
    } // the window lets go of the port, and its history has stored every entry

    // The read, the backup before the write and the write; the read-back is no job of its own.
    HistoryOpenFailure failure;
    std::string error;
    auto store = HistoryStore::Open({HistoryTarget::Kind::Sqlite, history}, &failure, &error);
    QVERIFY2(store, error.c_str());
    std::vector<std::string> actions;
    for (const HistoryEntry& e : store->List(std::nullopt, &error)) {
        actions.push_back(e.action + " " + HistoryResultName(e.result));
        QVERIFY(!e.serial.empty() && e.part.rfind("471-52", 0) == 0 && e.port == "COM1" &&
                e.device == device);
    }
    QCOMPARE(actions, (std::vector<std::string>{"write-params ok", "backup ok", "read-params ok"}));
    const std::vector<HistoryEntry> listed = store->List(std::nullopt, &error);
    const auto gainOf = [&](size_t i) {
        ParameterBlock b;
        const std::vector<uint8_t> bytes = store->Get(listed[i].id, &error)->parameters;
        std::memcpy(&b, bytes.data(), std::min(bytes.size(), sizeof b));
        return b.PROPORTIONAL_GAIN;
    };
    QCOMPARE(gainOf(0), 1.37f);
    QVERIFY(gainOf(1) != 1.37f);

    // An independent reading of the valve, by qln-cli in a folder of its own: it keeps its settings
    // and history in the current folder, which is shared with the other tests.
    std::ostringstream out, err;
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "C");
    QTemporaryDir cliDir;
    const QString savedDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(cliDir.path()));
    const int code = RunCli({"--history", "off", "--device", device, "read-params"}, clock, out, err);
    QVERIFY(QDir::setCurrent(savedDir));
    std::setlocale(LC_NUMERIC, saved.c_str());
    QVERIFY2(code == 0, err.str().c_str());
    QVERIFY(std::regex_search(out.str(), std::regex("PROPORTIONAL_GAIN +1\\.37")));
    QVERIFY(std::regex_search(out.str(), std::regex("RAMP_FUNCTION +[12] ")));
}

// A history that cannot be used (here a damaged file) does not stop the job: its entry waits in
// the outbox. A station that requires recording refuses the job before anything is sent, and says
// why.
void ParameterEditorTest::aDamagedHistoryStopsAJobOnlyWhereRecordingIsRequired() {
    for (const bool required : {false, true}) {
        QTemporaryDir historyDir;
        const std::string history = historyDir.filePath(QStringLiteral("h.db")).toStdString();
        std::ofstream(history) << std::string(4096, 'x');
        ScaledClock clock(0.2);
        TestProgram p(false, clock, "/dev/null", "sqlite:" + history, required ? "REQUIRED=1\n" : "");
        if (required) QVERIFY(Until([&] { return p.state.HistoryRefused.load() == 1; }));
        Checks check;
        p.boxes.shown.clear(); // the caution at start-up
        QVERIFY(WithEditor(*p.frame, [&](CParametersDialog& d) {
            d.ReadButton()->click();
            check(Until([&] { return !p.boxes.shown.empty() && p.Idle(); }), "the job's end is said");
        }));
        for (const QString& what : check.failed)
            QFAIL(qPrintable(what));
        const std::string& box = p.boxes.shown.back();
        const std::string outbox = p.dir.filePath(QStringLiteral("QLN_history_outbox.db")).toStdString();
        if (required) {
            QVERIFY2(box.rfind("The valve history cannot take this job's entry: ", 0) == 0, box.c_str());
            QVERIFY(box.find("REQUIRED=1") != std::string::npos);
            QVERIFY(box.find("Nothing was sent to the valve.") != std::string::npos);
            QVERIFY(p.Trace().find("refused: the valve history cannot be used") != std::string::npos);
            QVERIFY(p.Trace().find("THREAD_CMD: ") == std::string::npos);
            QVERIFY(!std::filesystem::exists(outbox));
        } else {
            // /dev/null is no serial port: the read was tried and failed, and that is recorded.
            QVERIFY2(box.find("Baudrate Error") != std::string::npos, box.c_str());
            QVERIFY(p.Trace().find("THREAD_CMD: ") != std::string::npos);
            QVERIFY(Until([&] { return std::filesystem::exists(outbox); }));
        }
    }
}

// Write asks for the valve's set first (the backup). When that read fails because the valve is
// gone (code 7), nothing of the write may survive it: a later Read is only a read, with the
// history on or off.
void ParameterEditorTest::aWriteThatFailedIsNeverCarriedOutByALaterRead() {
    for (const bool history : {true, false}) {
        QTemporaryDir linkDir;
        const std::string link = linkDir.filePath(QStringLiteral("valve")).toStdString();
        auto valve = std::make_unique<qln_test::ValveProcess>(std::vector<std::string>{"--link", link});
        QVERIFY2(!valve->SlavePath().empty(), "qln-valve did not start");
        ScaledClock clock(0.2);
        TestProgram p(false, clock, link,
                      history ? "sqlite:" + linkDir.filePath(QStringLiteral("h.db")).toStdString() : "off");
        Checks check;
        std::string log;
        QVERIFY(WithEditor(*p.frame, [&](CParametersDialog& d) {
            d.ReadButton()->click();
            check(Until([&] { return p.Idle() && d.CopyButton()->isEnabled(); }), "read");
            d.CopyButton()->click();
            valve.reset(); // the valve is switched off
            // Once the window has seen the line go, the next request opens the port afresh and
            // finds no valve (code 7) instead of sending into the dead line.
            check(Until([&] { return p.state.link.PortLost.load() != 0; }), "the line went");
            p.boxes.shown.clear();
            d.WriteButton()->click();
            check(Until([&] { return p.Idle() && !p.boxes.shown.empty(); }), "the write failed");
            check(!p.boxes.shown.empty() && p.boxes.shown[0].find("Baudrate Error") != std::string::npos,
                  "with code 7");
            valve = std::make_unique<qln_test::ValveProcess>(
                std::vector<std::string>{"--link", link, "--log"}, true);
            check(!valve->SlavePath().empty(), "qln-valve started again");
            d.ReadButton()->click();
            check(Until([&] { return p.Idle() && d.CopyButton()->isEnabled(); }), "read again");
            log = valve->ReadLines(std::chrono::seconds(5), std::chrono::milliseconds(300));
        }));
        for (const QString& what : check.failed)
            QFAIL(qPrintable(what));
        // The read's telegrams reached the valve, and no write: a write telegram carries a value
        // (STX, command, value, check byte) to a command the valve names "...S".
        QVERIFY2(log.find("  KPR") != std::string::npos, log.c_str());
        QVERIFY2(!std::regex_search(log, std::regex(" rx 02 [0-9A-F]{2} [0-9A-F]{2} [0-9A-F]{2}  [A-Z]{2}S")),
                 log.c_str());
    }
}

void ParameterEditorTest::screenshots() {
    Alone a;
    ParameterBlock valve = DefaultParameterBlock();
    valve.CONTROLLER_STRUCTURE = 3;
    valve.I_SEARCH = 1;
    valve.PROPORTIONAL_GAIN = 0.8f;
    a.ValveRead(valve);
    a.state.params.EditBlock.CONTROLLER_STRUCTURE = 1;
    a.state.params.EditBlock.CURRENT_LIMIT_LEVEL = 0;
    auto d = a.Open();
    d->resize(d->sizeHint());
    const QString folder = QCoreApplication::applicationDirPath();
    for (int i = 0; i < d->Sheet()->count(); ++i) {
        d->Sheet()->setCurrentIndex(i);
        QCoreApplication::processEvents();
        QVERIFY(d->grab().save(folder + QStringLiteral("/parameters_%1.png").arg(i + 1)));
    }

    LanguageLibrary library;
    std::string error;
    QVERIFY2(library.Load((SourceRoot() / "lang" / "de" / "Lang_dll.DLL").string(), &error), error.c_str());
    const TextSource german(&library, [](const std::string&, const std::string&) {});
    CParametersDialog de(nullptr, a.state, german, {});
    de.show();
    QCOMPARE(de.windowTitle(), QStringLiteral("Parameter"));
    QCOMPARE(PageOf(de, Page::Control)->findChild<QLabel*>(QStringLiteral("1359"))->text(),
             QStringLiteral("Vorsteuer-Offset / %"));
    QCOMPARE(PageOf(de, Page::Setpoint)->Button("SHUT_OFF", 1)->text(), QStringLiteral("Ein"));
    QVERIFY(de.grab().save(folder + QStringLiteral("/parameters_control_de.png")));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ParameterEditorTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "ParameterEditorTest.moc"
