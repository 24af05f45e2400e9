// Widget tests of what a new user meets first, on the offscreen platform: the connection field,
// the reasons of disabled commands, the port warning, the help window, stale values and one look.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>

#include "WidgetTestSupport.h"
#include "app/HelpWindow.h"
#include "app/Look.h"
#include "app/MainFrm.h"
#include "app/SerialPortDialog.h"
#include "dialogs/StatusInfoDialog.h"
#include "dialogs/ValveInfoDialog.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

using widget_test::RecordingBoxes;
using widget_test::Until;

namespace {
class MapLibrary : public ITextLibrary {
public:
    explicit MapLibrary(std::map<unsigned, std::string> texts) : texts_(std::move(texts)) {}
    std::optional<std::string> Find(unsigned id) const override {
        auto it = texts_.find(id);
        return it == texts_.end() ? std::nullopt : std::optional<std::string>(it->second);
    }

private:
    std::map<unsigned, std::string> texts_;
};

void Write(const QString& path, const std::string& content) {
    QDir().mkpath(QFileInfo(path).path());
    std::ofstream(path.toStdString()) << content;
}

// The window in test mode, in a folder of its own.
struct Program {
    explicit Program(IClock& c) : state(c) {}
    CMainFrame& Start() {
        frame = std::make_unique<CMainFrame>(
            widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {false, false, true}));
        return *frame;
    }
    QTemporaryDir dir;
    QlnState state;
    RecordingBoxes boxes;
    std::unique_ptr<CMainFrame> frame;
};
} // namespace

class FirstUseTest : public QObject {
    Q_OBJECT
private slots:
    void connectionFieldFollowsTheLine();
    void disabledCommandsSayWhy();
    void portWarningOnAMissingDevice();
    void helpOpensInTheProgramsOwnWindow();
    void helpInTheLibrarysLanguageAndWhenMissing();
    void statusValuesTurnStale();
    void valveInfoTurnsStale();
    void oneLookAndASensibleRestore();
};

void FirstUseTest::connectionFieldFollowsTheLine() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start();
    QCOMPARE(f.ConnectionStatus(), QStringLiteral("COM1 simulated valve \u2014 not connected"));
    // After the two panes of the file bar.
    auto* field = f.findChild<QLabel*>(QStringLiteral("connection"));
    QVERIFY(field);
    QCOMPARE(field->parentWidget()->objectName(), QStringLiteral("fileBar"));

    // Something talks to the valve: the field names the speed the engine found.
    RequestAction(p.state, CMD_READ_STATUS);
    QVERIFY(Until([&] { return f.ConnectionStatus().endsWith(QStringLiteral(" baud")); }));
    QVERIFY(f.ConnectionStatus().startsWith(QStringLiteral("COM1 simulated valve \u2014 ")));
    // The adapter vanishes.
    p.state.link.PortLost = 1;
    QVERIFY(Until([&] { return f.ConnectionStatus().endsWith(QStringLiteral("device gone")); }));
}

void FirstUseTest::disabledCommandsSayWhy() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start(); // in test mode
    // A recording of the simulated valve keeps Start Acquisition disabled, and says why.
    f.OnCommand(ID_START_ACQUISITION);
    f.UpdateCommandEnabling();
    QAction* start = f.CommandAction(ID_START_ACQUISITION);
    QVERIFY(start && !start->isEnabled());
    QCOMPARE(start->toolTip(), QStringLiteral("Stop the recording first"));
    QCOMPARE(start->statusTip(), QStringLiteral("Stop the recording first"));
    f.OnCommand(ID_STOP_ACQUISITION);
    QVERIFY(Until([&] { return p.state.THREAD_CMD.load() == 0; }));
    // An enabled command's tooltip is its own text, and no status tip.
    QAction* info = f.CommandAction(ID_VALVE_INFO);
    QVERIFY(info->isEnabled());
    QCOMPARE(info->toolTip(), QStringLiteral("Valve Info"));
    QVERIFY(info->statusTip().isEmpty());
    for (QMenu* m : f.menuBar()->findChildren<QMenu*>())
        QVERIFY2(m->toolTipsVisible(), qPrintable(m->title()));
}

