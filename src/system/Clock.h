#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

struct pollfd;

// Something one thread blocks on and other threads raise. It counts the raises: a waiter reads
// the count before it looks at what it waits for and hands that count to IClock::Wait, so a raise
// that comes in between ends the wait at once instead of being lost. Only clocks use the mutex
// and the condition variable.
struct WakeUp {
    std::atomic<uint32_t> count{0};
    std::mutex m;
    std::condition_variable cv;
};

// Every wait and every millisecond reading of the link and the engine goes through a clock, so
// that tests can run a 10 s reply time-out in milliseconds. Threads never sleep for a fixed
// time: they block until what they wait for has been raised, a descriptor is ready, or their
// deadline on this clock has passed.
class IClock {
public:
    // No deadline: the wait ends only when it is raised or a descriptor is ready.
    static constexpr uint32_t FOREVER = 0xFFFFFFFF;

    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start; wraps around like any 32-bit tick counter.
    virtual uint32_t NowMs() = 0;
    // Ends the wait of the thread blocked on `w` (or the next wait on it).
    virtual void Raise(WakeUp& w) = 0;
    // Blocks until `w` has been raised since its count read `seen`, or `timeoutMs` have passed.
    virtual void Wait(WakeUp& w, uint32_t seen, uint32_t timeoutMs) = 0;
    // poll(2) with its time-out counted on this clock; returns what poll returns (0: time is up).
    virtual int Poll(pollfd* fds, size_t count, uint32_t timeoutMs) = 0;
};

// Waits in real time, each clock millisecond lasting `RealMicros` microseconds.
class RealTimeClock : public IClock {
public:
    void Raise(WakeUp& w) override;
    void Wait(WakeUp& w, uint32_t seen, uint32_t timeoutMs) override;
    int Poll(pollfd* fds, size_t count, uint32_t timeoutMs) override;

protected:
    virtual int64_t RealMicros(uint32_t ms) const = 0;
};

// Wall-clock time.
class RealClock : public RealTimeClock {
public:
    uint32_t NowMs() override;

protected:
    int64_t RealMicros(uint32_t ms) const override { return int64_t{ms} * 1000; }
};

// Runs time faster by a fixed factor: NowMs advances `factor` ms per real ms and a wait of n ms
// lasts n / factor real ms. Every thread sees the same accelerated time, so time-outs keep
// their relative order while real bytes still flow over real file descriptors.
class ScaledClock : public RealTimeClock {
public:
    explicit ScaledClock(double factor);
    uint32_t NowMs() override;

protected:
    int64_t RealMicros(uint32_t ms) const override;

private:
    double factor_;
    int64_t startUs_;
};

// Time moves only when a test advances it; a wait with a deadline ends when Advance reaches it.
class ManualClock : public IClock {
public:
    uint32_t NowMs() override { return now_.load(); }
    void Raise(WakeUp& w) override;
    void Wait(WakeUp& w, uint32_t seen, uint32_t timeoutMs) override;
    int Poll(pollfd* fds, size_t count, uint32_t timeoutMs) override;
    void Advance(uint32_t ms);

private:
    std::atomic<uint32_t> now_{0};
    std::mutex m_;
    std::condition_variable cv_;
};
