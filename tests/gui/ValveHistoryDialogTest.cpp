// The valve history dialog opened from the window's menu over a real SQLite file in the program
// folder; lists selected and Take pressed through the accessibility interface.
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <clocale>
#include <cstring>
#include <fstream>

#include "WidgetTestSupport.h"
#include "dialogs/ValveHistoryDialog.h"
#include "params/ParameterTable.h"

using widget_test::Until;

namespace {
// The window in test mode in a folder of its own, with `comIni` as its QLN_com.ini.
struct HistoryProgram {
    explicit HistoryProgram(const std::string& comIni = "") {
        if (!comIni.empty()) std::ofstream(File("QLN_com.ini")) << comIni;
        frame = std::make_unique<CMainFrame>(
            widget_test::WindowSetup(state, Folder(), boxes, {false, false, true}));
    }
    std::string Folder() const { return dir.path().toStdString(); }
    std::string File(const char* name) const { return dir.filePath(QString::fromLatin1(name)).toStdString(); }

    ScaledClock clock{20};
    QTemporaryDir dir;
    QlnState state{clock};
    widget_test::RecordingBoxes boxes;
    std::unique_ptr<CMainFrame> frame;
};

// Runs `body` inside the modal loop of the dialog Valve History opens, then closes it.
bool WithHistoryDialog(CMainFrame& f, const std::function<void(CValveHistoryDialog&)>& body) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<CValveHistoryDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        seen = true;
        body(*d);
        d->reject();
    });
    f.CommandAction(ID_VALVE_HISTORY)->trigger();
    return seen;
}

QAccessibleInterface* Accessible(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w);
}

QList<QStringList> Rows(const QTableWidget* t, bool withHeader = false) {
    QList<QStringList> rows;
    if (withHeader) rows << QStringList();
    for (int c = 0; withHeader && c < t->columnCount(); ++c)
        rows[0] << t->horizontalHeaderItem(c)->text();
    for (int r = 0; r < t->rowCount(); ++r) {
        rows << QStringList();
        for (int c = 0; c < t->columnCount(); ++c)
            rows.back() << t->item(r, c)->text();
    }
    return rows;
}

ParameterBlock WithGain(float gain) {
    ParameterBlock b = DefaultParameterBlock();
    b.PROPORTIONAL_GAIN = gain;
    return b;
}
} // namespace

class ValveHistoryTest : public QObject {
    Q_OBJECT
private slots:
    void listsComparesAndTakesIntoTheProject();
    void saysWhyThereIsNoHistory();
};

