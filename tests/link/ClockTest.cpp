// Waiting through the clocks: a raise is never lost, deadlines end waits on the clock's own time,
// and the lockstep clock moves time only when nobody can go on, bytes in flight on a
// pseudo-terminal included.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <termios.h>
#include <thread>

#include "link/LinkTestSupport.h"
#include "support/LockstepClock.h"

using namespace linktest;
using qln_test::LockstepClock;

namespace {
// The slave end of the pseudo-terminal, raw like a configured port: every byte is there at once.
int OpenRaw(const Pty& pty) {
    const int fd = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Runs `wait` on a thread of its own and tells when it has returned.
class Waiter {
public:
    explicit Waiter(std::function<void()> wait)
        : thread_([this, wait = std::move(wait)] {
              wait();
              done_.store(true);
          }) {}
    ~Waiter() { thread_.join(); }
    bool Done() const { return done_.load(); }
    bool WaitDone() {
        return WaitFor([this] { return Done(); }, 10000);
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};
} // namespace

TEST(ClockWait, ARaiseBeforeTheWaitIsNotLost) {
    RealClock real;
    ManualClock manual;
    LockstepClock lockstep(1);
    for (IClock* clock : std::initializer_list<IClock*>{&real, &manual, &lockstep}) {
        WakeUp w;
        const uint32_t seen = w.count.load();
        clock->Raise(w); // between looking at the state and blocking
        Waiter waiter([&] { clock->Wait(w, seen, IClock::FOREVER); });
        EXPECT_TRUE(waiter.WaitDone());
    }
}

TEST(ClockWait, ARaiseFromAnotherThreadEndsAWaitWithoutDeadline) {
    RealClock real;
    ManualClock manual;
    for (IClock* clock : std::initializer_list<IClock*>{&real, &manual}) {
        WakeUp w;
        const uint32_t seen = w.count.load();
        Waiter waiter([&] { clock->Wait(w, seen, IClock::FOREVER); });
        clock->Raise(w);
        EXPECT_TRUE(waiter.WaitDone());
    }
}

TEST(ClockWait, ManualDeadlineEndsOnlyWhenTimeGetsThere) {
    ManualClock clock;
    WakeUp w;
    std::atomic<uint32_t> began{0}, ended{0};
    Waiter waiter([&] {
        began.store(clock.NowMs());
        clock.Wait(w, 0, 500);
        ended.store(clock.NowMs());
    });
    for (int i = 0; i < 10000 && !waiter.Done(); ++i) {
        clock.Advance(100);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(waiter.WaitDone());
    EXPECT_GE(ended.load() - began.load(), 500u);
}

TEST(ClockWait, PollReturnsWhenTheDescriptorIsReady) {
    RealClock clock;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    const int slave = OpenRaw(pty);
    ASSERT_GE(slave, 0);
    pollfd p{slave, POLLIN, 0};
    EXPECT_EQ(clock.Poll(&p, 1, 0), 0) << "nothing there yet";
    pty.Write({STX});
    EXPECT_EQ(clock.Poll(&p, 1, IClock::FOREVER), 1);
    EXPECT_TRUE(p.revents & POLLIN);
    ::close(slave);
}

// ---- the lockstep clock -------------------------------------------------------------------------

TEST(LockstepClockTime, JumpsToTheEarliestDeadlineOnceEveryMemberIsBlocked) {
    LockstepClock clock(2);
    WakeUp a, b;
    std::atomic<uint32_t> aWokeAt{0}, bWokeAt{0};
    {
        Waiter first([&] {
            clock.Wait(a, 0, 500);
            aWokeAt.store(clock.NowMs());
        });
        Waiter second([&] {
            clock.Wait(b, 0, 10000);
            bWokeAt.store(clock.NowMs());
        });
    }
    EXPECT_EQ(aWokeAt.load(), 500u);
    EXPECT_EQ(bWokeAt.load(), 10000u);
}

TEST(LockstepClockTime, StandsStillWhileARaisedMemberHasNotRun) {
    for (int round = 0; round < 50; ++round) {
        LockstepClock clock(2);
        WakeUp idle, go;
        std::atomic<uint32_t> wokeAt{99};
        // As the engine does after a send: raise the supervisor, then wait with a deadline.
        Waiter raiser([&] {
            clock.Raise(go);
            clock.Wait(idle, 0, 10000);
        });
        Waiter raised([&] {
            clock.Wait(go, 0, IClock::FOREVER);
            wokeAt.store(clock.NowMs());
        });
        ASSERT_TRUE(raised.WaitDone());
        ASSERT_EQ(wokeAt.load(), 0u) << "round " << round << ": a raised member runs before time moves";
        EXPECT_TRUE(raiser.WaitDone()) << "the other member left: time moves for this one";
    }
}

// Bytes written to a pseudo-terminal are in flight for a moment; a member polling the other end
// must get them before time moves on to a reply time-out.
TEST(LockstepClockTime, BytesInFlightOnAPseudoTerminalHoldTimeBack) {
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    const int slave = OpenRaw(pty);
    ASSERT_GE(slave, 0);
    for (int round = 0; round < 200; ++round) {
        LockstepClock clock(2);
        std::atomic<uint32_t> seenAt{99};
        WakeUp never;
        // The writer writes and then blocks on a deadline, as the program does after a send.
        Waiter writer([&] {
            pty.Write({STX, 0x17, 0x17});
            clock.Wait(never, 0, 10000);
        });
        Waiter reader([&] {
            pollfd p{slave, POLLIN, 0};
            clock.Poll(&p, 1, IClock::FOREVER);
            seenAt.store(clock.NowMs());
            uint8_t buf[8];
            while (::read(slave, buf, sizeof buf) > 0) {
            }
        });
        ASSERT_TRUE(reader.WaitDone());
        ASSERT_EQ(seenAt.load(), 0u) << "round " << round;
    }
    ::close(slave);
}

TEST(LockstepClockTime, APacedStepLastsAtLeastItsRealTimeUpTo300ms) {
    LockstepClock clock(1, 10);
    WakeUp never;
    const auto start = std::chrono::steady_clock::now();
    Waiter waiter([&] { clock.Wait(never, 0, 300); });
    ASSERT_TRUE(waiter.WaitDone());
    // A device outside the clock gets the whole window in real time.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(clock.NowMs(), 300u);
}
