#pragma once
#include <cstddef>
#include <vector>

#include "ValveTypes.h"

namespace valve {

// One request as it arrived on the line.
struct Request {
    uint8_t cmd = 0;
    Bytes data;        // one byte, or ten for the long form
    Bytes raw;         // every byte of the telegram, STX and BCC included
    bool bccOk = true; // false: the valve answers NAK
};

// The matrix row transfer is the one long request: STX, 116, ten data bytes, BCC.
constexpr uint8_t LONG_REQUEST_CMD = 116;
constexpr size_t SHORT_REQUEST_LENGTH = 4;
constexpr size_t LONG_REQUEST_LENGTH = 13;
size_t RequestLength(uint8_t cmd);

// Cuts the received byte stream into requests. A request starts with STX and is sent in one
// piece; bytes that stand before an STX, or a frame broken off by a pause, are line noise and
// are dropped. A frame whose BCC does not match is answered NAK, unless a correct request
// starts inside it: then the bytes before that request were noise, and the request is taken.
class RequestParser {
public:
    // A pause this long ends an incomplete frame (about 40 character times at 19200 baud).
    static constexpr Micros FRAME_GAP{20000};

    // Takes the bytes received at `now` and returns the requests completed so far. Call it also
    // without bytes: a frame that waits for the pause after it is settled then.
    std::vector<Request> Feed(std::span<const uint8_t> bytes, Micros now);

    // Bytes dropped as noise since the start.
    size_t Discarded() const { return discarded_; }
    // When Feed must be called again to settle what is buffered; empty buffer: never.
    bool Pending() const { return !buf_.empty(); }
    Micros SettleTime() const { return last_ + FRAME_GAP + Micros{1}; }

private:
    enum class Later { None, Valid, Incomplete };
    struct LaterFrame {
        Later kind = Later::None;
        size_t offset = 0;
    };

    bool FrameComplete(size_t at) const;
    bool FrameValid(size_t at) const;
    LaterFrame FindLaterFrame(size_t length) const;
    void Drop(size_t count);
    Request Take(size_t length, bool bccOk);

    Bytes buf_;
    Micros last_{0};
    size_t discarded_ = 0;
};

} // namespace valve
