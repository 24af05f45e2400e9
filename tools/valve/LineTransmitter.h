#pragma once
#include <deque>
#include <optional>

#include "ValveTypes.h"

namespace valve {

// The valve's transmitter: bytes leave one after the other at the line speed, ten bit times
// each (start bit, eight data bits, stop bit). A byte is handed out once its stop bit is done.
class LineTransmitter {
public:
    explicit LineTransmitter(int baud);

    // Queues bytes that are ready at `at`; they follow whatever is still queued.
    void Queue(std::span<const uint8_t> bytes, Micros at);
    // The bytes whose transmission has ended by `now`.
    Bytes Take(Micros now);
    // Forgets what has not been sent; the line is free from `now`.
    void Drop(Micros now);

    size_t Pending() const { return queue_.size(); }
    // When the next byte is complete; empty when nothing is queued.
    std::optional<Micros> NextDue() const;
    std::chrono::nanoseconds ByteTime() const { return byteTime_; }

private:
    struct Slot {
        uint8_t byte;
        std::chrono::nanoseconds done;
    };
    std::chrono::nanoseconds byteTime_;
    std::chrono::nanoseconds lineFree_{0};
    std::deque<Slot> queue_;
};

} // namespace valve
