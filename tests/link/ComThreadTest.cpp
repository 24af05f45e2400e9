#include <gtest/gtest.h>

#include "link/LinkTestSupport.h"
#include "link/SerialPort.h"

using namespace linktest;

namespace {
const Bytes kVersionRequest{STX, 0x23, 0x00, 0x23};

// The three link threads, started as the program starts them; there is no engine thread, so its
// run-state stays 0.
class LinkThreads {
public:
    explicit LinkThreads(LinkState& s) : s_(s) {
        for (int t : {THREAD_MAINCTRL, THREAD_WRITECOM, THREAD_READCOM})
            s.RunStates[t].store(RUN_RUNNING);
        threads_.emplace_back(MainCtrlThread, std::ref(s));
        threads_.emplace_back(WriteComThread, std::ref(s));
        threads_.emplace_back(ReadComThread, std::ref(s));
    }
    ~LinkThreads() { Stop(); }
    // Stops the supervisor only; it stops the others.
    void Stop() {
        if (threads_.empty()) return;
        s_.RunStates[THREAD_MAINCTRL].store(RUN_STOP_REQUESTED);
        WakeSupervisor(s_);
        for (auto& t : threads_)
            t.join();
        threads_.clear();
    }

private:
    LinkState& s_;
    std::vector<std::thread> threads_;
};

// The engine's side of one exchange, waiting in real time for each outcome.
int32_t Send(LinkState& s, const Bytes& telegram) {
    RequestSend(s, telegram);
    WaitFor([&] { return s.SEND_STATE.load() != SEND_REQUESTED; });
    return s.SEND_STATE.load();
}
int32_t AwaitReply(LinkState& s) {
    WaitFor([&] { return s.RECEIVE_STATE.load() != RECEIVE_AWAITED; }, 20000);
    return s.RECEIVE_STATE.load();
}
} // namespace

TEST(LinkThreadsPty, TelegramAndReplyTravelOverTheLine) {
    RealClock clock;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TracedLink link(clock);
    LinkState& s = *link.state;
    s.DevicePath[0] = pty.Slave();
    s.BaudIndex.store(3);
    ASSERT_TRUE(InitComPort(s));
    LinkThreads threads(s);

    ASSERT_EQ(Send(s, kVersionRequest), SEND_SENT);
    EXPECT_EQ(pty.Read(4), kVersionRequest);

    // The reply trickles in while the engine waits; it is handed over in one piece.
    RequestReply(s, 3);
    for (uint8_t b : {STX, uint8_t{0x17}, uint8_t{0x17}}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(s.RECEIVE_STATE.load(), RECEIVE_AWAITED);
        pty.Write({b});
    }
    ASSERT_EQ(AwaitReply(s), RECEIVE_COMPLETE);
    EXPECT_EQ(ReplyBytes(s, 4), (Bytes{STX, 0x17, 0x17, 0}));

    threads.Stop();
    for (int t : {THREAD_MAINCTRL, THREAD_ACTION, THREAD_WRITECOM, THREAD_READCOM})
        EXPECT_EQ(s.RunStates[t].load(), RUN_STOPPED) << "thread " << t;
    const auto entries = link.Entries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), "Snd  '02230023'"), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), "Rcv  '021717'"), entries.end());
}

