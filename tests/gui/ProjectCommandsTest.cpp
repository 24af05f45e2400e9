// The Project menu through the real window on the offscreen platform: the file dialogs are
// answered by the test, the boxes by a script, the files are real.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <sstream>

#include <sys/stat.h>

#include "WidgetTestSupport.h"
#include "app/MainFrm.h"
#include "dialogs/MessageBox.h"
#include "dialogs/ProjectInfoDialog.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

namespace {
class ScriptedBoxes : public IMessageBox {
public:
    MbResult Show(const std::string& text, const std::string& caption, MbIcon, MbButtons buttons,
                  MbResult defaultButton) override {
        shown.push_back(caption + ": " + text);
        if (!answers.empty()) {
            const MbResult r = answers.front();
            answers.pop_front();
            return r;
        }
        return buttons == MbButtons::Ok ? MbResult::Ok : defaultButton;
    }
    std::vector<std::string> shown;
    std::deque<MbResult> answers;
};

// The window with its file dialogs answered by the test.
class TestFrame : public CMainFrame {
public:
    using CMainFrame::CMainFrame;
    QString openPath, savePath;

protected:
    QString AskOpenPath() override { return openPath; }
    QString AskSavePath(const QString&) override { return savePath; }
};

std::string Read(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Program {
    // `para` and `com`, when given, are the settings files the window finds at its start.
    explicit Program(const char* para = nullptr, const char* com = nullptr) : state(clock) {
        if (para) std::ofstream(File("QLN_para.ini").toStdString()) << para;
        if (com) std::ofstream(File("QLN_com.ini").toStdString()) << com;
        frame = std::make_unique<TestFrame>(
            widget_test::WindowSetup(state, dir.path().toStdString(), boxes, {false, false, true}));
        boxes.shown.clear(); // the start-up caution
    }
    QString File(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    ManualClock clock;
    QTemporaryDir dir;
    QlnState state;
    ScriptedBoxes boxes;
    std::unique_ptr<TestFrame> frame;
};
} // namespace

class ProjectCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void saveAsAdjustsTheNameFirstAndAsksAboutThatFile();
    void openRestoresTheSavedSetAndRefusesWhatIsNoProject();
    void aFailedSaveIsSaidAndKeepsTheProjectModified();
    void newAndOpenWaitForAnIdleEngine();
    void newStartsFromTheFileDefaultsAndAsksBeforeReplacing();
    void projectInfoRefusesSeparatorsAndTakesDigits();
};

void ProjectCommandsTest::saveAsAdjustsTheNameFirstAndAsksAboutThatFile() {
    Program p;
    TestFrame& f = *p.frame;
    p.state.params.EditBlock.PROPORTIONAL_GAIN = 1.25f;
    f.SetProjectModified(true);
    std::ofstream(p.File("plant.QPJ").toStdString()) << "an older project";
    f.savePath = p.File("plant.txt");
    p.boxes.answers = {MbResult::No};
    f.OnCommand(ID_SAVE_PROJECT_AS);
    QCOMPARE(p.boxes.shown.size(), size_t{1});
    QVERIFY2(p.boxes.shown[0].find("plant.QPJ already exists") != std::string::npos,
             p.boxes.shown[0].c_str());
    QCOMPARE(Read(p.File("plant.QPJ")), std::string("an older project"));
    QVERIFY(!QFileInfo::exists(p.File("plant.txt")));
    QVERIFY(f.ProjectModified());

    p.boxes.answers = {MbResult::Yes};
    f.OnCommand(ID_SAVE_PROJECT_AS);
    QCOMPARE(Read(p.File("plant.QPJ")).size(), size_t{173624});
    QVERIFY(!f.ProjectModified());
    QVERIFY(!f.windowTitle().endsWith(QStringLiteral(" *]")));
    f.UpdateStatusBars();
    QCOMPARE(f.StatusText(1, 0), QStringLiteral("File: plant.QPJ"));
    // The record spells it "Ventil?A.QPJ"; the status bar shows the real name, as qln-cli show does.
    f.savePath = p.dir.filePath(QStringLiteral("Ventil\u2192A.QPJ"));
    f.OnCommand(ID_SAVE_PROJECT_AS);
    f.UpdateStatusBars();
    QCOMPARE(f.StatusText(1, 0), QStringLiteral("File: Ventil\u2192A.QPJ"));
}

void ProjectCommandsTest::openRestoresTheSavedSetAndRefusesWhatIsNoProject() {
    Program p;
    TestFrame& f = *p.frame;
    p.state.params.EditBlock.SETPOINT_SPAN = 77;
    p.state.testFunction.SerialSetpoint = 37.5f;
    f.savePath = p.File("a.QPJ");
    f.OnCommand(ID_SAVE_PROJECT_AS);
    QVERIFY(QFileInfo::exists(p.File("a.QPJ")));
    // The serial setpoint record follows the project description: a float at byte 872.
    const std::string image = Read(p.File("a.QPJ"));
    float stored = 0;
    std::memcpy(&stored, image.data() + 872, sizeof stored);
    QCOMPARE(stored, 37.5f);

    p.state.params.EditBlock.SETPOINT_SPAN = 12;
    p.state.testFunction.SerialSetpoint = 5;
    p.state.params.WriteEnabled = 0;
    f.SetProjectModified(false);
    f.openPath = p.File("a.QPJ");
    f.OnCommand(ID_OPEN_PROJECT);
    QCOMPARE(p.state.params.EditBlock.SETPOINT_SPAN, 77);
    QCOMPARE(p.state.testFunction.SerialSetpoint, 37.5f);
    QCOMPARE(int{p.state.params.WriteEnabled}, 1);
    QVERIFY(f.windowTitle().contains(p.File("a.QPJ")));

    // A pipe is no project: refused at once, nothing changes.
    QVERIFY(::mkfifo(p.File("pipe.QPJ").toLocal8Bit().constData(), 0644) == 0);
    p.state.params.EditBlock.SETPOINT_SPAN = 33;
    p.boxes.shown.clear();
    f.openPath = p.File("pipe.QPJ");
    f.OnCommand(ID_OPEN_PROJECT);
    QCOMPARE(p.boxes.shown.size(), size_t{1});
    QCOMPARE(p.boxes.shown[0], "Open Project: Could not open File\n" + f.openPath.toStdString());
    QCOMPARE(p.state.params.EditBlock.SETPOINT_SPAN, 33);
}

void ProjectCommandsTest::aFailedSaveIsSaidAndKeepsTheProjectModified() {
    Program p;
    TestFrame& f = *p.frame;
    // Folders where the files should go: every save fails.
    QVERIFY(QDir(p.dir.path()).mkdir(QStringLiteral("b.QPJ")));
    QVERIFY(QDir(p.dir.path()).mkdir(QStringLiteral("UNKNOWN.QPJ")));
    f.SetProjectModified(true);
    f.savePath = p.File("b.QPJ");
    p.boxes.answers = {MbResult::Yes, MbResult::Ok};
    f.OnCommand(ID_SAVE_PROJECT_AS);
    QVERIFY(f.ProjectModified());
    QVERIFY(f.windowTitle().endsWith(QStringLiteral(" *]")));
    QVERIFY(!p.boxes.shown.empty());
    const std::string box = p.boxes.shown.back();
    QVERIFY2(box.find("could not be saved to " + p.File("b.QPJ").toStdString()) != std::string::npos,
             box.c_str());
    QCOMPARE(QDir(p.dir.path()).entryList(QStringList{QStringLiteral("*.tmp*")}, QDir::Files).size(), 0);

    // New on top of it asks to save first; a save that fails keeps the project and New stops.
    p.boxes.shown.clear();
    p.boxes.answers = {MbResult::Yes};
    f.OnCommand(ID_NEW_PROJECT);
    QVERIFY(f.ProjectModified());
    QCOMPARE(p.boxes.shown.size(), size_t{2}); // the question and the failed save
    QVERIFY2(p.boxes.shown[1].find("UNKNOWN.QPJ") != std::string::npos, p.boxes.shown[1].c_str());
}

void ProjectCommandsTest::newAndOpenWaitForAnIdleEngine() {
    Program p;
    TestFrame& f = *p.frame;
    p.state.params.EditBlock.SETPOINT_SPAN = 99;
    // The engine thread stops first, so nothing takes the request that stands for a busy engine.
    p.state.link.RunStates[THREAD_ACTION].store(RUN_STOP_REQUESTED);
    WakeEngine(p.state.link);
    QElapsedTimer t;
    t.start();
    while (p.state.link.RunStates[THREAD_ACTION].load() != RUN_STOPPED && t.elapsed() < 30000)
        QTest::qWait(5);
    QVERIFY2(p.state.link.RunStates[THREAD_ACTION].load() == RUN_STOPPED, "the engine thread did not stop");
    p.state.THREAD_CMD.fetch_or(CMD_WRITE_PARAMETER);
    f.openPath = p.File("x.QPJ");
    // Said before the save question, which would be in vain.
    f.SetProjectModified(true);
    for (unsigned command : {ID_NEW_PROJECT, ID_OPEN_PROJECT}) {
        p.boxes.shown.clear();
        f.OnCommand(command);
        QCOMPARE(p.boxes.shown.size(), size_t{1});
        QVERIFY2(p.boxes.shown[0].find("An action or a recording is running.") != std::string::npos,
                 p.boxes.shown[0].c_str());
        QCOMPARE(p.state.params.EditBlock.SETPOINT_SPAN, 99);
    }
}

// New: the set from QLN_para.ini, writing disabled, the port kept; the name typed is adjusted as
// the field is left and is the file's real (UTF-8) name, the record's is Windows-1252; No to
// "already exists" goes back to the dialog and keeps the file, Yes replaces it.
void ProjectCommandsTest::newStartsFromTheFileDefaultsAndAsksBeforeReplacing() {
    Program p("[CONTROL_PARAMETER]\nVALUE_PROPORTIONAL_GAIN=2.5\n", "[SERIAL-PORT]\nPORT=COM3\n");
    TestFrame& f = *p.frame;
    p.state.params.EditBlock.PROPORTIONAL_GAIN = 7.0f;
    p.state.params.WriteEnabled = 1;
    const QString kept = p.dir.filePath(QStringLiteral("Pr\u00fcfstand.QPJ"));
    std::ofstream(kept.toStdString()) << "kept";
    int dialogs = 0;
    QString leftAs;
    std::string keptAtSecondDialog;
    std::function<void()> answer = [&] {
        auto* d = qobject_cast<CProjectInfoDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        if (++dialogs == 1) {
            QLineEdit* name = d->Edit(CProjectInfoDialog::FILE_NAME);
            widget_test::PutText(name, QStringLiteral("Pr\u00fcfstand.txt"));
            leftAs = name->text();
        } else {
            keptAtSecondDialog = Read(kept);
        }
        QTimer::singleShot(0, answer); // the dialog that may come next
        d->accept();
    };
    QTimer::singleShot(0, answer);
    p.boxes.answers = {MbResult::No, MbResult::Yes};
    f.OnCommand(ID_NEW_PROJECT);
    QCOMPARE(leftAs, QStringLiteral("Pr\u00fcfstand.QPJ"));
    QCOMPARE(dialogs, 2);
    QCOMPARE(keptAtSecondDialog, std::string("kept"));
    QCOMPARE(p.boxes.shown.size(), size_t{2});
    QCOMPARE(p.boxes.shown[0], "New Project: Pr\u00fcfstand.QPJ already exists.\nDo you want to replace it?");
    const std::string written = Read(kept);
    QCOMPARE(written.size(), size_t{173624});
    QCOMPARE(written.substr(25, 14), std::string("Pr\xFC"
                                                 "fstand.QPJ\0",
                                                 14));
    QVERIFY(!f.ProjectModified());
    QCOMPARE(p.state.params.EditBlock.PROPORTIONAL_GAIN, 2.5f);
    QCOMPARE(int{p.state.params.WriteEnabled}, 0);
    QCOMPARE(p.state.link.PortIndex.load(), 2);
}

void ProjectCommandsTest::projectInfoRefusesSeparatorsAndTakesDigits() {
    ScriptedBoxes boxes;
    ProjectInfo info{};
    TextSource texts;
    CProjectInfoDialog d(nullptr, CProjectInfoDialog::Mode::Info, info, texts, boxes);
    QLineEdit* name = d.Edit(CProjectInfoDialog::PROJECT_NAME);
    QVERIFY(!d.Edit(CProjectInfoDialog::FILE_NAME)->isEnabled());
    QCOMPARE(name->accessibleName(), QStringLiteral("Project Name:"));
    QTest::keyClicks(name, QStringLiteral("Line#3"));
    QCOMPARE(name->text(), QStringLiteral("Line3"));
    QCOMPARE(boxes.shown.size(), size_t{1});
    QCOMPARE(boxes.shown[0], std::string("Project Info: Character not allowed! \n'#'"));

    QLineEdit* version = d.Edit(CProjectInfoDialog::VERSION);
    version->setText(QStringLiteral("1234567"));
    d.StoreField(CProjectInfoDialog::VERSION);
    QCOMPARE(version->text(), QStringLiteral("123456"));
    QCOMPARE(d.Info().Version, 123456u);

    // Cancel with a change asks; No keeps the dialog open, Yes drops the change and closes it.
    d.show();
    boxes.answers = {MbResult::No, MbResult::Yes};
    d.reject();
    QVERIFY(d.isVisible());
    QCOMPARE(boxes.shown.back(),
             std::string("Project Info: Data's are changed. Do you really want to cancel?"));
    d.reject();
    QVERIFY(!d.isVisible());
    QCOMPARE(d.Info().Version, 0u);
    QVERIFY(!d.Changed());
}

QTEST_MAIN(ProjectCommandsTest)
#include "ProjectCommandsTest.moc"
