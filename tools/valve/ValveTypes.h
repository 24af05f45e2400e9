#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace valve {

// The line's framing bytes, as the valve's firmware knows them: a telegram starts with STX, a write
// is answered with ACK or refused with NAK.
constexpr uint8_t STX = 0x02;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;

// The block check: the 8-bit sum of the bytes after STX.
inline uint8_t Bcc(const uint8_t* bytes, size_t len) {
    uint8_t sum = 0;
    for (size_t i = 0; i < len; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

using Bytes = std::vector<uint8_t>;
// The valve's own time base: microseconds since it was switched on.
using Micros = std::chrono::microseconds;

// A date as the valve keeps it: two BCD digits each.
struct BcdDate {
    uint8_t year = 0x24;
    uint8_t month = 0x01;
    uint8_t day = 0x01;
};

// STX, the value bytes, their BCC: the form of every reply that carries data.
inline Bytes ValueReply(std::span<const uint8_t> values) {
    Bytes reply{STX};
    reply.insert(reply.end(), values.begin(), values.end());
    reply.push_back(Bcc(values.data(), values.size()));
    return reply;
}

inline Bytes ValueReply(uint8_t value) {
    return {STX, value, value};
}
inline Bytes AckReply() {
    return {ACK};
}
inline Bytes NakReply() {
    return {NAK};
}

inline uint8_t ToBcd(int v) {
    return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10));
}

} // namespace valve
