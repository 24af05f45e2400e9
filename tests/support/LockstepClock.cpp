#include "support/LockstepClock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace qln_test {

using Steady = std::chrono::steady_clock;
constexpr uint64_t NEVER = UINT64_MAX;
constexpr uint64_t REAL_WINDOW_MS = 300;

// One blocked member.
struct LockstepClock::Waiter {
    uint64_t wake = NEVER; // clock time at which the wait ends
    const WakeUp* wakeUp = nullptr;
    uint32_t seen = 0;
    std::vector<pollfd> fds; // what a poll waits for, as the member asked
    int kick = -1;           // a poll member is told its time has come through this eventfd
    std::condition_variable cv;
};

struct LockstepClock::Shared {
    std::mutex m;
    std::condition_variable keeperCv; // something that may let time move has changed
    uint64_t now = 0;
    int startMembers = 0;
    int started = 0; // members that count towards the start
    int members = 0;
    std::list<Waiter*> waiters;
    bool quit = false;
    double pace = 0;
    uint64_t stepFrom = NEVER; // the time the step being paced starts from
    Steady::time_point stepStart;

    // With m held. Whether the member can go on without time moving.
    bool Ready(const Waiter& w) {
        if (w.wake <= now) return true;
        if (w.wakeUp && w.wakeUp->count.load() != w.seen) return true;
        if (w.fds.empty()) return false;
        std::vector<pollfd> probe = w.fds;
        // A poll of a pseudo-terminal first lets the terminal deliver what was written to it.
        return ::poll(probe.data(), probe.size(), 0) != 0;
    }
    // With m held: the earliest deadline when every member is blocked and none can go on,
    // NEVER otherwise (or when nobody has a deadline).
    uint64_t NextStep() {
        if (started < startMembers || members == 0 || static_cast<int>(waiters.size()) < members)
            return NEVER;
        uint64_t next = NEVER;
        for (Waiter* w : waiters) {
            if (Ready(*w)) return NEVER;
            next = std::min(next, w->wake);
        }
        return next;
    }
    // With m held: when time may reach `ms` at the earliest, at the pace. A step of time lasts
    // the step divided by the pace in real time, but never less than the step itself up to
    // REAL_WINDOW_MS: a device that is not a member gets the same real time to answer within a
    // short time-out as on the real clock.
    Steady::time_point PacedAt(uint64_t ms) {
        if (stepFrom != now) {
            stepFrom = now;
            stepStart = Steady::now();
        }
        const uint64_t step = ms - now;
        const double realMs = std::max(static_cast<double>(std::min<uint64_t>(step, REAL_WINDOW_MS)),
                                       static_cast<double>(step) / pace);
        return stepStart + std::chrono::duration_cast<Steady::duration>(
                               std::chrono::duration<double, std::milli>(realMs));
    }
    void Keep();
};

namespace {
// The clocks the current thread is a member of; leaving them when the thread ends lets the
// others go on without it.
struct Membership {
    std::vector<std::shared_ptr<LockstepClock::Shared>> clocks;
    int kick = -1;
    ~Membership() {
        for (const auto& c : clocks) {
            std::lock_guard<std::mutex> lock(c->m);
            --c->members;
            c->keeperCv.notify_all();
        }
        if (kick >= 0) ::close(kick);
    }
    int Kick() {
        if (kick < 0) kick = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        return kick;
    }
};
thread_local Membership membership;

void JoinLocked(const std::shared_ptr<LockstepClock::Shared>& shared, bool countsTowardsStart) {
    for (const auto& c : membership.clocks)
        if (c == shared) return;
    membership.clocks.push_back(shared);
    ++shared->members;
    if (countsTowardsStart) ++shared->started;
    shared->keeperCv.notify_all();
}

void KickMember(int fd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}
} // namespace

