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

// ---- waiting ------------------------------------------------------------------------------------

namespace {
// Opening the port wakes the receiver; taken here, the receiver's first wait is one that lasts.
void DrainReceiverWake(LinkState& s) {
    uint64_t raised = 0;
    ASSERT_EQ(::read(static_cast<int>(s.ReceiverWaker.Handle()), &raised, sizeof raised),
              static_cast<ssize_t>(sizeof raised));
}

// Time that never moves, with the threads' waits counted, so that a thread that wakes shows.
class CountingManualClock : public ManualClock {
public:
    void Wait(WakeUp& w, uint32_t seen, uint32_t timeoutMs) override {
        waits.fetch_add(1);
        ManualClock::Wait(w, seen, timeoutMs);
    }
    int Poll(pollfd* fds, size_t count, uint32_t timeoutMs) override {
        waits.fetch_add(1);
        return ManualClock::Poll(fds, count, timeoutMs);
    }
    std::atomic<int> waits{0};
};
} // namespace

TEST(LinkThreadsWaiting, IdleThreadsStayBlockedAndStopWakesThemWithoutTimeMoving) {
    CountingManualClock clock;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TracedLink link(clock);
    LinkState& s = *link.state;
    s.DevicePath[0] = pty.Slave();
    s.BaudIndex.store(2);
    ASSERT_TRUE(InitComPort(s)); // the receiver watches the port for a hang-up
    DrainReceiverWake(s);
    LinkThreads threads(s);

    // Supervisor, transmitter and receiver each block once, and then nobody wakes.
    ASSERT_TRUE(WaitFor([&] { return clock.waits.load() >= 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(clock.waits.load(), 3);

    threads.Stop();
    for (int t : {THREAD_MAINCTRL, THREAD_WRITECOM, THREAD_READCOM})
        EXPECT_EQ(s.RunStates[t].load(), RUN_STOPPED) << "thread " << t;
    EXPECT_EQ(clock.NowMs(), 0u);
}

// Closing and opening the port again (between two line speeds) hands the new open the old
// descriptor number. A receiver whose poll saw the old descriptor closed (POLLNVAL) must not take
// that for a hang-up of the new port. The clock here closes the port while the receiver polls and
// opens it again before the receiver looks at what it saw.
TEST(LinkReceiver, APortReopenedUnderItsPollIsNoHangUp) {
    struct ReopeningClock : RealClock {
        int Poll(pollfd* fds, size_t count, uint32_t timeoutMs) override {
            if (count < 2) return RealClock::Poll(fds, count, timeoutMs);
            CloseComPort(*s);
            const int r = RealClock::Poll(fds, count, timeoutMs);
            polled = fds[1];
            reopened = InitComPort(*s);
            return r;
        }
        LinkState* s = nullptr;
        pollfd polled{};
        bool reopened = false;
    } clock;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TracedLink link(clock);
    LinkState& s = *link.state;
    clock.s = &s;
    s.DevicePath[0] = pty.Slave();
    s.BaudIndex.store(2);
    ASSERT_TRUE(InitComPort(s));
    const int fd = s.PortFd.load();

    ReceiverPass(s);
    ASSERT_TRUE(clock.reopened);
    EXPECT_EQ(clock.polled.revents & POLLNVAL, POLLNVAL) << "the poll saw the old port closed";
    EXPECT_EQ(s.PortFd.load(), fd) << "the new port has the old number";
    EXPECT_EQ(s.PortLost.load(), 0);
    EXPECT_EQ(s.PortOpen.load(), 1);
    EXPECT_FALSE(link.Traced("Info ' Com Port lost, device gone'"));
}

TEST(LinkReceiver, ReadsStraightIntoTheRingAcrossItsEnd) {
    RealClock clock;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TracedLink link(clock);
    LinkState& s = *link.state;
    s.DevicePath[0] = pty.Slave();
    s.BaudIndex.store(2);
    ASSERT_TRUE(InitComPort(s));
    s.Ring.SetIndices(19998, 19998);
    s.RECEIVE_STATE.store(RECEIVE_AWAITED);
    const uint32_t raised = s.SupervisorWake.count.load();

    const Bytes reply{STX, 0x11, 0x22, 0x33, 0x66};
    pty.Write(reply);
    while (s.Ring.Available() < reply.size() && s.PortLost.load() == 0)
        ReceiverPass(s);
    EXPECT_EQ(s.Ring.WriteIndex(), 3u) << "two bytes at the end of the buffer, three at its start";
    Bytes got(reply.size());
    s.Ring.Take(got.data(), static_cast<uint32_t>(got.size()));
    EXPECT_EQ(got, reply);
    EXPECT_GT(s.SupervisorWake.count.load(), raised) << "the supervisor is told that bytes came";
}

TEST(LinkReceiver, BytesThatComeWhileNoReplyIsAwaitedStayInTheDriverAndWakeNobody) {
    struct CountingClock : RealClock {
        int Poll(pollfd* fds, size_t count, uint32_t timeoutMs) override {
            polls.fetch_add(1);
            return RealClock::Poll(fds, count, timeoutMs);
        }
        std::atomic<int> polls{0};
    } clock;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TracedLink link(clock);
    LinkState& s = *link.state;
    s.DevicePath[0] = pty.Slave();
    s.BaudIndex.store(2);
    ASSERT_TRUE(InitComPort(s));
    DrainReceiverWake(s);
    s.RunStates[THREAD_READCOM].store(RUN_RUNNING);
    std::thread reader(ReadComThread, std::ref(s));

    pty.Write({0x55, 0x66});
    ASSERT_TRUE(WaitFor([&] { return PortBytesWaiting(s) == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(s.Ring.Available(), 0u);
    EXPECT_EQ(PortBytesWaiting(s), 2) << "the engine drains them before its next action";
    EXPECT_LE(clock.polls.load(), 1) << "the receiver does not spin on bytes it must not take";

    s.RunStates[THREAD_READCOM].store(RUN_STOP_REQUESTED);
    WakeReceiver(s);
    reader.join();
}
