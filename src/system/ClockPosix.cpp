// The clocks' waits on descriptors: poll(2), its time-out counted on the clock.
#include "system/Clock.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <poll.h>

namespace {
// poll's time-out in whole milliseconds, rounded up so that a wait never ends before its time.
int PollTimeout(int64_t us) {
    if (us < 0) return -1;
    return static_cast<int>(std::min<int64_t>((us + 999) / 1000, INT_MAX));
}
} // namespace

int RealTimeClock::Poll(pollfd* fds, size_t count, uint32_t timeoutMs) {
    const int timeout = timeoutMs == FOREVER ? -1 : PollTimeout(RealMicros(timeoutMs));
    return ::poll(fds, static_cast<nfds_t>(count), timeout);
}

int ManualClock::Poll(pollfd* fds, size_t count, uint32_t timeoutMs) {
    if (timeoutMs == FOREVER) return ::poll(fds, static_cast<nfds_t>(count), -1);
    // Advance cannot interrupt a poll, so a wait with a deadline looks at the time every real
    // millisecond. Only tests use this clock.
    const uint32_t start = now_.load();
    for (;;) {
        const bool due = now_.load() - start >= timeoutMs;
        const int r = ::poll(fds, static_cast<nfds_t>(count), due ? 0 : 1);
        if (r != 0 || due) return r;
    }
}
