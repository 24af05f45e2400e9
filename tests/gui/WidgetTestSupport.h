#pragma once
// What the widget tests share: waiting while the window handles its events, boxes that are
// answered with their default button and remembered, and the window with the engine in a folder
// of its own.
#include <QAbstractButton>
#include <QAccessible>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainFrm.h"
#include "dialogs/MessageBox.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

namespace widget_test {

// Handles events until `pred` holds; false after `ms`. Generous, because a sanitizer build on a
// busy machine is slow, and a wait that succeeds returns at once.
inline bool Until(const std::function<bool()>& pred, int ms = 30000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// What an assistive tool (a screen reader, test automation) does through the accessibility
// interface: the toggle action of a radio button or check box, which is no click...
inline void Toggle(QAbstractButton* button) {
    QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
}

// ...and text put into a field through its editable-text interface, which no key reaches and which
// leaves the field unmodified; with `leave` the focus then moves on.
inline void PutText(QLineEdit* edit, const QString& text, bool leave = true) {
    QAccessibleEditableTextInterface* t =
        QAccessible::queryAccessibleInterface(edit)->editableTextInterface();
    t->deleteText(0, static_cast<int>(edit->text().size()));
    t->insertText(0, text);
    if (!leave) return;
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(edit, &out);
}

// Answers every box with its default button and keeps the texts.
class RecordingBoxes : public IMessageBox {
public:
    MbResult Show(const std::string& text, const std::string&, MbIcon, MbButtons,
                  MbResult defaultButton) override {
        shown.push_back(text);
        return defaultButton;
    }
    std::vector<std::string> shown;
};

// The window's start-up for a test: its own folder, the test's boxes, a 1280-pixel screen.
inline FrameSetup WindowSetup(QlnState& state, const std::string& folder, IMessageBox& boxes,
                              Switches switches) {
    FrameSetup setup;
    setup.state = &state;
    setup.switches = switches;
    setup.programFolder = folder;
    setup.messages = &boxes;
    setup.screenWidth = 1280;
    // No adapter of the machine the tests run on takes part.
    setup.listPorts = [](const std::vector<std::string>&) { return std::vector<PortEntry>{}; };
    return setup;
}

// The whole file, or empty when it cannot be read.
inline std::string ReadAll(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The window with the engine and the trace log, in a folder of its own; `Boxes` answers its
// boxes. Without a clock of the test's the engine runs on one 20 times as fast as the wall clock.
// A device is written into the folder's port settings as COM1's before the window reads them, with
// the valve history `history` ("off" unless a test is about the history), and `comIni` after it.
template <class Boxes = RecordingBoxes> struct TestProgram {
    explicit TestProgram(Switches switches, IClock* clock = nullptr, const std::string& device = "",
                         const std::string& history = "off", const std::string& comIni = "")
        : ownClock(clock ? nullptr : std::make_unique<ScaledClock>(20)), state(clock ? *clock : *ownClock) {
        if (!device.empty() || !comIni.empty()) {
            std::ofstream ini(dir.filePath(QStringLiteral("QLN_com.ini")).toStdString());
            if (!device.empty())
                ini << "[SERIAL-PORT]\nPORT=COM1\n[DEVICES]\nCOM1=" << device
                    << "\n[HISTORY]\nDATABASE=" << history << "\n";
            ini << comIni;
        }
        frame = std::make_unique<CMainFrame>(WindowSetup(state, dir.path().toStdString(), boxes, switches));
        frame->show();
    }
    std::string Trace() const { return ReadAll(dir.filePath(QStringLiteral("debug.txt"))); }
    bool Idle() const { return state.THREAD_CMD.load() == 0; }

    std::unique_ptr<ScaledClock> ownClock;
    QTemporaryDir dir;
    QlnState state;
    Boxes boxes;
    std::unique_ptr<CMainFrame> frame;
};

} // namespace widget_test
