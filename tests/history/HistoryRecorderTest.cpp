#include "history/HistoryTestSupport.h"

#include <mutex>
#include <set>

#include "history/HistoryWriter.h"

using namespace qln_test;

namespace {

class HistoryOutbox : public HistoryTest {
protected:
    void TearDown() override {
        if (!Pg().Error().empty()) return;
        Pg().Start(); // whatever the test left
        HistoryTest::TearDown();
    }
    long long OutboxCount() { return Count({HistoryTarget::Kind::Sqlite, outbox_}, "*"); }
};

TEST_P(HistoryOutbox, KeepsEntriesWhileTheServerIsDownAndDeliversThemOnce) {
    const HistoryTarget target = Fresh("outbox");
    ASSERT_TRUE(HistoryStore::Open(target, nullptr, nullptr));
    ASSERT_TRUE(Pg().Stop());
    HistoryRecorder recorder(target, outbox_);
    HistoryOpenFailure failure;
    std::string error, notice;
    ASSERT_TRUE(recorder.Open(&failure, &error)) << error;
    EXPECT_EQ(recorder.Store(), nullptr);
    HistoryEntry backup = NewHistoryEntry("backup"), write = NewHistoryEntry("write-params");
    backup.time = "2026-12-07T18:02:34Z";
    ASSERT_TRUE(recorder.Record(backup, &notice, &error)) << error;
    EXPECT_NE(notice.find("outbox " + outbox_), std::string::npos) << notice;
    EXPECT_EQ(notice.find('\n'), std::string::npos);
    notice.clear();
    ASSERT_TRUE(recorder.Record(write, &notice, &error)) << error;
    EXPECT_EQ(notice, "") << "told once per job";
    EXPECT_EQ(OutboxCount(), 2);

    // Back: the next job delivers, oldest first, with the entries' own times.
    ASSERT_TRUE(Pg().Start());
    HistoryRecorder next(target, outbox_);
    ASSERT_TRUE(next.Open(&failure, &error)) << error;
    ASSERT_NE(next.Store(), nullptr);
    const std::vector<HistoryEntry> stored = next.Store()->List(std::nullopt, &error);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[1].time, "2026-12-07T18:02:34Z");
    EXPECT_EQ(stored[1].action, "backup");
    EXPECT_LT(stored[1].id, stored[0].id);
    EXPECT_EQ(OutboxCount(), 0);

    // Stored, then a crash before the outbox lost it: delivered again, stored still once.
    HistoryEntry twice = NewHistoryEntry("setpoint");
    ASSERT_TRUE(next.Store()->Add(twice, &error));
    ASSERT_TRUE(SociHistoryStore::Open({HistoryTarget::Kind::Sqlite, outbox_}, nullptr, &error,
                                       SociHistoryStore::Role::Outbox)
                    ->Add(twice, &error));
    EXPECT_TRUE(next.Deliver(&error)) << error;
    EXPECT_EQ(Count(target, "*"), 3);
    EXPECT_EQ(OutboxCount(), 0);
}

// Eight stations writing while the server is stopped and started again: every entry arrives,
// none twice.
TEST_P(HistoryOutbox, ServerRestartedDuringARunLosesNothing) {
    const HistoryTarget target = Fresh("restart");
    auto writers = Writers(target, 8, 40);
    auto waitFor = [&](int lines) {
        for (int i = 0; i < lines; ++i)
            ASSERT_FALSE(writers[0]->ReadLine(std::chrono::seconds(60)).empty());
    };
    waitFor(5);
    ASSERT_TRUE(Pg().Stop());
    waitFor(10);
    ASSERT_TRUE(Pg().Start());
    // A writer that fails says why on its output ("error: ..." or a sanitizer's report): show it.
    for (auto& w : writers)
        EXPECT_EQ(w->WaitExit(std::chrono::seconds(120)), 0) << w->ReadToEnd(std::chrono::seconds(5));
    HistoryRecorder last(target, outbox_);
    HistoryOpenFailure failure;
    std::string error;
    ASSERT_TRUE(last.Open(&failure, &error)) << error;
    EXPECT_EQ(OutboxCount(), 0);
    EXPECT_EQ(Count(target, "*"), 320);
    EXPECT_EQ(Count(target, "DISTINCT serial || '/' || firmware"), 320);
}

// The desktop's writer: a server out of reach is said once per job (not per entry), the next job
// that reaches it delivers the outbox, and what is handed over before the writer goes is stored.
TEST_P(HistoryOutbox, WriterTellsOncePerJobAndStoresAllBeforeItGoes) {
    const HistoryTarget target = Fresh("writer");
    ASSERT_TRUE(HistoryStore::Open(target, nullptr, nullptr));
    ASSERT_TRUE(Pg().Stop());
    std::mutex m;
    std::vector<std::string> reports;
    auto writer =
        std::make_unique<HistoryWriter>(target, outbox_, false, [&](const HistoryWriter::Report& r) {
            std::lock_guard<std::mutex> lock(m);
            // The notice carries why the server was not reached; the window words the line around it.
            const bool notice = r.kind == HistoryWriter::Report::Kind::Notice && !r.text.empty();
            reports.push_back(notice ? "notice" : "other: " + r.text);
        });
    writer->Submit(NewHistoryEntry("backup"), true);
    writer->Submit(NewHistoryEntry("write-params"), false);
    writer->Submit(NewHistoryEntry("read-params"), true);
    writer->Flush();
    EXPECT_EQ(reports, (std::vector<std::string>{"notice", "notice"}));
    EXPECT_EQ(OutboxCount(), 3);
    ASSERT_TRUE(Pg().Start());
    writer->Submit(NewHistoryEntry("setpoint"), true);
    writer->Submit(NewHistoryEntry("autotune"), true);
    writer.reset();
    EXPECT_EQ(Count(target, "*"), 5);
    EXPECT_EQ(OutboxCount(), 0);
    EXPECT_EQ(reports.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Server, HistoryOutbox, testing::Values(HistoryTarget::Kind::Postgres), KindName);

} // namespace
