// The valve history through qln-cli: real qln-valve programs on pseudo-terminals, real qln-cli
// processes and real SQLite files; the entries as `history --json` lists them.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>

#include "history/History.h"
#include "params/ParameterTable.h"
#include "project/ProjectFile.h"
#include "support/CliRunner.h"
#include "support/EngineHarness.h"
#include "support/LockstepClock.h"
#include "support/PgServer.h"
#include "support/ScriptedValve.h"
#include "system/Files.h"

using namespace qln_test;
using namespace std::chrono_literals;

namespace {
struct Output {
    int status;
    std::string text; // stdout, with stderr when asked for
};

// The real qln-cli, in the current folder.
Output QlnCli(std::vector<std::string> args, bool withStderr = false) {
    ValveProcess cli(QLN_CLI_PATH, std::move(args), withStderr, false);
    std::string text = cli.ReadToEnd(60s);
    return {cli.WaitExit(60s), std::move(text)};
}

// One entry of `history --json`.
struct Listed {
    long id;
    std::string serial, action, result, confirmed;
};
std::vector<Listed> Entries(const std::string& json) {
    static const std::regex entry(
        R"re(\{"id": (\d+), "time": "\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", "station": "[^"]*", )re"
        R"re("user": "[^"]+", "serial": "([^"]*)", "part": "[^"]*", "firmware": "[^"]*", )re"
        R"re("action": "([a-z-]+)", "result": "([a-z]+)", "confirmed": (null|\d+)\})re");
    std::vector<Listed> out;
    for (std::sregex_iterator i(json.begin(), json.end(), entry), end; i != end; ++i)
        out.push_back({std::stol((*i)[1]), (*i)[2], (*i)[3], (*i)[4], (*i)[5]});
    return out;
}

void Sql(const std::string& path, const char* statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

class CliHistory : public ::testing::Test {
protected:
    InTempFolder dir;
};
} // namespace

// The production line's held-out check: write a set, see the backup and the write, diff them, take
// the backup into a project, and write-params restores it. The entries carry the identity `info
// --json` prints.
TEST_F(CliHistory, WriteShowsBackupAndWriteThatDiffAndTheBackupRestoresTheValve) {
    ValveProcess valve({});
    ASSERT_FALSE(valve.SlavePath().empty());
    const std::vector<std::string> line = {"--device", valve.SlavePath(), "--history", "sqlite:line.db"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), line.begin(), line.end());
        return more;
    };
    ASSERT_EQ(QlnCli(with({"--history", "off", "read-params", "orig.QPJ"})).status, 0);
    const Output before = QlnCli(with({"--history", "off", "--json", "read-params"}));
    ProjectFile tuned;
    std::string error;
    ASSERT_TRUE(ReadProjectFile("orig.QPJ", tuned, &error)) << error;
    tuned.editBlock.PROPORTIONAL_GAIN = tuned.editBlock.PROPORTIONAL_GAIN == 1.5f ? 2.5f : 1.5f;
    ASSERT_TRUE(WriteProjectFile("tuned.qpj", tuned, &error)) << error;

    ASSERT_EQ(QlnCli(with({"write-params", "tuned.qpj"})).status, 0);
    const std::vector<Listed> entries = Entries(QlnCli(with({"--json", "history"})).text);
    ASSERT_EQ(entries.size(), 2u);
    const Listed& write = entries[0];
    const Listed& backup = entries[1];
    EXPECT_EQ(write.action, "write-params");
    EXPECT_EQ(write.result, "ok");
    EXPECT_EQ(write.confirmed, "34");
    EXPECT_EQ(backup.action, "backup");
    EXPECT_EQ(backup.result, "ok");
    EXPECT_EQ(backup.confirmed, "null");
    EXPECT_GT(write.id, backup.id);
    const std::string info = QlnCli(with({"--json", "info"})).text;
    EXPECT_NE(info.find("\"serial_number\": " + backup.serial + ","), std::string::npos) << info;
    EXPECT_EQ(Entries(QlnCli(with({"--json", "history", "--valve", backup.serial})).text).size(), 2u);
    EXPECT_TRUE(Entries(QlnCli(with({"--json", "history", "--valve", "no-such-valve"})).text).empty());

    EXPECT_EQ(QlnCli(with({"history", "show", std::to_string(backup.id), "--json"})).text, before.text);
    const Output diff =
        QlnCli(with({"history", "diff", std::to_string(backup.id), std::to_string(write.id)}));
    EXPECT_EQ(diff.status, 1);
    EXPECT_NE(diff.text.find("PROPORTIONAL_GAIN"), std::string::npos) << diff.text;
    EXPECT_EQ(QlnCli(with({"history", "diff", std::to_string(write.id), "tuned.qpj"})).status, 0);

    ASSERT_EQ(QlnCli(with({"history", "take", std::to_string(backup.id), "restore"})).status, 0);
    ASSERT_EQ(QlnCli(with({"write-params", "restore.QPJ"})).status, 0);
    EXPECT_EQ(QlnCli(with({"--history", "off", "diff", "orig.QPJ"})).status, 0);
    EXPECT_EQ(Entries(QlnCli(with({"--json", "history"})).text).size(), 4u);
}

