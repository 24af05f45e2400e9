#include <gtest/gtest.h>

#include "link/LinkTestSupport.h"

using namespace linktest;

namespace {
const Bytes kReadCmd2{STX, 0x02, 0x00, 0x02};
}

// The supervisor's state machine run pass by pass against a clock that moves only when told.
class LinkSupervisor : public ::testing::Test {
protected:
    void SetUp() override {
        SupervisorPass(s, 2);
        ASSERT_EQ(s.THREAD_STEP.load(), 2);
    }
    // Asks for a send and lets the supervisor hand it to the (here absent) transmitter.
    void StartSend() {
        RequestSend(s, kReadCmd2);
        SupervisorPass(s, 2);
        ASSERT_EQ(s.THREAD_STEP.load(), 4);
        ASSERT_EQ(s.TransmitPending.load(), 1u);
    }
    void StartReply(int32_t expected) {
        RequestReply(s, expected);
        SupervisorPass(s, 2);
        ASSERT_EQ(s.THREAD_STEP.load(), 6);
    }
    ManualClock clock;
    TracedLink link{clock};
    LinkState& s = *link.state;
};

TEST_F(LinkSupervisor, SendTimesOutAfter500msAndWithdrawsTheTelegram) {
    StartSend();
    clock.Advance(499);
    SupervisorPass(s, 3);
    EXPECT_EQ(s.SEND_STATE.load(), SEND_REQUESTED);
    clock.Advance(1);
    SupervisorPass(s, 2);
    EXPECT_EQ(s.SEND_STATE.load(), SEND_TIMEOUT);
    EXPECT_EQ(s.THREAD_STEP.load(), 0);
    // The engine already counts this send as failed; it must not go out later.
    EXPECT_EQ(s.TransmitPending.load(), 0u);
    EXPECT_EQ(link.Entries(), std::vector<std::string>{"Snd  'Send Timeout '"});
}

TEST_F(LinkSupervisor, OnlyACleanWriteCountsAsSent) {
    StartSend();
    s.TransmitPending.store(0); // the transmitter wrote the telegram
    SupervisorPass(s);
    EXPECT_EQ(s.SEND_STATE.load(), SEND_SENT);
    EXPECT_EQ(s.THREAD_STEP.load(), 2);

    for (int32_t outcome : {SEND_WRITE_FAILED, SEND_SHORT_WRITE}) {
        StartSend();
        // The transmitter records its outcome, then clears transmit-pending.
        s.SEND_STATE.store(outcome);
        s.TransmitPending.store(0);
        SupervisorPass(s);
        EXPECT_EQ(s.SEND_STATE.load(), outcome);
        EXPECT_EQ(s.THREAD_STEP.load(), 0);
        SupervisorPass(s, 2);
        EXPECT_EQ(s.SEND_STATE.load(), outcome) << "the outcome stands until the engine resets it";
    }
}

TEST_F(LinkSupervisor, ReplyTimesOut10sAfterTheEngineAsks) {
    StartSend();
    s.TransmitPending.store(0);
    SupervisorPass(s);
    // Time spent before the engine asks does not count.
    clock.Advance(3000);
    SupervisorPass(s);
    StartReply(3);
    clock.Advance(9999);
    SupervisorPass(s, 3);
    EXPECT_EQ(s.RECEIVE_STATE.load(), RECEIVE_AWAITED);
    clock.Advance(1);
    SupervisorPass(s, 2);
    EXPECT_EQ(s.RECEIVE_STATE.load(), RECEIVE_TIMEOUT);
    EXPECT_EQ(s.RETRY.load(), 1);
    EXPECT_TRUE(link.Traced("Rcv  'Receive Timeout max retry'"));
    SupervisorPass(s, 2);
    EXPECT_EQ(s.RETRY.load(), 0) << "each exchange counts its own attempt";
}

TEST_F(LinkSupervisor, CompleteReplyEndsTheWaitAndIsTraced) {
    StartReply(3);
    const uint8_t part[] = {STX, 0x40};
    s.Ring.Append(part, 2);
    SupervisorPass(s);
    EXPECT_EQ(s.RECEIVE_STATE.load(), RECEIVE_AWAITED);
    s.Ring.Append(part + 1, 1);
    SupervisorPass(s);
    EXPECT_EQ(s.RECEIVE_STATE.load(), RECEIVE_COMPLETE);
    EXPECT_EQ(ReplyBytes(s, 4), (Bytes{STX, 0x40, 0x40, 0}));
    EXPECT_EQ(s.THREAD_STEP.load(), 0);
    EXPECT_EQ(link.Entries(), std::vector<std::string>{"Rcv  '024040'"});
}

