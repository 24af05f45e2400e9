// The valve history dialog opened from the window's menu over a real SQLite file in the program
// folder; lists selected and Take pressed through the accessibility interface.
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <clocale>
#include <cstring>
#include <fstream>
#include <vector>

#include "WidgetTestSupport.h"
#include "dialogs/ValveHistoryDialog.h"
#include "params/ParameterTable.h"

using widget_test::Until;

namespace {
using Program = widget_test::TestProgram<>;

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

// The header's cells, then each row's.
QList<QStringList> Rows(const QTableWidget* t) {
    QList<QStringList> rows;
    for (int r = -1; r < t->rowCount(); ++r) {
        rows << QStringList();
        for (int c = 0; c < t->columnCount(); ++c)
            rows.back() << (r < 0 ? t->horizontalHeaderItem(c) : t->item(r, c))->text();
    }
    return rows;
}

std::vector<uint8_t> SetWithGain(float gain) {
    ParameterBlock b = DefaultParameterBlock();
    b.PROPORTIONAL_GAIN = gain;
    return {reinterpret_cast<const uint8_t*>(&b), reinterpret_cast<const uint8_t*>(&b + 1)};
}
HistoryEntry Stored(const char* time, const char* serial, const char* part, const char* action,
                    std::vector<uint8_t> set) {
    HistoryEntry e = NewHistoryEntry(action);
    e.time = time;
    e.station = "line-3";
    e.user = "anna";
    e.serial = serial;
    e.part = part;
    e.parameters = std::move(set);
    return e;
}
} // namespace

class ValveHistoryTest : public QObject {
    Q_OBJECT
private slots:
    void listsComparesAndTakesIntoTheProject();
    void saysWhyThereIsNoHistory();
};

void ValveHistoryTest::listsComparesAndTakesIntoTheProject() {
    Program p({false, false, true});
    HistoryEntry stored[] = {
        Stored("2026-12-07T18:02:30Z", "123457", "471-52F", "backup", SetWithGain(1.37f)),
        Stored("2026-12-07T18:02:34Z", "123457", "471-52F", "write-params", SetWithGain(0.8f)),
        Stored("2026-12-08T09:15:00Z", "654321", "471-10A", "read-matrix", {})};
    stored[1].result = HistoryResult::Incomplete;
    stored[1].confirmed = 12;
    stored[1].error = "the valve stopped answering";
    stored[2].matrix.assign(40, 7);
    std::string error;
    auto store = HistoryStore::Open(
        {HistoryTarget::Kind::Sqlite, p.dir.filePath("QLN_history.db").toStdString()}, nullptr, &error);
    QVERIFY2(store, error.c_str());
    for (HistoryEntry& e : stored)
        QVERIFY2(store->Add(e, &error), error.c_str());
    // Two entries wait for a server out of reach: no list can show them yet, a line says so.
    const std::string outboxPath = p.dir.filePath("QLN_history_outbox.db").toStdString();
    HistoryRecorder unreachable({HistoryTarget::Kind::Unusable, "no database"}, outboxPath);
    HistoryOpenFailure failure;
    std::string notice;
    QVERIFY(unreachable.Open(&failure, &error));
    for (HistoryEntry waiting : {NewHistoryEntry("read-params"), NewHistoryEntry("setpoint")})
        QVERIFY2(unreachable.Record(waiting, &notice, &error), error.c_str());
    std::memcpy(&p.state.params.EditBlock, SetWithGain(2.5f).data(), sizeof(ParameterBlock));
    QCOMPARE(p.frame->CommandAction(ID_VALVE_HISTORY)->text(), QStringLiteral("Valve &History..."));

    const bool seen = WithHistoryDialog(*p.frame, [&](CValveHistoryDialog& d) {
        QVERIFY(d.windowTitle() == "Valve History" && d.ProblemLine()->isHidden());
        QCOMPARE(d.OutboxLine()->text(),
                 QString::fromStdString("Entries waiting in the outbox " + outboxPath +
                                        ": 2. The next job that reaches the database delivers them; they "
                                        "are not listed here until then."));
        QWidget* named[] = {d.ValveList(), d.EntryList(), d.DifferenceList(), d.TakeButton()};
        const char* names[] = {"Valves:", "Entries:", "Differences:", "Take into Project"};
        for (size_t i = 0; i < std::size(names); ++i)
            QCOMPARE(Accessible(named[i])->text(QAccessible::Name), QString::fromLatin1(names[i]));
        QAccessibleTableInterface* valves = Accessible(d.ValveList())->tableInterface();
        QAccessibleTableInterface* entries = Accessible(d.EntryList())->tableInterface();
        auto take = [&] { return d.TakeButton()->isEnabled(); };
        auto note = [&] { return d.ComparisonNote()->text(); };

        // The valve seen last comes first and is shown; its one entry holds no set to take.
        QCOMPARE(Rows(d.ValveList()), (QList<QStringList>{{"Serial No.", "Part Number", "Last Seen (UTC)"},
                                                          {"654321", "471-10A", "2026-12-08T09:15:00Z"},
                                                          {"123457", "471-52F", "2026-12-07T18:02:34Z"}}));
        QCOMPARE(note(),
                 QStringLiteral("Select one entry to compare it with the project's edited set, or two to "
                                "compare them with each other."));
        QVERIFY(entries->selectRow(0));
        QCOMPARE(note(), QStringLiteral("Entry #3 (read-matrix) holds no parameter set."));
        QVERIFY(!take());

        QVERIFY(valves->selectRow(1));
        QCOMPARE(Rows(d.EntryList()),
                 (QList<QStringList>{{"Entry", "Time (UTC)", "Station", "User", "Action", "Result", "Error"},
                                     {"2", "2026-12-07T18:02:34Z", "line-3", "anna", "write-params",
                                      "incomplete (12 confirmed)", "the valve stopped answering"},
                                     {"1", "2026-12-07T18:02:30Z", "line-3", "anna", "backup", "ok", ""}}));
        // Two entries, the older first; then the backup against the project.
        QVERIFY(entries->selectRow(0) && entries->selectRow(1));
        QCOMPARE(Rows(d.DifferenceList()),
                 (QList<QStringList>{{"Parameter", "#1", "#2"}, {"PROPORTIONAL_GAIN", "1.37", "0.80"}}));
        QVERIFY(!take());
        QVERIFY(entries->unselectRow(0));
        QCOMPARE(Rows(d.DifferenceList()),
                 (QList<QStringList>{{"Parameter", "#1", "Project"}, {"PROPORTIONAL_GAIN", "1.37", "2.50"}}));
        QVERIFY(take());

        QVERIFY(!p.frame->ProjectModified());
        Accessible(d.TakeButton())->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(Until([&] { return p.frame->ProjectModified(); }));
        QCOMPARE(std::memcmp(&p.state.params.EditBlock, SetWithGain(1.37f).data(), sizeof(ParameterBlock)),
                 0);
        QCOMPARE(d.DifferenceList()->rowCount(), 0);
        QCOMPARE(note(), QStringLiteral("No differences: #1 and Project hold the same values."));
    });
    QVERIFY(seen);
    // Still an outbox after the dialog read it: both wait for delivery.
    const std::optional<std::vector<OutboxEntry>> waiting = ReadOutbox(outboxPath, &error);
    QVERIFY2(waiting, error.c_str());
    QCOMPARE(waiting->size(), size_t(2));
}