// Eight stations write into one database at once: every entry is there, once, under its own id.
class CliHistoryLine : public CliHistory, public ::testing::WithParamInterface<bool> {};

TEST_P(CliHistoryLine, EightStationsAtOnceLoseNoEntryAndStoreNoneTwice) {
    constexpr int STATIONS = 8, JOBS = 3;
    std::unique_ptr<PgServer> pg;
    std::string database = "sqlite:line.db";
    if (GetParam()) {
        pg = std::make_unique<PgServer>();
        ASSERT_EQ(pg->Error(), "");
        database = pg->NewDatabase("line");
        // Set up by the line's administrator; running it again changes nothing.
        ASSERT_EQ(QlnCli({"history", "setup", database}).status, 0);
        ASSERT_EQ(QlnCli({"history", "setup", database}).status, 0);
    }
    std::vector<std::unique_ptr<ValveProcess>> valves, clis;
    for (int i = 0; i < STATIONS; ++i) {
        valves.push_back(std::make_unique<ValveProcess>(std::vector<std::string>{}));
        ASSERT_FALSE(valves.back()->SlavePath().empty());
    }
    for (int job = 0; job < JOBS; ++job) {
        for (const auto& valve : valves)
            clis.push_back(
                std::make_unique<ValveProcess>(QLN_CLI_PATH,
                                               std::vector<std::string>{"--device", valve->SlavePath(),
                                                                        "--history", database, "read-params"},
                                               true, false));
        for (auto& cli : clis) {
            const std::string out = cli->ReadToEnd(60s);
            ASSERT_EQ(cli->WaitExit(60s), 0) << out;
        }
        clis.clear();
    }
    const std::vector<Listed> entries = Entries(QlnCli({"--history", database, "--json", "history"}).text);
    ASSERT_EQ(entries.size(), static_cast<size_t>(STATIONS * JOBS));
    std::set<long> ids;
    for (const Listed& e : entries) {
        EXPECT_EQ(e.action, "read-params");
        EXPECT_EQ(e.result, "ok");
        ids.insert(e.id);
    }
    EXPECT_EQ(ids.size(), entries.size());
}
INSTANTIATE_TEST_SUITE_P(Databases, CliHistoryLine, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

// The server stopped in the middle of a line's run and started again: the jobs meanwhile run, each
// says once that its entry waits in the outbox, and the next job delivers them; nothing twice.
TEST_F(CliHistory, AServerStoppedAndStartedAgainGetsEveryEntryOnce) {
    PgServer pg;
    ASSERT_EQ(pg.Error(), "");
    const std::string database = pg.NewDatabase("line");
    ASSERT_EQ(QlnCli({"history", "setup", database}).status, 0);
    ValveProcess valve({});
    const std::vector<std::string> job = {"--device", valve.SlavePath(), "--history", database,
                                          "read-params"};
    ASSERT_EQ(QlnCli(job).status, 0);
    ASSERT_TRUE(pg.Stop());
    for (int i = 0; i < 2; ++i) {
        const Output r = QlnCli(job, true);
        EXPECT_EQ(r.status, 0) << r.text;
        EXPECT_EQ(CountOf(r.text, "qln-cli: "), 1u) << r.text;
        EXPECT_EQ(CountOf(r.text, "QLN_history_outbox.db"), 1u) << r.text;
    }
    EXPECT_EQ(CountOf(QlnCli({"history", "outbox", "--json"}).text, "\"quarantined\": false"), 2u);
    ASSERT_TRUE(pg.Start());
    ASSERT_EQ(QlnCli(job).status, 0);
    const std::vector<Listed> entries = Entries(QlnCli({"--history", database, "--json", "history"}).text);
    ASSERT_EQ(entries.size(), 4u);
    std::set<long> ids;
    for (const Listed& e : entries)
        ids.insert(e.id);
    EXPECT_EQ(ids.size(), 4u);
}

// The history records; it never decides. A database this program cannot use (a newer schema, a
// damaged file, a setting that names none, a folder where neither it nor the outbox can be made)
// does not stop the job: its entry waits in the outbox, or the user is told it was not recorded.
// Only a station that requires recording refuses the job, before the valve hears anything.
TEST_F(CliHistory, AnUnusableHistoryStopsAJobOnlyWhereRecordingIsRequired) {
    LockstepClock clock;
    ASSERT_EQ(RunCliCaptured({"--history", "sqlite:newer.db", "history"}, clock).status, 0);
    Sql("newer.db", "UPDATE schema_version SET version = version + 1");
    WriteWholeFile("damaged.db", std::string(4096, 'x'));
    struct Case {
        const char* comIni; // QLN_com.ini's [HISTORY] section
        bool blockFolder;   // the database and the outbox are folders: neither can be opened
        int status;         // qln-cli's exit status
        const char* said;   // on stderr
        bool outbox;        // the entry waits in the outbox
    };
    const Case cases[] = {
        {"DATABASE=sqlite:newer.db\n", false, 0, "schema version 3, newer than this program knows (2)", true},
        {"DATABASE=sqlite:damaged.db\n", false, 0, "the entry waits in the outbox ./QLN_history_outbox.db",
         true},
        {"DATABASE=mysql://db\n", false, 0, "[HISTORY] DATABASE=mysql://db", true},
        {"", true, 0, "entry of this job was not recorded, neither in the history nor in", false},
        {"DATABASE=sqlite:newer.db\nREQUIRED=1\n", false, 11, "Nothing was sent to the valve", false},
        {"DATABASE=mysql://db\nREQUIRED=yes\n", false, 11, "[HISTORY] REQUIRED=1", false},
        {"DATABASE=off\nREQUIRED=1\n", false, 11, "the history is off; this station requires", false},
        {"DATABASE=postgresql://station:SECRET@db/qln\n", false, 0,
         "DATABASE=postgresql://station:***@db/qln: the history database", true},
        {"DATABASE=postgresql://db/qln?password=SECRET\nREQUIRED=1\n", false, 11, "holds a password", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comIni);
        std::filesystem::remove_all("QLN_history_outbox.db");
        std::filesystem::remove_all("QLN_history.db");
        if (c.blockFolder) {
            std::filesystem::create_directory("QLN_history.db");
            std::filesystem::create_directory("QLN_history_outbox.db");
        }
        WriteWholeFile("QLN_com.ini", std::string("[HISTORY]\n") + c.comIni);
        ValveModel model;
        ScriptedValve valve(model.Behaviour(), clock);
        clock.ExpectMembers(LockstepClock::ENGINE_THREADS);
        // Not through RunCliCaptured, which turns the history off: QLN_com.ini names it here.
        std::ostringstream out, err;
        const CliRun r{RunCli({"--device", valve.SlavePath(), "read-params"}, clock, out, err), out.str(),
                       err.str()};
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("SECRET"), std::string::npos) << r.err;
        EXPECT_EQ(valve.RequestCount() > 0, c.status == 0);
        EXPECT_EQ(r.out.empty(), c.status != 0);
        EXPECT_EQ(IsRegularFile("QLN_history_outbox.db"), c.outbox);
    }
}