TEST(LinkThreadsPty, TimeOutsRunOnTheLinkClock) {
    ScaledClock clock(20); // 10 s of link time pass in half a second
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TracedLink link(clock);
    LinkState& s = *link.state;
    s.DevicePath[0] = pty.Slave();
    s.BaudIndex.store(2);
    LinkThreads threads(s);

    // No port open: nobody takes the telegram.
    EXPECT_EQ(Send(s, {STX, 0x01, 0x05, 0x06}), SEND_TIMEOUT);

    // The valve stays silent.
    ASSERT_TRUE(InitComPort(s));
    s.SEND_STATE.store(SEND_IDLE);
    ASSERT_EQ(Send(s, kVersionRequest), SEND_SENT);
    EXPECT_EQ(pty.Read(4), kVersionRequest) << "only the new telegram goes out";
    const uint32_t asked = clock.NowMs();
    RequestReply(s, 3);
    ASSERT_EQ(AwaitReply(s), RECEIVE_TIMEOUT);
    EXPECT_GE(clock.NowMs() - asked, static_cast<uint32_t>(REPLY_TIMEOUT_MS));
    // The supervisor publishes its state for the debug view after each pass.
    EXPECT_TRUE(WaitFor([&] { return s.DebugVars[DBG_RECEIVE_STATE].load() == RECEIVE_TIMEOUT; }));
}

// A telegram whose send timed out while the port was closed must not go out once the port opens:
// the engine has given up on it and is about to rebuild the buffer for its next telegram.
TEST(LinkThreadsPty, TimedOutTelegramIsNotWrittenLater) {
    ManualClock clock;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TracedLink link(clock);
    LinkState& s = *link.state;
    s.DevicePath[0] = pty.Slave();
    s.BaudIndex.store(2);
    s.RunStates[THREAD_WRITECOM].store(RUN_RUNNING);
    std::thread writer(WriteComThread, std::ref(s));

    SupervisorPass(s, 2);
    RequestSend(s, {STX, 0x01, 0x05, 0x06});
    SupervisorPass(s, 2);
    clock.Advance(SEND_TIMEOUT_MS);
    SupervisorPass(s, 2);
    ASSERT_EQ(s.SEND_STATE.load(), SEND_TIMEOUT);

    ASSERT_TRUE(InitComPort(s));
    EXPECT_TRUE(pty.Read(1, 300).empty());
    s.RunStates[THREAD_WRITECOM].store(RUN_STOP_REQUESTED);
    WakeTransmitter(s);
    writer.join();
}

TEST(LinkThreadsPty, FailedWriteStandsAsTheOutcome) {
    ManualClock clock;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TracedLink link(clock);
    LinkState& s = *link.state;
    s.DevicePath[0] = pty.Slave();
    s.BaudIndex.store(2);
    ASSERT_TRUE(InitComPort(s));
    pty.HangUp();
    s.RunStates[THREAD_WRITECOM].store(RUN_RUNNING);
    std::thread writer(WriteComThread, std::ref(s));

    SupervisorPass(s, 2);
    RequestSend(s, kVersionRequest);
    SupervisorPass(s, 2);
    EXPECT_TRUE(WaitFor([&] { return s.TransmitPending.load() == 0; }));
    SupervisorPass(s);
    EXPECT_EQ(s.SEND_STATE.load(), SEND_WRITE_FAILED);
    EXPECT_EQ(s.THREAD_STEP.load(), 0);
    EXPECT_EQ(s.PortLost.load(), 1);
    s.RunStates[THREAD_WRITECOM].store(RUN_STOP_REQUESTED);
    WakeTransmitter(s);
    writer.join();
}

// Test mode: the built-in valve answers through the same threads, and no device is opened.
TEST(LinkThreadsTestMode, SimulatedValveAnswersThroughTheThreads) {
    ManualClock clock;
    TracedLink link(clock, 1);
    LinkState& s = *link.state;
    s.DevicePath[0] = link.dir.File("no-such-tty");
    s.BaudIndex.store(2);
    ASSERT_TRUE(InitComPort(s));
    LinkThreads threads(s);

    ASSERT_EQ(Send(s, kVersionRequest), SEND_SENT);
    RequestReply(s, 3);
    ASSERT_EQ(AwaitReply(s), RECEIVE_COMPLETE);
    EXPECT_EQ(ReplyBytes(s, 3), (Bytes{STX, 0x17, 0x17}));
    threads.Stop();
    const auto entries = link.Entries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), "Snd  '02230023'"), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), "Rcv  '021717'"), entries.end());
}
