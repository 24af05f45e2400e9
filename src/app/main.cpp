// qln: the desktop program.
#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <clocale>
#include <cstdio>
#include <memory>

#include "app/Look.h"
#include "app/MainFrm.h"
#include "app/QtMessageBox.h"
#include "app/QtNotifier.h"
#include "app/StartUp.h"
#include "dialogs/Artwork.h"
#include "engine/QlnState.h"
#include "system/Clock.h"
#include "text/LanguageLibrary.h"

int main(int argc, char** argv) {
    // Answered before the window system starts, so that neither needs a display.
    const std::string info = ProgramInfoText(argc, argv);
    if (!info.empty()) {
        std::fputs(info.c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    // Qt takes over the user's locale; numbers in files and fields keep a '.' whatever it says.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("qln"));
    QApplication::setWindowIcon(ProgramIcon());
    ApplyProgramLook(app);

    QtMessageBox boxes;
    // Message boxes asked for by other threads (a text the language library lacks) are shown on
    // this thread; the asking thread waits for the user, as it would for any box.
    QtNotifier relay(nullptr, [&boxes](const std::string& text, const std::string& caption) {
        boxes.Show(text, caption, MbIcon::None, MbButtons::Ok, MbResult::Ok);
    });

    const std::string folder = ProgramFolder();
    LanguageLibrary library;
    bool haveLibrary = false;
    const std::string libraryPath = LanguageLibraryPath(folder);
    // The library is optional: only one that is there but cannot be used is worth a word.
    if (QFileInfo::exists(QString::fromStdString(libraryPath))) {
        std::string error;
        haveLibrary = library.Load(libraryPath, &error);
        if (!haveLibrary)
            boxes.Show(RefusedLibraryText(libraryPath, error), REFUSED_LIBRARY_CAPTION, MbIcon::Exclamation,
                       MbButtons::Ok, MbResult::Ok);
    }
    const TextSource texts(
        haveLibrary ? &library : nullptr,
        [&relay](const std::string& text, const std::string& caption) { relay.ShowMessage(text, caption); });

    RealClock clock;
    auto state = std::make_unique<QlnState>(clock);
    state->texts = &texts;
    boxes.SetTexts(&texts);

    std::vector<const char*> args(argv, argv + argc);
    FrameSetup setup;
    setup.state = state.get();
    setup.switches = ParseSwitches(CommandLineOf(argc, args.data()));
    setup.programFolder = folder;
    setup.buildStamp = BuildStamp(QApplication::applicationFilePath().toStdString());
    setup.library = haveLibrary ? &library : nullptr;
    setup.messages = &boxes;
    setup.onClosing = [&relay] { relay.BeginClosing(); };

    int rc = 0;
    {
        CMainFrame frame(setup);
        boxes.SetOwner(&frame);
        // Without a window manager (a virtual display, a kiosk) nobody maximizes or focuses the
        // window on request: give it the whole screen and the keyboard ourselves. Restoring it
        // later gives it a normal size (see CMainFrame::changeEvent).
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            frame.setGeometry(screen->availableGeometry());
        frame.showMaximized();
        frame.raise();
        frame.activateWindow();
        rc = QApplication::exec();
        boxes.SetOwner(nullptr);
    }
    return rc;
}