// The keeper moves time: whenever every member is blocked and none can go on, it sets the time to
// the earliest deadline and wakes the members whose deadline that is.
void LockstepClock::Shared::Keep() {
    std::unique_lock<std::mutex> lock(m);
    while (!quit) {
        const uint64_t next = NextStep();
        if (next == NEVER) {
            keeperCv.wait(lock);
            continue;
        }
        if (pace > 0) {
            const auto at = PacedAt(next);
            if (Steady::now() < at) {
                keeperCv.wait_until(lock, at);
                continue;
            }
        }
        now = next;
        for (Waiter* w : waiters) {
            if (w->wake > now) continue;
            if (w->kick >= 0)
                KickMember(w->kick);
            else
                w->cv.notify_all();
        }
    }
}

LockstepClock::LockstepClock(int startMembers, double pace) : shared_(std::make_shared<Shared>()) {
    shared_->startMembers = startMembers;
    shared_->pace = pace;
    keeper_ = std::thread([s = shared_] { s->Keep(); });
}

LockstepClock::~LockstepClock() {
    {
        std::lock_guard<std::mutex> lock(shared_->m);
        shared_->quit = true;
        shared_->keeperCv.notify_all();
    }
    keeper_.join();
}

uint32_t LockstepClock::NowMs() {
    std::lock_guard<std::mutex> lock(shared_->m);
    return static_cast<uint32_t>(shared_->now);
}

void LockstepClock::Join() {
    std::lock_guard<std::mutex> lock(shared_->m);
    JoinLocked(shared_, false);
}

void LockstepClock::ExpectMembers(int n) {
    std::lock_guard<std::mutex> lock(shared_->m);
    shared_->startMembers = shared_->started + n;
}

bool LockstepClock::Started() {
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->started >= shared_->startMembers;
}

void LockstepClock::Raise(WakeUp& w) {
    std::lock_guard<std::mutex> lock(shared_->m);
    w.count.fetch_add(1);
    for (Waiter* waiter : shared_->waiters)
        if (waiter->wakeUp == &w) waiter->cv.notify_all();
}

void LockstepClock::Wait(WakeUp& w, uint32_t seen, uint32_t timeoutMs) {
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.m);
    JoinLocked(shared_, true);
    Waiter me;
    me.wakeUp = &w;
    me.seen = seen;
    me.wake = timeoutMs == FOREVER ? NEVER : s.now + timeoutMs;
    const auto over = [&] { return w.count.load() != seen || me.wake <= s.now || s.quit; };
    if (over()) return;
    const auto it = s.waiters.insert(s.waiters.end(), &me);
    s.keeperCv.notify_all();
    me.cv.wait(lock, over);
    s.waiters.erase(it);
    s.keeperCv.notify_all();
}

void LockstepClock::SleepMs(uint32_t ms) {
    WakeUp never;
    Wait(never, 0, ms);
}

int LockstepClock::Poll(pollfd* fds, size_t count, uint32_t timeoutMs) {
    Shared& s = *shared_;
    Waiter me;
    me.fds.assign(fds, fds + count);
    me.kick = membership.Kick();
    std::vector<pollfd> real(fds, fds + count);
    real.push_back({me.kick, POLLIN, 0});
    std::list<Waiter*>::iterator it;
    {
        std::lock_guard<std::mutex> lock(s.m);
        JoinLocked(shared_, true);
        me.wake = timeoutMs == FOREVER ? NEVER : s.now + timeoutMs;
        if (me.wake <= s.now) return ::poll(fds, static_cast<nfds_t>(count), 0);
        it = s.waiters.insert(s.waiters.end(), &me);
        s.keeperCv.notify_all();
    }
    int r;
    do {
        r = ::poll(real.data(), static_cast<nfds_t>(real.size()), -1);
    } while (r < 0 && errno == EINTR);
    std::lock_guard<std::mutex> lock(s.m);
    s.waiters.erase(it);
    s.keeperCv.notify_all();
    // A kick that came while the descriptors woke the member anyway is taken here as well.
    uint64_t kicks = 0;
    [[maybe_unused]] const ssize_t taken = ::read(me.kick, &kicks, sizeof kicks);
    if (r < 0) return r;
    int ready = 0;
    for (size_t i = 0; i < count; ++i) {
        fds[i].revents = real[i].revents;
        if (real[i].revents) ++ready;
    }
    return ready;
}

} // namespace qln_test