// The chain through the command line: intact after jobs, and an entry changed behind the program's
// back (its trigger dropped) is named, with exit status 12; the set-up's SQL is there to review.
TEST_F(CliHistory, VerifyNamesAChangedEntry) {
    ValveProcess valve({});
    const std::vector<std::string> job = {"--device", valve.SlavePath(), "--history", "sqlite:line.db",
                                          "read-params"};
    ASSERT_EQ(QlnCli(job).status, 0);
    ASSERT_EQ(QlnCli(job).status, 0);
    const Output intact = QlnCli({"--history", "sqlite:line.db", "--json", "history", "verify"});
    EXPECT_EQ(intact.status, 0);
    EXPECT_NE(intact.text.find("\"intact\": true, \"entries\": 2"), std::string::npos) << intact.text;
    Sql("line.db",
        "DROP TRIGGER history_entries_no_update; UPDATE history_entries SET serial = 'X' WHERE id = 1");
    const Output broken = QlnCli({"--history", "sqlite:line.db", "history", "verify"});
    EXPECT_EQ(broken.status, 12);
    EXPECT_NE(broken.text.find("broken at entry 1: entry 1 was changed"), std::string::npos) << broken.text;
    const Output script = QlnCli({"history", "setup", "--print"});
    EXPECT_EQ(script.status, 0);
    EXPECT_NE(script.text.find("CREATE ROLE qln_station NOLOGIN"), std::string::npos);
}

