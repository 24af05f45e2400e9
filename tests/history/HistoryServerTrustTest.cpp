// A line's PostgreSQL server as its administrator runs it: the history set up by its owner,
// stations and auditors as login roles with passwords (SCRAM) from libpq's password file.
#include "history/HistoryChain.h"
#include "history/HistorySchema.h"
#include "history/HistoryTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace qln_test;
using Kind = HistoryTarget::Kind;

namespace {

class HistoryServer : public HistoryTest {
protected:
    void SetUp() override {
        HistoryTest::SetUp();
        if (!Pg().Error().empty()) GTEST_SKIP() << Pg().Error();
        static bool roles = false;
        admin_ = Fresh("line");
        if (!roles) {
            *Connect(admin_) << "CREATE ROLE station1 LOGIN PASSWORD 'pw-station' IN ROLE qln_station";
            *Connect(admin_) << "CREATE ROLE auditor1 LOGIN PASSWORD 'pw-auditor' IN ROLE qln_auditor";
            roles = true;
        }
        Passwords("pw-station");
        station_ = {Kind::Postgres, PgServer::As(admin_.location, "station1")};
    }
    void TearDown() override {
        Pg().Start(); // whatever the test left
        ::unsetenv("PGPASSFILE");
        HistoryTest::TearDown();
    }
    // libpq's password file, as a line keeps it: the station's password is never in a URI.
    void Passwords(const std::string& station) {
        const std::string file = dir_ + "/pgpass";
        std::ofstream(file) << "*:*:*:station1:" << station << "\n*:*:*:auditor1:pw-auditor\n";
        std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_write);
        ::setenv("PGPASSFILE", file.c_str(), 1);
    }
    std::optional<ChainBreak> Verify(const std::optional<ChainMark>& anchor = std::nullopt) {
        std::string error;
        auto store = HistoryStore::Open(admin_, nullptr, &error);
        EXPECT_TRUE(store) << error;
        std::optional<std::pair<int64_t, std::string>> head;
        const std::vector<HistoryEntry> chain = store->Chain(&head, &error);
        std::optional<ChainMark> mark;
        if (head) mark = ChainMark{head->first, head->second};
        return CheckChain(chain, mark, anchor);
    }
    // Records n entries as the station, each as a job.
    void Record(int n) {
        for (int i = 0; i < n; ++i) {
            HistoryRecorder recorder(station_, outbox_);
            HistoryOpenFailure failure;
            std::string error, notice;
            HistoryEntry e = NewHistoryEntry("read-params");
            e.serial = "L" + std::to_string(i);
            ASSERT_TRUE(recorder.Open(&failure, &error) && recorder.Record(e, &notice, &error)) << error;
            ASSERT_EQ(notice, "");
        }
    }
    std::string Sqlstate(const HistoryTarget& as, const std::string& statement) {
        try {
            *Connect(as) << statement;
        } catch (const soci::postgresql_soci_error& e) {
            return e.sqlstate();
        }
        return "none";
    }
    std::optional<std::vector<OutboxEntry>> Outbox() {
        std::string error;
        auto entries = ReadOutbox(outbox_, &error);
        EXPECT_TRUE(entries) << error;
        return entries;
    }

    HistoryTarget admin_, station_;
};

// The station appends; the server stamps who, when and from where; nobody but the owner's
// triggers may change what is there, and an auditor may only read.
TEST_P(HistoryServer, AStationMayOnlyAppendAndTheServerStampsItsEntries) {
    Record(2);
    std::string error;
    auto store = HistoryStore::Open(station_, nullptr, &error);
    ASSERT_TRUE(store) << error;
    const std::vector<HistoryEntry> list = store->List(std::nullopt, &error);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].recordedBy, "station1");
    EXPECT_EQ(list[0].clientAddress, "local");
    EXPECT_GT(list[0].recordedAt, list[1].recordedAt);
    const HistoryTarget auditor{Kind::Postgres, PgServer::As(admin_.location, "auditor1")};
    const struct {
        const HistoryTarget* as;
        const char* statement;
    } refused[] = {
        {&station_, "UPDATE qln.history_entries SET serial = 'X'"},
        {&station_, "DELETE FROM qln.history_entries"},
        {&station_, "TRUNCATE qln.history_entries"},
        {&station_, "UPDATE qln.chain_head SET last_id = 0"},
        {&station_, "CREATE TABLE qln.x (a int)"},
        {&auditor, "INSERT INTO qln.history_entries (uid) VALUES ('x')"},
        {&admin_, "DELETE FROM qln.history_entries"}, // even the owner's own triggers refuse
    };
    for (const auto& r : refused)
        EXPECT_EQ(Sqlstate(*r.as, r.statement), "42501") << r.statement;
    EXPECT_FALSE(Verify());
}

