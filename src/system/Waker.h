#pragma once
#include <cstdint>

// Interrupts a thread blocked in a wait on a serial device (WaitForSerial): any thread raises it,
// the waiter takes the raises when its wait ends. Raises are counted, never lost; a waker the
// system refused (Valid() false) makes the waiter look again on a short time-out instead.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    bool Valid() const { return handle_ >= 0; }
    // From any thread.
    void Raise();
    // By the waiter: forgets the raises so far.
    void Take();
    // What the platform's wait blocks on (an eventfd on Linux).
    intptr_t Handle() const { return handle_; }

private:
    intptr_t handle_;
};
