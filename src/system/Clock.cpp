#include "system/Clock.h"

#include <algorithm>
#include <chrono>

namespace {
int64_t SteadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

void RealTimeClock::Raise(WakeUp& w) {
    {
        std::lock_guard<std::mutex> lock(w.m);
        w.count.fetch_add(1);
    }
    w.cv.notify_all();
}

void RealTimeClock::Wait(WakeUp& w, uint32_t seen, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(w.m);
    const auto raised = [&] { return w.count.load() != seen; };
    if (timeoutMs == FOREVER) {
        w.cv.wait(lock, raised);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(RealMicros(timeoutMs));
    w.cv.wait_until(lock, deadline, raised);
}

uint32_t RealClock::NowMs() {
    return static_cast<uint32_t>(SteadyUs() / 1000);
}

ScaledClock::ScaledClock(double factor) : factor_(factor > 0 ? factor : 1.0), startUs_(SteadyUs()) {}

uint32_t ScaledClock::NowMs() {
    const double elapsedMs = static_cast<double>(SteadyUs() - startUs_) / 1000.0;
    return static_cast<uint32_t>(static_cast<uint64_t>(elapsedMs * factor_));
}

int64_t ScaledClock::RealMicros(uint32_t ms) const {
    // Rounded up: scaled time must have reached the deadline when the real wait ends.
    return static_cast<int64_t>(ms * 1000.0 / factor_) + 1;
}

void ManualClock::Raise(WakeUp& w) {
    {
        std::lock_guard<std::mutex> lock(m_);
        w.count.fetch_add(1);
    }
    cv_.notify_all();
}

void ManualClock::Wait(WakeUp& w, uint32_t seen, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_);
    const uint32_t start = now_.load();
    cv_.wait(lock, [&] {
        return w.count.load() != seen || (timeoutMs != FOREVER && now_.load() - start >= timeoutMs);
    });
}

void ManualClock::Advance(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lock(m_);
        now_.fetch_add(ms);
    }
    cv_.notify_all();
}