// A station on a database nobody has set up creates nothing there (the server's log shows no
// statement of it that makes a table): its entry waits in the outbox, and a station that
// requires recording refuses the job.
TEST_P(HistoryServer, AStationOnADatabaseNotSetUpCreatesNothing) {
    const auto logFrom = std::filesystem::file_size(Pg().LogPath());
    const HistoryTarget empty{Kind::Postgres, PgServer::As(Pg().NewDatabase("empty"), "station1")};
    HistoryRecorder required(empty, outbox_, true);
    HistoryOpenFailure failure = HistoryOpenFailure::None;
    std::string error, notice;
    EXPECT_FALSE(required.Open(&failure, &error));
    EXPECT_EQ(failure, HistoryOpenFailure::NotSetUp);
    EXPECT_NE(error.find("ask its administrator to run qln-cli history setup"), std::string::npos) << error;
    HistoryRecorder recorder(empty, outbox_);
    ASSERT_TRUE(recorder.Open(&failure, &error));
    ASSERT_TRUE(recorder.Record(NewHistoryEntry("backup"), &notice, &error)) << error;
    EXPECT_NE(notice.find("waits in the outbox"), std::string::npos) << notice;
    ASSERT_EQ(Outbox()->size(), 1u);
    EXPECT_EQ(Outbox()->front().quarantined, "");
    std::ifstream log(Pg().LogPath());
    log.seekg(static_cast<std::streamoff>(logFrom));
    std::string line;
    while (std::getline(log, line))
        EXPECT_NE(line.rfind("station1:", 0) == 0 && line.find("statement:") != std::string::npos, true)
            << line;
}

// Every forgery by someone who gets round the triggers (a superuser) is named by the check.
TEST_P(HistoryServer, VerifyNamesEveryForgery) {
    const struct {
        const char* what;
        const char* forgery;
        int64_t named;
    } cases[] = {
        {"an entry changed", "UPDATE qln.history_entries SET serial = 'X' WHERE id = 2", 2},
        {"a middle entry deleted", "DELETE FROM qln.history_entries WHERE id = 2", 3},
        {"the newest entry deleted", "DELETE FROM qln.history_entries WHERE id = 4", 4},
    };
    for (const auto& c : cases) {
        admin_ = Fresh("forged");
        station_ = {Kind::Postgres, PgServer::As(admin_.location, "station1")};
        Record(4);
        ASSERT_FALSE(Verify()) << c.what;
        auto sql = Connect(admin_);
        *sql << "SET session_replication_role = replica";
        *sql << c.forgery;
        const std::optional<ChainBreak> broken = Verify();
        ASSERT_TRUE(broken) << c.what;
        EXPECT_EQ(broken->id, c.named) << c.what << ": " << broken->reason;
    }
    // A chain rewritten from entry 2 on, head and all, holds in itself; the head a verification
    // showed before does not.
    std::string error;
    auto store = HistoryStore::Open(admin_, nullptr, &error);
    std::optional<std::pair<int64_t, std::string>> head;
    admin_ = Fresh("rewritten");
    station_ = {Kind::Postgres, PgServer::As(admin_.location, "station1")};
    Record(4);
    store = HistoryStore::Open(admin_, nullptr, &error);
    const ChainMark verified{4, store->Chain(&head, &error).back().hash};
    auto sql = Connect(admin_);
    *sql << "SET session_replication_role = replica";
    *sql << "DO $$ DECLARE r qln.history_entries; prev text; BEGIN "
            "SELECT hash INTO prev FROM qln.history_entries WHERE id = 1; "
            "FOR r IN SELECT * FROM qln.history_entries WHERE id >= 2 ORDER BY id LOOP "
            "IF r.id = 2 THEN r.serial := 'X'; END IF; r.prev_hash := prev; r.hash := qln.entry_hash(r); "
            "UPDATE qln.history_entries SET serial = r.serial, prev_hash = r.prev_hash, hash = r.hash WHERE "
            "id = r.id; "
            "prev := r.hash; END LOOP; UPDATE qln.chain_head SET last_hash = prev; END $$";
    EXPECT_FALSE(Verify());
    const std::optional<ChainBreak> broken = Verify(verified);
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->id, 4);
}