void ValveHistoryTest::listsComparesAndTakesIntoTheProject() {
    HistoryProgram p;
    const struct {
        const char *time, *serial, *part, *action;
        HistoryResult result;
        int confirmed;
        const char* error;
        float gain; // 0: a calibration matrix instead of a parameter set
    } stored[] = {{"2026-12-07T18:02:30Z", "123457", "471-52F", "backup", HistoryResult::Ok, -1, "", 1.37f},
                  {"2026-12-07T18:02:34Z", "123457", "471-52F", "write-params", HistoryResult::Incomplete, 12,
                   "the valve stopped answering", 0.8f},
                  {"2026-12-08T09:15:00Z", "654321", "471-10A", "read-matrix", HistoryResult::Ok, -1, "", 0}};
    std::string error;
    auto store = HistoryStore::Open({HistoryTarget::Kind::Sqlite, p.File("QLN_history.db")}, nullptr, &error);
    QVERIFY2(store, error.c_str());
    for (const auto& s : stored) {
        HistoryEntry e = NewHistoryEntry(s.action);
        e.time = s.time;
        e.station = "line-3";
        e.user = "anna";
        e.serial = s.serial;
        e.part = s.part;
        e.result = s.result;
        e.confirmed = s.confirmed;
        e.error = s.error;
        const ParameterBlock b = WithGain(s.gain);
        if (s.gain != 0)
            e.parameters.assign(reinterpret_cast<const uint8_t*>(&b),
                                reinterpret_cast<const uint8_t*>(&b + 1));
        if (s.gain == 0) e.matrix.assign(40, 7);
        QVERIFY2(store->Add(e, &error), error.c_str());
    }
    p.state.params.EditBlock = WithGain(2.5f);
    QCOMPARE(p.frame->CommandAction(ID_VALVE_HISTORY)->text(), QStringLiteral("Valve &History..."));

    const bool seen = WithHistoryDialog(*p.frame, [&](CValveHistoryDialog& d) {
        QCOMPARE(d.windowTitle(), QStringLiteral("Valve History"));
        QVERIFY(d.ProblemLine()->isHidden());
        QWidget* named[] = {d.ValveList(), d.EntryList(), d.DifferenceList(), d.TakeButton()};
        const char* names[] = {"Valves:", "Entries:", "Differences:", "Take into Project"};
        for (size_t i = 0; i < std::size(names); ++i)
            QCOMPARE(Accessible(named[i])->text(QAccessible::Name), QString::fromLatin1(names[i]));
        QAccessibleTableInterface* valves = Accessible(d.ValveList())->tableInterface();
        QAccessibleTableInterface* entries = Accessible(d.EntryList())->tableInterface();
        auto take = [&] { return d.TakeButton()->isEnabled(); };
        auto note = [&] { return d.ComparisonNote()->text(); };

        // The valve seen last comes first and is shown; its one entry holds no set to take.
        QCOMPARE(Rows(d.ValveList(), true),
                 (QList<QStringList>{{"Serial No.", "Part Number", "Last Seen (UTC)"},
                                     {"654321", "471-10A", "2026-12-08T09:15:00Z"},
                                     {"123457", "471-52F", "2026-12-07T18:02:34Z"}}));
        QCOMPARE(Rows(d.EntryList()), (QList<QStringList>{{"3", "2026-12-08T09:15:00Z", "line-3", "anna",
                                                           "read-matrix", "ok", ""}}));
        QCOMPARE(note(),
                 QStringLiteral("Select one entry to compare it with the project's edited set, or two to "
                                "compare them with each other."));
        QVERIFY(entries->selectRow(0));
        QCOMPARE(note(), QStringLiteral("Entry #3 (read-matrix) holds no parameter set."));
        QVERIFY(!take());

        QVERIFY(valves->selectRow(1));
        QCOMPARE(Rows(d.EntryList(), true),
                 (QList<QStringList>{{"Entry", "Time (UTC)", "Station", "User", "Action", "Result", "Error"},
                                     {"2", "2026-12-07T18:02:34Z", "line-3", "anna", "write-params",
                                      "incomplete (12 confirmed)", "the valve stopped answering"},
                                     {"1", "2026-12-07T18:02:30Z", "line-3", "anna", "backup", "ok", ""}}));
        // Two entries, the older first; then the backup against the project.
        QVERIFY(entries->selectRow(0) && entries->selectRow(1));
        QCOMPARE(Rows(d.DifferenceList(), true),
                 (QList<QStringList>{{"Parameter", "#1", "#2"}, {"PROPORTIONAL_GAIN", "1.37", "0.80"}}));
        QVERIFY(!take());
        QVERIFY(entries->unselectRow(0));
        QCOMPARE(Rows(d.DifferenceList(), true),
                 (QList<QStringList>{{"Parameter", "#1", "Project"}, {"PROPORTIONAL_GAIN", "1.37", "2.50"}}));
        QVERIFY(take());

        QVERIFY(!p.frame->ProjectModified());
        Accessible(d.TakeButton())->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(Until([&] { return p.frame->ProjectModified(); }));
        const ParameterBlock taken = WithGain(1.37f);
        QCOMPARE(std::memcmp(&p.state.params.EditBlock, &taken, sizeof taken), 0);
        QCOMPARE(d.DifferenceList()->rowCount(), 0);
        QCOMPARE(note(), QStringLiteral("No differences: #1 and Project hold the same values."));
    });
    QVERIFY(seen);
}

void ValveHistoryTest::saysWhyThereIsNoHistory() {
    const struct {
        const char* what;
        const char* comIni;
        const char* database; // the file's bytes, or nullptr for none
        const char *begins, *ends;
    } cases[] = {
        {"off", "[HISTORY]\nDATABASE=off\n", nullptr,
         "The valve history is off (DATABASE=off under [HISTORY] in QLN_com.ini). To keep one, remove that "
         "line, "
         "or name a database there (sqlite:PATH or postgresql://...).",
         ""},
        {"no file yet", "", nullptr,
         "The valve history holds no entries yet: every job that reads or changes the valve's settings adds "
         "one.",
         ""},
        {"damaged", "",
         "Not a database: a page of notes where the history's file should be, long enough to hold a "
         "header of its own, which SQLite will not recognise as one of its files.\n",
         "The valve history cannot be shown: the history database ",
         ". Restore the database from a backup, or move the file aside so that a new one is started."},
        {"no database named", "[HISTORY]\nDATABASE=mysql://db/line\n", nullptr,
         "The valve history cannot be shown: QLN_com.ini [HISTORY] DATABASE=mysql://db/line: ",
         "(use postgresql://..., sqlite:PATH or off)."},
    };
    for (const auto& c : cases) {
        HistoryProgram p(c.comIni);
        const std::string file = p.File("QLN_history.db");
        if (c.database) std::ofstream(file) << c.database;
        const bool seen = WithHistoryDialog(*p.frame, [&](CValveHistoryDialog& d) {
            const QString line = d.ProblemLine()->text();
            QVERIFY2(d.ProblemLine()->isVisible() && line.startsWith(QString::fromLatin1(c.begins)) &&
                         line.endsWith(QString::fromLatin1(c.ends)),
                     qPrintable(QString::fromLatin1(c.what) + ": " + line));
            QCOMPARE(d.ValveList()->rowCount() + d.EntryList()->rowCount(), 0);
            QVERIFY(!d.TakeButton()->isEnabled());
        });
        QVERIFY2(seen, c.what);
        QCOMPARE(QFile::exists(QString::fromStdString(file)), c.database != nullptr);
    }
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program's own start: numbers keep their '.' whatever the user's locale says.
    std::setlocale(LC_NUMERIC, "C");
    ValveHistoryTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "ValveHistoryDialogTest.moc"
