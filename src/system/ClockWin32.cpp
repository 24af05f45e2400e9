// The clocks' waits on handles: WaitForMultipleObjects, its time-out counted on the clock.
#include "system/Clock.h"
#include "system/Win32.h"

#include <algorithm>
#include <vector>

namespace {
// One wait on the handles that are asked for; returns what poll would (1: one is signalled, with
// its revents set; 0: time is up; -1: the wait failed).
int WaitHandles(pollfd* fds, size_t count, DWORD timeout) {
    std::vector<HANDLE> handles;
    std::vector<size_t> index;
    for (size_t i = 0; i < count; ++i) {
        fds[i].revents = 0;
        if (fds[i].events && fds[i].fd != -1) {
            handles.push_back(HandleOf(fds[i].fd));
            index.push_back(i);
        }
    }
    if (handles.empty()) {
        if (timeout == INFINITE) return -1; // nothing could ever end this wait
        ::Sleep(timeout);
        return 0;
    }
    const DWORD r =
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
    if (r == WAIT_TIMEOUT) return 0;
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size()) {
        // Every signalled handle counts, as poll reports every ready descriptor.
        int ready = 0;
        for (size_t k = 0; k < handles.size(); ++k)
            if (::WaitForSingleObject(handles[k], 0) == WAIT_OBJECT_0 || k == r - WAIT_OBJECT_0) {
                fds[index[k]].revents = POLLIN;
                ++ready;
            }
        return ready;
    }
    return -1;
}

DWORD WaitTimeout(int64_t us) {
    if (us < 0) return INFINITE;
    return static_cast<DWORD>(std::min<int64_t>((us + 999) / 1000, INFINITE - 1));
}
} // namespace

int RealTimeClock::Poll(pollfd* fds, size_t count, uint32_t timeoutMs) {
    return WaitHandles(fds, count, timeoutMs == FOREVER ? INFINITE : WaitTimeout(RealMicros(timeoutMs)));
}

int ManualClock::Poll(pollfd* fds, size_t count, uint32_t timeoutMs) {
    if (timeoutMs == FOREVER) return WaitHandles(fds, count, INFINITE);
    // Advance cannot interrupt the wait, so a wait with a deadline looks at the time every real
    // millisecond. Only tests use this clock.
    const uint32_t start = now_.load();
    for (;;) {
        const bool due = now_.load() - start >= timeoutMs;
        const int r = WaitHandles(fds, count, due ? 0 : 1);
        if (r != 0 || due) return r;
    }
}
