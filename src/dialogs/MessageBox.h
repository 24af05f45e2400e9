#pragma once
#include <string>

// How the program asks the user something or tells them something in a box. The window code goes
// through this interface rather than showing boxes itself, so tests can answer the boxes and the
// core can state rules about which box appears without a widget.
enum class MbIcon { None, Stop, Exclamation, Question, Information };
enum class MbButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MbResult { Ok, Cancel, Yes, No };

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Shows the box modally over the program's window and returns the button pressed. Closing the
    // box with Escape or the window's close button counts as Cancel (No where there is no Cancel,
    // Ok for an OK-only box).
    virtual MbResult Show(const std::string& text, const std::string& caption, MbIcon icon = MbIcon::None,
                          MbButtons buttons = MbButtons::Ok, MbResult defaultButton = MbResult::Ok) = 0;
};
