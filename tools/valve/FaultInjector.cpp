#include "FaultInjector.h"

namespace valve {

namespace {
constexpr uint32_t MAX_JUNK = 4;
constexpr uint8_t BCC_DAMAGE = 0x5A;
} // namespace

Fault FaultInjector::Decide() {
    if (o_.silent) return Fault::Drop;
    ++requests_;
    if (Due(o_.dropEvery, requests_)) return Fault::Drop;
    if (Due(o_.nakEvery, requests_)) return Fault::Nak;
    return Fault::None;
}

// Junk as a disturbed line delivers it; never a byte that could pass for a reply's first byte.
uint8_t FaultInjector::JunkByte() {
    for (;;) {
        rng_ = rng_ * 1664525u + 1013904223u;
        const auto b = static_cast<uint8_t>(rng_ >> 24);
        if (b != STX && b != ACK && b != NAK) return b;
    }
}

Bytes FaultInjector::Shape(Bytes reply) {
    if (reply.size() >= 3 && reply.front() == STX && Due(o_.badBccEvery, ++checked_))
        reply.back() ^= BCC_DAMAGE;
    if (Due(o_.garbageEvery, ++replies_)) {
        Bytes junk(1 + (rng_ >> 8) % MAX_JUNK);
        for (uint8_t& b : junk)
            b = JunkByte();
        reply.insert(reply.begin(), junk.begin(), junk.end());
    }
    return reply;
}

} // namespace valve
