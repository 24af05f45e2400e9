#pragma once

class QApplication;

// One style and one light palette for the main window, its menus and status bars and every
// dialog, whatever theme the desktop has: Fusion with its own palette. Widgets that draw their own
// colours (the LEDs, red marks, the scope) keep them.
void ApplyProgramLook(QApplication& app);
