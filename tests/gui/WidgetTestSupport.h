#pragma once
// What the widget tests share: waiting while the window handles its events, and boxes that are
// answered with their default button and remembered.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/MainFrm.h"
#include "dialogs/MessageBox.h"

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
    return setup;
}

} // namespace widget_test