// On the command line (where every user sees it in ps) a password is a usage error, as is a SQLite
// path that would pass options to the database library; no message shows the password.
TEST_F(CliHistory, ACommandLineTargetWithAPasswordOrAnUnsafePathIsRefused) {
    LockstepClock clock;
    const struct {
        const char *target, *said;
    } cases[] = {
        {"postgresql://station:SECRET@db/qln?sslpassword=SECRET",
         "--history: the history database \"postgresql://station:***@db/qln?sslpassword=***\" holds a "
         "password"},
        {"sqlite:h.db\" vfs=unix-none", "\"sqlite:h.db\" vfs=unix-none\" holds a quotation mark"},
    };
    for (const auto& c : cases) {
        const CliRun r = RunCliCaptured({"--history", c.target, "history"}, clock);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("SECRET"), std::string::npos) << r.err;
    }
}

// What the database holds is not the program's text: it can neither print lines of its own nor send
// the terminal commands, a long name does not cut its line, and --json stays valid UTF-8.
TEST_F(CliHistory, DatabaseTextsCannotForgeLinesOrTerminalCommands) {
    std::string error;
    auto store = HistoryStore::Open({HistoryTarget::Kind::Sqlite, "odd.db"}, nullptr, &error);
    ASSERT_TRUE(store) << error;
    HistoryEntry e = NewHistoryEntry("backup");
    e.time = "2026-12-07T18:02:34Z", e.serial = "A1\xff", e.part = "P\x1b[2J", e.firmware = "7";
    e.user = "anna\n    99  2026-12-07T18:00:00Z  serial FAKE";
    e.station = std::string(600, 's') + "\x9b\xc2\x9b";
    ASSERT_TRUE(store->Add(e, &error)) << error;
    LockstepClock clock;
    EXPECT_EQ(
        RunCliCaptured({"--history", "sqlite:odd.db", "history"}, clock).out,
        "     1  2026-12-07T18:02:34Z  serial A1\\xff     part P\\x1b[2J     fw 7   backup        ok     "
        "         anna\\n    99  2026-12-07T18:00:00Z  serial FAKE@" +
            std::string(600, 's') + "\\x9b\\u009b\n");
    const std::string json = RunCliCaptured({"--history", "sqlite:odd.db", "--json", "history"}, clock).out;
    EXPECT_NE(json.find("\"serial\": \"A1\xef\xbf\xbd\", \"part\": \"P\\u001b[2J\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("s\xef\xbf\xbd\xc2\x9b\", \"user\": \"anna\\n    99"), std::string::npos) << json;
}

// A signal in the middle of a write still leaves its entry: incomplete, with the count confirmed.
TEST_F(CliHistory, AWriteStoppedByASignalIsRecordedIncompleteWithTheCountConfirmed) {
    ProjectFile project;
    ResetProject(project);
    project.editBlock = DefaultParameterBlock();
    std::string error;
    ASSERT_TRUE(WriteProjectFile("p.qpj", project, &error)) << error;
    ValveModel model;
    LockstepClock clock;
    CliInterrupt interrupt;
    size_t writes = 0;
    ScriptedValve valve(
        [&](const std::vector<uint8_t>& r) {
            const bool write = r.size() == 4 && IsWritableRead(static_cast<uint8_t>(r[1] + 1));
            if (write && ++writes == 18) interrupt.Raise(SIGTERM);
            return model.Answer(r);
        },
        clock);
    clock.ExpectMembers(LockstepClock::ENGINE_THREADS);
    const CliRun r =
        RunCliCaptured({"--device", valve.SlavePath(), "--history", "sqlite:h.db", "write-params", "p.qpj"},
                       clock, &interrupt);
    EXPECT_EQ(r.status, 10) << r.err;
    const CliRun listed = RunCliCaptured({"--history", "sqlite:h.db", "--json", "history"}, clock);
    const std::vector<Listed> entries = Entries(listed.out);
    ASSERT_EQ(entries.size(), 2u) << listed.out;
    EXPECT_EQ(entries[0].action, "write-params");
    EXPECT_EQ(entries[0].result, "incomplete");
    EXPECT_EQ(entries[0].confirmed, "18");
    EXPECT_EQ(entries[1].action, "backup");
    EXPECT_EQ(entries[1].result, "ok");
}
