#include "system/Waker.h"
#include "system/Win32.h"

namespace {
intptr_t NewEvent() {
    // Manual reset: the event stays signalled from the first raise until the waiter takes it, as
    // an event counter stays readable.
    HANDLE e = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return e ? reinterpret_cast<intptr_t>(e) : -1;
}
} // namespace

Waker::Waker() : handle_(NewEvent()) {}

Waker::~Waker() {
    if (handle_ >= 0) ::CloseHandle(HandleOf(handle_));
}

void Waker::Raise() {
    if (handle_ >= 0) ::SetEvent(HandleOf(handle_));
}

void Waker::Take() {
    if (handle_ >= 0) ::ResetEvent(HandleOf(handle_));
}