// Only a server out of reach sends an entry to wait in the outbox; a refusal (a wrong password)
// keeps it in the quarantine with the server's reason.
TEST_P(HistoryServer, ErrorsAreTakenByTheirKind) {
    const struct {
        const char* what;
        std::function<void()> cause;
        HistoryOpenFailure kind;
        const char* reason;
    } cases[] = {
        {"wrong password", [&] { Passwords("wrong"); }, HistoryOpenFailure::Refused,
         "password authentication failed"},
        {"server stopped", [&] { Pg().Stop(); }, HistoryOpenFailure::Unreachable, ""},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(outbox_);
        c.cause();
        HistoryRecorder required(station_, outbox_, true);
        HistoryOpenFailure failure = HistoryOpenFailure::None;
        std::string error, notice;
        EXPECT_FALSE(required.Open(&failure, &error)) << c.what;
        EXPECT_EQ(failure, c.kind) << c.what << ": " << error;
        HistoryRecorder recorder(station_, outbox_);
        ASSERT_TRUE(recorder.Open(&failure, &error) &&
                    recorder.Record(NewHistoryEntry("backup"), &notice, &error))
            << error;
        ASSERT_EQ(Outbox()->size(), 1u) << c.what;
        EXPECT_NE(Outbox()->front().quarantined.find(c.reason), std::string::npos) << c.what;
        EXPECT_EQ(Outbox()->front().quarantined.empty(), c.kind != HistoryOpenFailure::Refused) << c.what;
        Passwords("pw-station");
        Pg().Start();
    }
}

// An entry the server rejects (a text that is not UTF-8) or that no store may take (no uid, a uid
// held with other content) is kept back; the entries after it arrive, and it is not tried again.
TEST_P(HistoryServer, ARejectedEntryIsQuarantinedAndTheOthersArrive) {
    Record(1);
    std::string error;
    auto stored = HistoryStore::Open(admin_, nullptr, &error)->List(std::nullopt, &error);
    std::vector<HistoryEntry> entries = Entries(5);
    entries[1].station = "bad\xff";
    entries[2].uid = "";
    entries[3].uid = stored.front().uid;
    {
        auto outbox =
            SociHistoryStore::Open({Kind::Sqlite, outbox_}, nullptr, &error, SociHistoryStore::Role::Outbox);
        ASSERT_TRUE(outbox) << error;
        for (HistoryEntry& e : entries)
            ASSERT_TRUE(outbox->Add(e, &error) || e.uid.empty()) << error;
    }
    for (int job = 0; job < 2; ++job) {
        HistoryRecorder recorder(station_, outbox_);
        HistoryOpenFailure failure;
        ASSERT_TRUE(recorder.Open(&failure, &error));
    }
    EXPECT_EQ(Count(admin_, "*"), 3);
    const auto kept = Outbox();
    ASSERT_EQ(kept->size(), 2u);
    EXPECT_NE(kept->at(0).quarantined.find("UTF8"), std::string::npos) << kept->at(0).quarantined;
    EXPECT_NE(kept->at(1).quarantined.find("holds another entry with the uid"), std::string::npos);
}

