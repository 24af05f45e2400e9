#include "link/Clock.h"

#include <chrono>
#include <thread>

namespace {
int64_t SteadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

uint32_t RealClock::NowMs() {
    return static_cast<uint32_t>(SteadyUs() / 1000);
}

void RealClock::SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ScaledClock::ScaledClock(double factor) : factor_(factor > 0 ? factor : 1.0), startUs_(SteadyUs()) {}

uint32_t ScaledClock::NowMs() {
    const double elapsedMs = static_cast<double>(SteadyUs() - startUs_) / 1000.0;
    return static_cast<uint32_t>(static_cast<uint64_t>(elapsedMs * factor_));
}

void ScaledClock::SleepMs(uint32_t ms) {
    const auto us = static_cast<int64_t>(ms * 1000.0 / factor_);
    if (us <= 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void ManualClock::SleepMs(uint32_t /*ms*/) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
}
