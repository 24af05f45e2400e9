#pragma once
#include <atomic>
#include <cstdint>

// Every sleep and every millisecond reading of the link and the engine goes through a clock,
// so that tests can run a 10 s reply time-out in milliseconds.
class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start; wraps around like any 32-bit tick counter.
    virtual uint32_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

// Wall-clock time.
class RealClock : public IClock {
public:
    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;
};

// Runs time faster by a fixed factor: NowMs advances `factor` ms per real ms and SleepMs(n)
// sleeps n / factor real ms. Every thread sees the same accelerated time, so time-outs keep
// their relative order while real bytes still flow over real file descriptors.
class ScaledClock : public IClock {
public:
    explicit ScaledClock(double factor);
    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;

private:
    double factor_;
    int64_t startUs_;
};

// Time moves only when a test advances it; SleepMs yields the thread without moving time.
class ManualClock : public IClock {
public:
    uint32_t NowMs() override { return now_.load(); }
    void SleepMs(uint32_t ms) override;
    void Advance(uint32_t ms) { now_.fetch_add(ms); }

private:
    std::atomic<uint32_t> now_{0};
};
