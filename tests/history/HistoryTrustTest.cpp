// What makes the history trustworthy: the chain, the migration of version-1 databases, and, on a
// PostgreSQL server with password authentication, the roles, errors by kind and the quarantine.
#include "history/HistoryChain.h"
#include "history/HistoryTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <regex>

using namespace qln_test;
using Kind = HistoryTarget::Kind;

namespace {

TEST(HistoryChain, Sha256MatchesTheStandardsExamples) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

std::optional<ChainBreak> Verify(HistoryStore& store) {
    std::string error;
    std::optional<std::pair<int64_t, std::string>> head;
    const std::vector<HistoryEntry> chain = store.Chain(&head, &error);
    EXPECT_EQ(error, "");
    std::optional<ChainMark> mark;
    if (head) mark = ChainMark{head->first, head->second};
    return CheckChain(chain, mark, std::nullopt);
}

class HistorySqliteTrust : public HistoryTest {};

// A version-1 file (as the earlier program made it) is migrated at its next opening: every entry
// stays as it was, the chain is laid over them and goes on, and entries cannot be changed.
TEST_P(HistorySqliteTrust, MigratesVersion1KeepingEveryEntryAndRefusesChanges) {
    const HistoryTarget target{Kind::Sqlite, dir_ + "/old.db"};
    const std::string columns =
        "id, uid, time_utc, station, user_name, program_version, port, device, serial, "
        "part, firmware, action, error_text, result, confirmed, parameters, matrix";
    {
        auto sql = Connect(target);
        *sql << "CREATE TABLE schema_version (version INTEGER NOT NULL)";
        *sql << "INSERT INTO schema_version VALUES (1)";
        *sql
            << "CREATE TABLE history_entries (id INTEGER PRIMARY KEY, uid TEXT NOT NULL, time_utc TEXT NOT "
               "NULL, "
               "station TEXT NOT NULL, user_name TEXT NOT NULL, program_version TEXT NOT NULL, port TEXT NOT "
               "NULL, device TEXT NOT NULL, serial TEXT NOT NULL, part TEXT NOT NULL, firmware TEXT NOT "
               "NULL, "
               "action TEXT NOT NULL, error_text TEXT NOT NULL, result TEXT NOT NULL, confirmed INTEGER NOT "
               "NULL, parameters TEXT NOT NULL, matrix TEXT NOT NULL, UNIQUE (uid))";
        *sql << "INSERT INTO history_entries VALUES (3, '0123456789abcdef0123456789abcdef', "
                "'2026-12-01T10:00:00Z', "
                "'st', 'u', '1.0', 'COM1', '/dev/x', 'A1', 'P', 'V1', 'backup', '', 'ok', -1, 'ff00', '')";
        *sql << "INSERT INTO history_entries VALUES (7, 'fedcba9876543210fedcba9876543210', "
                "'2026-12-02T10:00:00Z', "
                "'st', 'u', '1.0', 'COM2', '/dev/y', 'A1', 'P', 'V1', 'write-params', 'lost: \"x\"', "
                "'incomplete', 12, '', '0a0b')";
    }
    // Every column of every row as text, byte for byte.
    auto rows = [&] {
        std::string joined = columns;
        for (size_t at = joined.find(", "); at != std::string::npos; at = joined.find(", ", at))
            joined.replace(at, 2, " || '|' || ");
        std::vector<std::string> all(2);
        *Connect(target) << "SELECT " + joined + " FROM history_entries ORDER BY id", soci::into(all);
        return all;
    };
    const std::vector<std::string> before = rows();
    std::string error;
    auto store = HistoryStore::Open(target, nullptr, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(rows(), before);
    HistoryEntry next = Entries(1)[0];
    ASSERT_TRUE(store->Add(next, &error)) << error;
    EXPECT_EQ(next.id, 8);
    EXPECT_FALSE(Verify(*store));
    for (const char* change : {"UPDATE history_entries SET serial = 'B2' WHERE id = 3",
                               "DELETE FROM history_entries WHERE id = 8"})
        EXPECT_THROW(*Connect(target) << change, soci::soci_error) << change;

    // Whoever drops the triggers to change an entry is found out by the chain.
    *Connect(target) << "DROP TRIGGER history_entries_no_update";
    *Connect(target) << "UPDATE history_entries SET confirmed = 34 WHERE id = 7";
    const std::optional<ChainBreak> broken = Verify(*store);
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->id, 7);
}

// Another program's database is never written to; a path that holds a quote is not opened.
TEST_P(HistorySqliteTrust, RefusesAFileThatIsNoValveHistory) {
    const HistoryTarget other{Kind::Sqlite, dir_ + "/other.db"};
    *Connect(other) << "CREATE TABLE customers (name TEXT)";
    // An outbox named as the history (its entries wait there) is not made one.
    std::string error, notice;
    HistoryRecorder waiting({Kind::Unusable, "no database"}, outbox_);
    HistoryOpenFailure failure = HistoryOpenFailure::None;
    ASSERT_TRUE(waiting.Open(&failure, &error) && waiting.Record(NewHistoryEntry("backup"), &notice, &error));
    for (const HistoryTarget& t :
         {other, HistoryTarget{Kind::Sqlite, outbox_}, HistoryTarget{Kind::Sqlite, dir_ + "/a\"b.db"}}) {
        EXPECT_FALSE(HistoryStore::Open(t, &failure, &error));
        EXPECT_EQ(failure, HistoryOpenFailure::Damaged);
        EXPECT_NE(error.find(t.location), std::string::npos) << error;
    }
    long long tables = 0;
    *Connect(other) << "SELECT count(*) FROM sqlite_master", soci::into(tables);
    EXPECT_EQ(tables, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/a\"b.db"));
    EXPECT_EQ(ReadOutbox(outbox_, &error)->size(), 1u);
}

// Each job leaves its entries in the file itself: a copy of the file alone holds them all, and a
// log deleted between jobs loses nothing and does not restart the ids.
TEST_P(HistorySqliteTrust, TheFileAloneIsTheHistoryAfterEveryJob) {
    const HistoryTarget target{Kind::Sqlite, dir_ + "/QLN_history.db"};
    for (int job = 1; job <= 3; ++job) {
        HistoryRecorder recorder(target, outbox_);
        HistoryOpenFailure failure;
        std::string error, notice;
        ASSERT_TRUE(recorder.Open(&failure, &error) && recorder.Record(Entries(1)[0], &notice, &error))
            << error;
        recorder = HistoryRecorder(target, outbox_); // the job ends: its connection closes
        std::filesystem::copy_file(target.location, dir_ + "/copy.db",
                                   std::filesystem::copy_options::overwrite_existing);
        EXPECT_EQ(Count({Kind::Sqlite, dir_ + "/copy.db"}, "*"), job);
        std::filesystem::remove(target.location + "-wal");
    }
    std::string error;
    auto store = HistoryStore::Open(target, nullptr, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->List(std::nullopt, &error).front().id, 3);
    EXPECT_FALSE(Verify(*store));
}

INSTANTIATE_TEST_SUITE_P(File, HistorySqliteTrust, testing::Values(Kind::Sqlite), KindName);

} // namespace
