#include "system/Waker.h"

#include <sys/eventfd.h>
#include <unistd.h>

Waker::Waker() : handle_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Waker::~Waker() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

void Waker::Raise() {
    const uint64_t one = 1;
    // Fails only when the counter is about to overflow, and then the waiter is awake anyway.
    [[maybe_unused]] const ssize_t n = ::write(static_cast<int>(handle_), &one, sizeof one);
}

void Waker::Take() {
    uint64_t raised = 0;
    [[maybe_unused]] const ssize_t taken = ::read(static_cast<int>(handle_), &raised, sizeof raised);
}