void FirstUseTest::portWarningOnAMissingDevice() {
    ManualClock clock;
    QlnState s(clock);
    RecordingBoxes boxes;
    QTemporaryDir dir;
    std::array<std::string, kComPortCount> devices{};
    for (size_t i = 0; i < devices.size(); ++i)
        devices[i] = dir.filePath(QStringLiteral("ttyUSB%1").arg(i)).toStdString();
    Write(QString::fromStdString(devices[0]), "");
    CSerialPortDialog d(nullptr, s, devices, *s.texts, boxes);
    QVERIFY(d.PortButton(3)->text().contains(QString::fromStdString(devices[3])));
    d.show();
    widget_test::Toggle(d.PortButton(3)); // as an assistive tool chooses it
    d.accept();
    // Stored all the same, and said once.
    QCOMPARE(s.link.PortIndex.load(), 3);
    QVERIFY(!d.isVisible());
    QCOMPARE(boxes.shown.size(), size_t{1});
    const std::string& text = boxes.shown.front();
    QVERIFY2(text.rfind("COM4 is stored, but it cannot be used yet.", 0) == 0, text.c_str());
    // The system's words for the reason, in the user's language.
    QVERIFY(text.find(devices[3] + ": " + std::strerror(ENOENT)) != std::string::npos);

    // A device that is there draws no warning; nor does any in test mode.
    CSerialPortDialog there(nullptr, s, devices, *s.texts, boxes);
    there.PortButton(0)->setChecked(true);
    there.accept();
    s.link.uTestMode = 1;
    CSerialPortDialog simulated(nullptr, s, devices, *s.texts, boxes);
    simulated.PortButton(5)->setChecked(true);
    simulated.accept();
    QCOMPARE(boxes.shown.size(), size_t{1});
}

void FirstUseTest::helpOpensInTheProgramsOwnWindow() {
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start();
    f.show();
    Write(p.dir.filePath(QStringLiteral("QLN.HLP")),
          "User Guide\n\n1  Safety\n   Only authorized personnel.\n\n11  Messages\n   Baudrate Error: check "
          "the "
          "cable.\n");
    const size_t boxesBefore = p.boxes.shown.size();
    f.OnCommand(ID_HELP);
    CHelpWindow* help = f.HelpWindow();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QVERIFY(!help->isModal());
    QCOMPARE(p.boxes.shown.size(), boxesBefore);
    QVERIFY(help->View()->isReadOnly());
    QVERIFY(help->View()->toPlainText().startsWith(QStringLiteral("User Guide\n")));
    QCOMPARE(help->FindField()->accessibleName(), QStringLiteral("Find:"));

    // Find goes down the text and round again from the top.
    help->FindField()->setText(QStringLiteral("baudrate"));
    QVERIFY(help->FindNext());
    QCOMPARE(help->View()->textCursor().selectedText(), QStringLiteral("Baudrate"));
    const int first = help->View()->textCursor().position();
    QVERIFY(help->FindNext());
    QCOMPARE(help->View()->textCursor().position(), first);
    help->FindField()->setText(QStringLiteral("nowhere"));
    QVERIFY(!help->FindNext());

    // A look at both for a person: written into the build folder.
    help->grab().save(QCoreApplication::applicationDirPath() + "/help-window.png");
    f.grab().save(QCoreApplication::applicationDirPath() + "/main-window.png");

    // F1 again brings the same window back.
    help->hide();
    f.OnCommand(ID_HELP);
    QCOMPARE(f.HelpWindow(), help);
    QVERIFY(help->isVisible());
}