TEST_F(LinkSupervisor, SettingTheStatesToZeroCancels) {
    StartSend();
    s.SEND_STATE.store(SEND_IDLE);
    SupervisorPass(s);
    EXPECT_EQ(s.THREAD_STEP.load(), 0);
    EXPECT_EQ(s.TransmitPending.load(), 0u) << "a cancelled telegram is not written later";

    SupervisorPass(s, 2);
    StartReply(3);
    s.RECEIVE_STATE.store(RECEIVE_IDLE);
    SupervisorPass(s);
    EXPECT_EQ(s.THREAD_STEP.load(), 0);
    clock.Advance(20000);
    SupervisorPass(s, 5);
    EXPECT_EQ(s.RECEIVE_STATE.load(), RECEIVE_IDLE);
    EXPECT_EQ(s.SEND_STATE.load(), SEND_IDLE);
    EXPECT_TRUE(link.Entries().empty());
}

TEST_F(LinkSupervisor, LostPortEndsTheWaitAtOnce) {
    StartReply(3);
    s.PortLost.store(1);
    SupervisorPass(s);
    EXPECT_EQ(s.RECEIVE_STATE.load(), RECEIVE_TIMEOUT);
    EXPECT_EQ(s.RETRY.load(), 1);
}

TEST(LinkTick, CountsDownAcrossTheClockWrapAround) {
    ManualClock clock;
    clock.Advance(0xFFFFFF00u);
    auto s = std::make_unique<LinkState>(clock);
    LinkTick(*s); // the first tick only takes the time
    s->LinkTimers[0].store(500);
    s->LinkTimers[1].store(1000);
    LinkTick(*s);
    EXPECT_EQ(s->LinkTimers[0].load(), 500) << "no time has passed";

    clock.Advance(0x100 + 100); // the clock wraps to 100: 356 ms have passed
    LinkTick(*s);
    EXPECT_EQ(s->LinkTimers[0].load(), 144);
    EXPECT_EQ(s->LinkTimers[1].load(), 644);
    EXPECT_EQ(s->LinkTimers[2].load(), 0) << "a stopped timer stays stopped";
    EXPECT_EQ(s->OneSecondCounter.load(), 644);

    clock.Advance(200);
    LinkTick(*s);
    EXPECT_EQ(s->LinkTimers[0].load(), 0) << "expired timers stop at 0, never below";
    EXPECT_EQ(s->LinkTimers[1].load(), 444);

    // The one-second counter reloads and restarts the loop count.
    clock.Advance(500);
    LinkTick(*s);
    EXPECT_EQ(s->OneSecondCounter.load(), 1000);
    EXPECT_EQ(s->LoopsPerSecond.load(), 0);
}

// The supervisor only ticks when it wakes. A timer started after a long quiet time must still run
// its full length: the quiet time before the start does not count against it.
TEST(LinkTick, ATimerStartedAfterALongQuietTimeRunsItsFullLength) {
    ManualClock clock;
    auto s = std::make_unique<LinkState>(clock);
    LinkTick(*s);
    clock.Advance(5000); // nobody ticks meanwhile
    StartLinkTimer(*s, 1, 1000);
    EXPECT_EQ(s->LinkTimers[1].load(), 1000);
    EXPECT_EQ(NextLinkTimerMs(*s, 1, 9), 1000u);

    clock.Advance(999);
    CatchUpLinkTimers(*s);
    EXPECT_EQ(s->LinkTimers[1].load(), 1);
    StartLinkTimer(*s, 2, 3);
    EXPECT_EQ(NextLinkTimerMs(*s, 1, 9), 1u) << "the first of the running timers";
    EXPECT_EQ(NextLinkTimerMs(*s, 0, 0), IClock::FOREVER) << "timer 0 is not running";
    clock.Advance(1);
    LinkTick(*s);
    EXPECT_EQ(s->LinkTimers[1].load(), 0);
    EXPECT_EQ(NextLinkTimerMs(*s, 1, 1), IClock::FOREVER);
}