void ValveHistoryTest::saysWhyThereIsNoHistory() {
    const struct {
        const char *what, *comIni, *database; // the file's bytes, or nullptr for none
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
        {"damaged", "", "Not a database: only a page of notes where the history's file should be.\n",
         "The valve history cannot be shown: the history database ",
         ". Restore the database from a backup, or move the file aside so that a new one is started."}};
    for (const auto& c : cases) {
        Program p({false, false, true}, nullptr, "", "off", c.comIni);
        const std::string file = p.dir.filePath("QLN_history.db").toStdString();
        if (c.database) std::ofstream(file) << c.database;
        const bool seen = WithHistoryDialog(*p.frame, [&](CValveHistoryDialog& d) {
            const QString line = d.ProblemLine()->text();
            QVERIFY2(d.ProblemLine()->isVisible() && line.startsWith(QString::fromLatin1(c.begins)) &&
                         line.endsWith(QString::fromLatin1(c.ends)),
                     qPrintable(QString::fromLatin1(c.what) + ": " + line));
            QCOMPARE(d.ValveList()->rowCount() + d.EntryList()->rowCount(), 0);
            QVERIFY(d.OutboxLine()->isHidden());
            QVERIFY(!d.TakeButton()->isEnabled());
        });
        QVERIFY2(seen, c.what);
        QCOMPARE(QFile::exists(QString::fromStdString(file)), c.database != nullptr);
    }
    // A path or a server's message is shown as the text it is, never read as markup.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("<b>line.db"));
    std::ofstream(path.toStdString()) << "Not a database.\n";
    Program p({false, false, true}, nullptr, "", "off", "[HISTORY]\nDATABASE=sqlite:" + path.toStdString());
    QVERIFY(WithHistoryDialog(*p.frame, [&](CValveHistoryDialog& d) {
        const QString shown = Accessible(d.ProblemLine())->text(QAccessible::Name);
        QVERIFY2(shown.contains(path + " cannot be"), qPrintable(shown));
    }));
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
