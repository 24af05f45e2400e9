#include "system/ThreadPriority.h"
#include "system/Win32.h"

#include <algorithm>

void RequestThreadPriority(int steps) {
    const int current = ::GetThreadPriority(::GetCurrentThread());
    if (current == THREAD_PRIORITY_ERROR_RETURN) return;
    // The ordinary range; time-critical and idle are not asked for.
    const int wanted = std::clamp(current + steps, int{THREAD_PRIORITY_LOWEST}, int{THREAD_PRIORITY_HIGHEST});
    (void)::SetThreadPriority(::GetCurrentThread(), wanted);
}
