#include "support/LockstepClock.h"

#include <thread>
#include <vector>

namespace qln_test {
namespace {
// The clocks the current thread is a member of; leaving them when the thread ends lets the
// others go on without it.
struct Membership {
    std::vector<std::shared_ptr<LockstepClock::Shared>> clocks;
    ~Membership() {
        for (const auto& c : clocks) {
            std::lock_guard<std::mutex> lock(c->m);
            --c->members;
            c->cv.notify_all();
        }
    }
};
thread_local Membership membership;
} // namespace

bool LockstepClock::Shared::AllAsleep() const {
    // An entry not above `now` belongs to a thread that has been woken and has not run yet.
    return started >= startMembers && members > 0 && static_cast<int>(wakes.size()) >= members &&
           *wakes.begin() > now;
}

LockstepClock::LockstepClock(int startMembers) : shared_(std::make_shared<Shared>()) {
    shared_->startMembers = startMembers;
}

uint32_t LockstepClock::NowMs() {
    std::lock_guard<std::mutex> lock(shared_->m);
    return static_cast<uint32_t>(shared_->now);
}

void LockstepClock::JoinLocked(bool countsTowardsStart) {
    for (const auto& c : membership.clocks)
        if (c == shared_) return;
    membership.clocks.push_back(shared_);
    ++shared_->members;
    if (countsTowardsStart) ++shared_->started;
}

void LockstepClock::Join() {
    std::lock_guard<std::mutex> lock(shared_->m);
    JoinLocked(false);
}

bool LockstepClock::Started() {
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->started >= shared_->startMembers;
}

void LockstepClock::SleepMs(uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.m);
    JoinLocked(true);
    const uint64_t wake = s.now + ms;
    const auto entry = s.wakes.insert(wake);
    // The last member to fall asleep moves time on and wakes the others.
    while (s.now < wake) {
        if (s.AllAsleep()) {
            s.now = *s.wakes.begin();
            s.cv.notify_all();
        } else {
            s.cv.wait(lock);
        }
    }
    s.wakes.erase(entry);
}

} // namespace qln_test