void FirstUseTest::helpInTheLibrarysLanguageAndWhenMissing() {
    ScaledClock clock(20);
    Program p(clock);
    MapLibrary german({{429, "de"}});
    const TextSource texts(&german, nullptr);
    p.state.texts = &texts;
    CMainFrame& f = p.Start();

    // Nowhere: a box that says where it was looked for, and no window.
    f.OnCommand(ID_HELP);
    QVERIFY(!f.HelpWindow());
    QVERIFY(!p.boxes.shown.empty());
    const std::string& missing = p.boxes.shown.back();
    QVERIFY2(missing.rfind("The help file QLN.HLP was not found.", 0) == 0, missing.c_str());
    QVERIFY(missing.find(p.dir.filePath(QStringLiteral("de/QLN.HLP")).toStdString()) != std::string::npos);
    QVERIFY(missing.find(p.dir.filePath(QStringLiteral("QLN.HLP")).toStdString()) != std::string::npos);

    Write(p.dir.filePath(QStringLiteral("QLN.HLP")), "User Guide\n");
    Write(p.dir.filePath(QStringLiteral("de/QLN.HLP")), "Benutzerhandbuch \u00fcber qln\n");
    f.OnCommand(ID_HELP);
    QVERIFY(f.HelpWindow());
    QCOMPARE(f.HelpWindow()->View()->toPlainText(), QStringLiteral("Benutzerhandbuch \u00fcber qln\n"));
}

void FirstUseTest::statusValuesTurnStale() {
    ManualClock clock;
    QlnState s(clock);
    CStatusInfoDialog d(nullptr, s, *s.texts);
    d.show();
    QVERIFY(!d.ShowsStale());
    d.OnPollTick();
    QCOMPARE(s.THREAD_CMD.load(), uint32_t{CMD_READ_STATUS});
    clock.Advance(2999);
    d.UpdateStale();
    QVERIFY(!d.ShowsStale());
    clock.Advance(1);
    d.UpdateStale();
    QVERIFY(d.ShowsStale());
    QVERIFY(d.StaleNote()->isVisible());
    QCOMPARE(d.StaleNote()->text(), QStringLiteral("waiting for the valve\u2026"));
    QVERIFY(!d.Radio(0, 0)->isEnabled());

    // The reply comes: live again at once.
    s.THREAD_CMD = 0;
    d.OnMsgReceive(NOTIFY_STATUS, 0);
    QVERIFY(!d.ShowsStale());
    QVERIFY(!d.StaleNote()->isVisible());
    QVERIFY(d.Radio(0, 0)->isEnabled());
}

void FirstUseTest::valveInfoTurnsStale() {
    ManualClock clock;
    QlnState s(clock);
    CValveInfoDialog d(nullptr, s, *s.texts);
    d.show();
    clock.Advance(10000);
    d.UpdateStale();
    QVERIFY2(!d.ShowsStale(), "nothing was asked, so nothing is waited for");
    d.OnReadClicked();
    clock.Advance(3000);
    d.UpdateStale();
    QVERIFY(d.ShowsStale());
    QVERIFY(d.StaleNote()->isVisible());
    QVERIFY(!d.Field(VI_FIRMWARE)->isEnabled());
    d.OnMsgReceive(4, 0); // the engine gave up: the fields show no data, not stale data
    QVERIFY(!d.ShowsStale());
    QVERIFY(d.Field(VI_FIRMWARE)->isEnabled());
}

void FirstUseTest::oneLookAndASensibleRestore() {
    ApplyProgramLook(*qApp);
    QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
    ScaledClock clock(20);
    Program p(clock);
    CMainFrame& f = p.Start();
    QDialog dialog;
    const QColor window = dialog.palette().color(QPalette::Window);
    QVERIFY(window != QColor(192, 192, 192));
    QCOMPARE(f.palette().color(QPalette::Window), window);
    QCOMPARE(f.menuBar()->palette().color(QPalette::Window), window);
    for (QStatusBar* bar : f.findChildren<QStatusBar*>())
        QCOMPARE(bar->palette().color(QPalette::Window), window);

    // Shown maximised with the whole screen as its normal size, as the program starts it.
    const QRect area = f.screen()->availableGeometry();
    f.setGeometry(area);
    f.showMaximized();
    QVERIFY(Until([&] { return f.isVisible() && (f.windowState() & Qt::WindowMaximized); }));
    f.showNormal();
    QVERIFY(Until([&] { return f.frameGeometry().width() < area.width(); }));
    QVERIFY2(area.contains(f.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                                              .arg(f.frameGeometry().x())
                                                              .arg(f.frameGeometry().y())
                                                              .arg(f.frameGeometry().width())
                                                              .arg(f.frameGeometry().height())
                                                              .arg(area.width())
                                                              .arg(area.height())));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    FirstUseTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "FirstUseTest.moc"
