#pragma once
#include <optional>
#include <span>

#include "ValveTypes.h"

namespace valve {

// A USB serial adapter between the valve's line and the program: it collects the bytes it
// receives and passes them on in one USB packet when its latency timer has run out since the
// first of them arrived, or at once when a packet is full (62 bytes beside the two status bytes
// of a 64-byte packet). A latency of 0 passes every byte on as it comes.
class UsbAdapter {
public:
    static constexpr size_t PACKET_PAYLOAD = 62;

    explicit UsbAdapter(Micros latency) : latency_(latency) {}

    // Takes the bytes off the line at `now` and returns what the adapter passes on by then.
    Bytes Pass(std::span<const uint8_t> received, Micros now);
    // When the bytes held back are due; empty while none are.
    std::optional<Micros> NextDue() const;

private:
    Micros latency_;
    Micros firstHeld_{0};
    Bytes held_;
};

} // namespace valve
