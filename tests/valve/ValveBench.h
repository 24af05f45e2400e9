#pragma once
#include <chrono>
#include <vector>

#include "Valve.h"

// The framing bytes, written out here rather than taken from the valve under test.
constexpr uint8_t STX = 0x02;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;

// The block check, the 8-bit sum of the bytes after STX, computed here as the test's own reading.
inline uint8_t Bcc(const uint8_t* bytes, size_t len) {
    unsigned sum = 0;
    for (size_t i = 0; i < len; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

// Drives a valve through its byte interface with time under the test's control: requests go in
// at the bench's time, and the line is read in 1 ms steps as a receiver would.
class ValveBench {
public:
    using Micros = valve::Micros;
    using Bytes = valve::Bytes;
    static constexpr Micros TICK{1000};

    explicit ValveBench(valve::ValveOptions o = {}) : valve_(std::move(o)) {}

    static Bytes Request(uint8_t cmd, uint8_t data = 0) {
        return {STX, cmd, data, static_cast<uint8_t>(cmd + data)};
    }

    // Sends the bytes and collects what the valve sends during `listen`.
    Bytes Send(const Bytes& bytes, Micros listen = Micros{30'000}) {
        Bytes out = valve_.Step(bytes, now_);
        Bytes more = Run(listen);
        out.insert(out.end(), more.begin(), more.end());
        return out;
    }
    Bytes Ask(uint8_t cmd, uint8_t data = 0) { return Send(Request(cmd, data)); }

    // Lets time pass and collects the line.
    Bytes Run(Micros span) {
        Bytes out;
        const Micros end = now_ + span;
        while (now_ < end) {
            now_ = std::min(now_ + TICK, end);
            Bytes b = valve_.Step({}, now_);
            out.insert(out.end(), b.begin(), b.end());
        }
        return out;
    }

    // Time passes in one go, as when nobody looks at the valve for a while.
    void Skip(Micros span) {
        now_ += span;
        valve_.Step({}, now_);
    }

    Micros Now() const { return now_; }
    valve::Valve& Valve() { return valve_; }

private:
    valve::Valve valve_;
    Micros now_{0};
};

// Splits a sample stream into its 6-byte records.
inline std::vector<valve::Bytes> Records(const valve::Bytes& stream) {
    std::vector<valve::Bytes> records;
    for (size_t i = 0; i + 6 <= stream.size(); i += 6)
        records.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(i),
                             stream.begin() + static_cast<std::ptrdiff_t>(i + 6));
    return records;
}
