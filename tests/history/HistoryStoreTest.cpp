#include "history/HistoryTestSupport.h"

#include "engine/QlnState.h"
#include "history/JobEntry.h"

#include <csignal>
#include <pwd.h>
#include <regex>
#include <set>
#include <unistd.h>

using namespace qln_test;
using Kind = HistoryTarget::Kind;

namespace {

testing::Environment* const kPg = testing::AddGlobalTestEnvironment(new PgEnvironment);

TEST(HistoryTarget, ParsesTheThreeFormsAndRefusesTheRest) {
    const struct {
        const char* text;
        bool ok;
        Kind kind;
        const char* location;
    } cases[] = {
        {"off", true, Kind::Off, ""},
        {"sqlite:/var/qln/h.db", true, Kind::Sqlite, "/var/qln/h.db"},
        {"postgresql:///line?host=/run/pg&user=qln", true, Kind::Postgres,
         "postgresql:///line?host=/run/pg&user=qln"},
        {"postgres://db.example/line", true, Kind::Postgres, "postgres://db.example/line"},
        {"sqlite:", false, Kind::Off, ""},
        {"mysql://db/line", false, Kind::Off, ""},
        {"", false, Kind::Off, ""},
        {"OFF", false, Kind::Off, ""},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::optional<HistoryTarget> t = ParseHistoryTarget(c.text, &error);
        ASSERT_EQ(t.has_value(), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_NE(error.find("postgresql://"), std::string::npos) << c.text;
            continue;
        }
        EXPECT_EQ(t->kind, c.kind) << c.text;
        EXPECT_EQ(t->location, c.location) << c.text;
    }
    EXPECT_EQ(DefaultHistoryTarget("/opt/qln").location, "/opt/qln/QLN_history.db");
    EXPECT_EQ(OutboxPath("/opt/qln"), "/opt/qln/QLN_history_outbox.db");
}

// A password is refused wherever a target is given, and no message shows one, in whatever spelling
// it was written; a SQLite path that could end its value in the connection string is refused.
TEST(HistoryTarget, PasswordsAndUnsafePathsAreRefusedAndNeverShown) {
    const char* pgpass = "(~/.pgpass, or the file PGPASSFILE names), or name an entry of a connection "
                         "service file (service=NAME)";
    const char* form = "is none of off, sqlite:PATH and postgresql://...";
    const char* quote = "holds a quotation mark or a control character";
    const struct {
        const char* text;
        const char* shown; // how messages name it; nullptr: accepted
        const char* said;
    } cases[] = {
        {"postgresql://station@db.example/qln?sslmode=verify-full&sslrootcert=/etc/qln/ca.pem", nullptr, ""},
        {"postgresql://db:5432/qln?user=a@b&passfile=/etc/qln/pgpass", nullptr, ""},
        {"postgresql://station:SECRET@db/qln", "postgresql://station:***@db/qln", pgpass},
        {"postgresql://db/qln?sslpassword=SECRET&password=SECRET",
         "postgresql://db/qln?sslpassword=***&password=***", pgpass},
        {"postgres://db/qln?user=u&PassWord=SECRET", "postgres://db/qln?user=u&PassWord=***", pgpass},
        {"postgresql://db/qln?pass%77ord=SECRET&user=u", "postgresql://db/qln?pass%77ord=***&user=u", pgpass},
        {"postgresql://u:SE@CR/ET@db/qln?user=a@b", "postgresql://u:***@db/qln?user=a@b", pgpass},
        {"postgresq://u:SECRET@db/qln", "postgresq://u:***@db/qln", form},
        {"postgres:/u:SECRET@db", "postgres:/u:***@db", form},
        {"host=db password=SECRET user=u", "host=db password=***", form},
        {"sqlite:/var/qln/a=b c.db", nullptr, ""},
        {"sqlite:/tmp/h.db\" vfs=unix-none", "sqlite:/tmp/h.db\" vfs=unix-none", quote},
        {"sqlite:/tmp/h\n.db", "sqlite:/tmp/h\n.db", quote},
        {"sqlite: h=1.db", "sqlite: h=1.db", "begins with a blank"},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::optional<HistoryTarget> t = ParseHistoryTarget(c.text, &error);
        ASSERT_EQ(t.has_value(), c.shown == nullptr) << c.text << ": " << error;
        if (t) continue;
        EXPECT_NE(error.find(std::string("\"") + c.shown + "\" "), std::string::npos) << error;
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
        EXPECT_EQ(error.find("SECRET"), std::string::npos) << error;
        if (c.said == pgpass) {
            EXPECT_EQ(HistoryTargetName({Kind::Postgres, c.text}), c.shown);
        }
    }
}

TEST(HistoryEntry, NewEntryNamesTheTimeStationRealUserAndVersion) {
    using namespace std::chrono;
    EXPECT_EQ(FormatHistoryTime(system_clock::from_time_t(1796666554)), "2026-12-07T18:02:34Z");
    EXPECT_EQ(FormatHistoryTime(system_clock::from_time_t(951782400) + milliseconds(999)),
              "2000-02-29T00:00:00Z");

    ::setenv("USER", "someone-else", 1);
    const HistoryEntry e = NewHistoryEntry("backup");
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(e.user, ::getpwuid(::getuid())->pw_name);
    EXPECT_EQ(e.station, host);
    EXPECT_EQ(e.programVersion, "1.1");
    EXPECT_EQ(e.action, "backup");
    EXPECT_TRUE(std::regex_match(e.time, std::regex(R"(20\d\d-\d\d-\d\dT\d\d:\d\d:\d\dZ)"))) << e.time;
    EXPECT_TRUE(std::regex_match(e.uid, std::regex("[0-9a-f]{32}"))) << e.uid;
    EXPECT_NE(NewHistoryEntry("backup").uid, e.uid);
}

TEST_P(HistoryTest, StoresListsAndGivesBackEveryField) {
    const HistoryTarget target = Fresh("roundtrip");
    HistoryOpenFailure failure;
    std::string error;
    std::unique_ptr<HistoryStore> store = HistoryStore::Open(target, &failure, &error);
    ASSERT_TRUE(store) << error;
    const struct {
        const char* time;
        const char* serial;
        const char* part;
        HistoryResult result;
        int confirmed;
    } rows[] = {
        {"2026-12-07T18:02:34Z", "A100", "P-1", HistoryResult::Ok, -1},
        {"2026-12-05T08:00:00Z", "A100", "P-0", HistoryResult::Incomplete, 34},
        {"2026-12-06T09:30:00Z", "B200", "P-2", HistoryResult::Failed, -1},
    };
    std::set<int64_t> ids;
    for (const auto& r : rows) {
        HistoryEntry e = NewHistoryEntry("write-params");
        e.time = r.time, e.serial = r.serial, e.part = r.part, e.result = r.result, e.confirmed = r.confirmed;
        e.port = "COM1", e.device = "/dev/serial/by-id/usb-x", e.firmware = "V1.23", e.error = "no 'answer'";
        for (int i = 0; i < 620; ++i)
            e.parameters.push_back(static_cast<uint8_t>(i * 7));
        e.matrix = {0, 255, 16};
        ASSERT_TRUE(store->Add(e, &error)) << error;
        EXPECT_TRUE(ids.insert(e.id).second);
        const std::optional<HistoryEntry> back = store->Get(e.id, &error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(std::tie(back->uid, back->time, back->station, back->user, back->programVersion, back->port,
                           back->device, back->serial, back->part, back->firmware, back->action, back->error),
                  std::tie(e.uid, e.time, e.station, e.user, e.programVersion, e.port, e.device, e.serial,
                           e.part, e.firmware, e.action, e.error));
        EXPECT_EQ(back->result, r.result);
        EXPECT_EQ(back->confirmed, r.confirmed);
        EXPECT_EQ(back->parameters, e.parameters);
        EXPECT_EQ(back->matrix, e.matrix);
    }
    EXPECT_FALSE(store->Get(999999, &error));
    std::vector<std::string> times;
    for (const HistoryEntry& e : store->List(std::nullopt, &error))
        times.push_back(e.time);
    // By the time of recording, not by the time a station claims.
    EXPECT_EQ(times, (std::vector<std::string>{"2026-12-06T09:30:00Z", "2026-12-05T08:00:00Z",
                                               "2026-12-07T18:02:34Z"}));
    EXPECT_EQ(store->List("A100", &error).size(), 2u);
    const std::vector<HistoryValve> valves = store->Valves(&error);
    ASSERT_EQ(valves.size(), 2u);
    EXPECT_EQ(std::tie(valves[0].serial, valves[0].part, valves[0].lastSeen),
              std::make_tuple(std::string("A100"), std::string("P-0"), std::string("2026-12-05T08:00:00Z")));
    if (!Postgres()) {
        std::string mode;
        *Connect(target) << "PRAGMA journal_mode", soci::into(mode);
        EXPECT_EQ(mode, "wal");
    }
}

// Eight stations start at once on an empty database: the schema is made once, every entry is
// there, none twice, and the ids are unique.
// A device path is the system's bytes: one that is not UTF-8 (or an error with a NUL) is kept
// escaped, so that PostgreSQL, which refuses such text, takes the entry like SQLite.
TEST_P(HistoryTest, TextThatIsNotUtf8IsStoredEscaped) {
    std::string error;
    std::unique_ptr<HistoryStore> store = HistoryStore::Open(Fresh("bytes"), nullptr, &error);
    ASSERT_TRUE(store) << error;
    HistoryEntry job;
    job.device = "/dev/ttyUSB\xff\xc3(\xc3\xbc)";
    RealClock clock;
    const QlnState state(clock);
    HistoryEntry e =
        JobEntry(job, "setpoint", HistoryResult::Failed, -1, std::string("no\0answer", 9), state);
    ASSERT_TRUE(store->Add(e, &error)) << error;
    const std::optional<HistoryEntry> back = store->Get(e.id, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->device, "/dev/ttyUSB\\xff\\xc3(\xc3\xbc)");
    EXPECT_EQ(back->error, "no\\x00answer");
}

TEST_P(HistoryTest, EightStationsWriteAtOnceIntoAnEmptyDatabase) {
    const HistoryTarget target = Fresh("stations");
    auto writers = Writers(target, 8, 15);
    for (auto& w : writers)
        EXPECT_EQ(w->WaitExit(std::chrono::seconds(120)), 0) << w->ReadLine(std::chrono::seconds(1));
    EXPECT_EQ(Count(target, "*"), 120);
    EXPECT_EQ(Count(target, "DISTINCT serial || '/' || firmware"), 120);
    long long versions = 0;
    *Connect(target) << std::string("SELECT count(*) FROM ") + (Postgres() ? "qln." : "") + "schema_version",
        soci::into(versions);
    EXPECT_EQ(versions, 1);
    EXPECT_FALSE(std::filesystem::exists(outbox_));
}

// A schema from the future is never written to. A station that requires recording refuses the job;
// any other keeps the entry in the outbox for a program that knows the schema.
TEST_P(HistoryTest, NewerSchemaIsNeverWrittenAndRefusedOnlyWhenRecordingIsRequired) {
    const HistoryTarget target = Fresh("future");
    ASSERT_TRUE(HistoryStore::Open(target, nullptr, nullptr));
    *Connect(target) << std::string("UPDATE ") + (Postgres() ? "qln." : "") +
                            "schema_version SET version = 7";
    std::filesystem::file_time_type before{};
    if (!Postgres()) before = std::filesystem::last_write_time(target.location);

    HistoryRecorder required(target, outbox_, true);
    HistoryOpenFailure failure = HistoryOpenFailure::None;
    std::string error;
    EXPECT_FALSE(required.Open(&failure, &error));
    EXPECT_EQ(failure, HistoryOpenFailure::NewerSchema);
    EXPECT_NE(error.find("schema version 7, newer than this program knows (2)"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(outbox_));

    HistoryRecorder recorder(target, outbox_);
    ASSERT_TRUE(recorder.Open(&failure, &error));
    std::string notice;
    ASSERT_TRUE(recorder.Record(NewHistoryEntry("read-params"), &notice, &error)) << error;
    EXPECT_NE(notice.find("newer than this program knows (2); update qln"), std::string::npos) << notice;
    EXPECT_EQ(Count(target, "*"), 0);
    if (!Postgres()) {
        EXPECT_EQ(std::filesystem::last_write_time(target.location), before);
    }
    EXPECT_TRUE(std::filesystem::exists(outbox_));
}

INSTANTIATE_TEST_SUITE_P(Databases, HistoryTest, testing::Values(Kind::Sqlite, Kind::Postgres), KindName);

// A station killed in the middle of its writes, again and again: the file stays whole, and what
// was reported recorded is there.
TEST(HistorySqlite, SigkillDuringWritesKeepsTheFileIntact) {
    char dir[] = "/tmp/qln-history-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string db = std::string(dir) + "/QLN_history.db";
    long long reported = 0;
    for (int round = 0; round < 12; ++round) {
        ValveProcess writer(QLN_HISTORY_WRITER_PATH,
                            {"sqlite:" + db, std::string(dir) + "/outbox.db", "0", "K"}, true, false);
        for (int line = 0; line <= round % 4; ++line, ++reported)
            ASSERT_FALSE(writer.ReadLine(std::chrono::seconds(20)).empty()) << "round " << round;
        ::kill(writer.Pid(), SIGKILL);
        ASSERT_EQ(writer.WaitExit(std::chrono::seconds(10)), 128 + SIGKILL);
        std::string check;
        soci::session sql(*soci::factory_sqlite3(), db);
        sql << "PRAGMA integrity_check", soci::into(check);
        ASSERT_EQ(check, "ok") << "round " << round;
        long long stored = 0;
        sql << "SELECT count(*) FROM history_entries", soci::into(stored);
        ASSERT_GE(stored, reported) << "round " << round;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