// A writer killed between the store's commit and the outbox's delete: the next run finds the entry
// stored with the same content and only removes it from the outbox.
TEST_P(HistoryServer, AWriterKilledAfterTheCommitLeavesOneEntry) {
    std::string error;
    HistoryEntry e = Entries(1)[0];
    SociHistoryStore::Open({Kind::Sqlite, outbox_}, nullptr, &error, SociHistoryStore::Role::Outbox)
        ->Add(e, &error);
    ValveProcess writer(QLN_HISTORY_WRITER_PATH, {station_.location, outbox_, "1", "K", "die-after-delivery"},
                        true, false);
    ASSERT_EQ(writer.WaitExit(std::chrono::seconds(60)), 3);
    EXPECT_EQ(Outbox()->size(), 1u);
    HistoryRecorder next(station_, outbox_);
    HistoryOpenFailure failure;
    ASSERT_TRUE(next.Open(&failure, &error));
    EXPECT_EQ(Count(admin_, "*"), 1);
    EXPECT_EQ(Outbox()->size(), 0u);
}

// A version-1 history, as stations made it in their own schema, moves into the administrator's
// schema with every column of every entry as it was; the chain is laid over it and goes on.
TEST_P(HistoryServer, SetupMigratesAVersion1HistoryKeepingEveryEntry) {
    const HistoryTarget old{Kind::Postgres, Pg().NewDatabase("old")};
    const std::string columns =
        "id::text || '|' || uid || '|' || time_utc || '|' || station || '|' || user_name "
        "|| '|' || device || '|' || serial || '|' || error_text || '|' || result || '|' || "
        "confirmed::text || '|' || parameters || '|' || matrix";
    {
        auto sql = Connect(old);
        *sql << "CREATE TABLE schema_version (version INTEGER NOT NULL)";
        *sql << "INSERT INTO schema_version VALUES (1)";
        *sql << CreateEntriesTableV1("history_entries", "BIGSERIAL PRIMARY KEY");
        // Ids with a gap, as a sequence leaves them after a failed insert.
        for (const char* id : {"1", "4"})
            *sql << std::string("INSERT INTO history_entries VALUES (") + id + ", '" + std::string(31, 'a') +
                        id + "', '2026-12-0" + id +
                        "T10:00:00Z', 'st', 'u', '1.0', 'COM1', '/dev/ttyUSB0', 'A1', 'P', 'V1', "
                        "'write-params', 'lost: \"x\"', 'incomplete', 12, 'ff00', '0a')";
    }
    std::vector<std::string> before(2), after(2);
    *Connect(old) << "SELECT " + columns + " FROM history_entries ORDER BY id", soci::into(before);
    std::string error;
    ASSERT_TRUE(SetUpHistory(old, &error)) << error;
    *Connect(old) << "SELECT " + columns + " FROM qln.history_entries ORDER BY id", soci::into(after);
    EXPECT_EQ(after, before);
    const HistoryTarget station{Kind::Postgres, PgServer::As(old.location, "station1")};
    auto store = HistoryStore::Open(station, nullptr, &error);
    ASSERT_TRUE(store) << error;
    HistoryEntry next = Entries(1)[0];
    ASSERT_TRUE(store->Add(next, &error)) << error;
    EXPECT_EQ(next.id, 5);
    admin_ = old;
    EXPECT_FALSE(Verify());
}

// A lock an administrator holds ends the job at the station's time limit; the entry waits.
TEST_P(HistoryServer, AHeldLockEndsTheJobWithinItsLimit) {
    auto admin = Connect(admin_);
    *admin << "BEGIN";
    *admin << "LOCK TABLE qln.history_entries IN ACCESS EXCLUSIVE MODE";
    const HistoryTarget limited{Kind::Postgres, station_.location + "&options=-c%20lock_timeout%3D200"};
    HistoryRecorder recorder(limited, outbox_);
    HistoryOpenFailure failure;
    std::string error, notice;
    ASSERT_TRUE(recorder.Open(&failure, &error) &&
                recorder.Record(NewHistoryEntry("backup"), &notice, &error));
    EXPECT_NE(notice.find("lock"), std::string::npos) << notice;
    EXPECT_EQ(Outbox()->size(), 1u);
    *admin << "ROLLBACK";
}

INSTANTIATE_TEST_SUITE_P(Line, HistoryServer, testing::Values(Kind::Postgres), KindName);

} // namespace
