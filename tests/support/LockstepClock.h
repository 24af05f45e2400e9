#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

#include "link/Clock.h"

namespace qln_test {

// Simulated time for tests of the threaded link and engine. It moves only when every member
// thread is asleep on it, and then straight to the earliest wake-up. A member the scheduler has
// not run yet therefore holds time back instead of missing its deadline: a 500 ms send time-out
// only expires when the transmitter really had the chance to write, and a reply time-out only
// when the receiver, and a scripted valve that is a member, really had the chance to act, however
// busy the machine is. With the engine's 1 ms polling a 10 s reply time-out passes in some 10 000
// rounds of wake-ups, a fraction of a second.
//
// The engine's threads join with their first SleepMs; time stands still until `startMembers` of
// them have joined, so that none races ahead while the others are still starting. Other threads
// (a scripted valve) join with Join(). A member leaves when its thread ends.
class LockstepClock : public IClock {
public:
    static constexpr int ENGINE_THREADS = 4;
    explicit LockstepClock(int startMembers = ENGINE_THREADS);

    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;
    // Makes the calling thread a member; it must then sleep on the clock regularly.
    void Join();
    // Whether the start members have joined, i.e. time may move.
    bool Started();

    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        uint64_t now = 0;
        int startMembers = 0;
        int started = 0; // members that count towards the start
        int members = 0;
        std::multiset<uint64_t> wakes; // one per sleeping member
        bool AllAsleep() const;        // with m held
    };

private:
    void JoinLocked(bool countsTowardsStart);
    std::shared_ptr<Shared> shared_;
};

} // namespace qln_test
