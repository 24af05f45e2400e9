#pragma once
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "system/Clock.h"

struct pollfd;

namespace qln_test {

// Simulated time for tests of the threaded link and engine. It moves only when every member
// thread is blocked on it and none of them can go on (nothing raised, no descriptor ready), and
// then straight to the earliest deadline. A member the scheduler has not run yet therefore holds
// time back instead of missing its deadline: a 500 ms send time-out only expires when the
// transmitter really had the chance to write, and a reply time-out only when the receiver, and a
// scripted valve that is a member, really had the chance to act, however busy the machine is.
// Bytes written to a pseudo-terminal before the writer blocks count as ready: a poll of the
// other end waits for the terminal to have delivered them. So a 10 s reply time-out passes in a
// single step.
//
// With a pace, time runs at most that many times as fast as real time, and a step of up to
// 300 ms lasts as long as in real time: for tests against a device that is not a member (a valve
// in another process), whose bytes then still come long before any time-out.
//
// The engine's threads join with their first wait; time stands still until `startMembers` of
// them have joined, so that none races ahead while the others are still starting. Other threads
// (a scripted valve) join with Join(). A member leaves when its thread ends.
class LockstepClock : public IClock {
public:
    static constexpr int ENGINE_THREADS = 4;
    explicit LockstepClock(int startMembers = ENGINE_THREADS, double pace = 0);
    ~LockstepClock() override;
    LockstepClock(const LockstepClock&) = delete;
    LockstepClock& operator=(const LockstepClock&) = delete;

    uint32_t NowMs() override;
    void Raise(WakeUp& w) override;
    void Wait(WakeUp& w, uint32_t seen, uint32_t timeoutMs) override;
    int Poll(pollfd* fds, size_t count, uint32_t timeoutMs) override;
    // Blocks the calling member until `ms` have passed on the clock.
    void SleepMs(uint32_t ms);
    // Makes the calling thread a member; it must then wait on the clock whenever it waits.
    void Join();
    // Whether the start members have joined, i.e. time may move.
    bool Started();
    // Time stands still again until `n` more members have joined: for a run that starts its threads
    // anew on a clock that earlier runs used (the first of them must not race ahead of the others).
    void ExpectMembers(int n);

    struct Waiter;
    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    std::thread keeper_;
};

} // namespace qln_test
