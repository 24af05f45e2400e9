#include "LineTransmitter.h"

#include <algorithm>

namespace valve {

namespace {
constexpr int64_t BITS_PER_BYTE = 10;
constexpr int64_t NANOS_PER_SECOND = 1'000'000'000;
} // namespace

LineTransmitter::LineTransmitter(int baud)
    : byteTime_(BITS_PER_BYTE * NANOS_PER_SECOND / std::max(baud, 1)) {}

void LineTransmitter::Queue(std::span<const uint8_t> bytes, Micros at) {
    std::chrono::nanoseconds t = std::max<std::chrono::nanoseconds>(lineFree_, at);
    for (uint8_t b : bytes) {
        t += byteTime_;
        queue_.push_back({b, t});
    }
    lineFree_ = t;
}

Bytes LineTransmitter::Take(Micros now) {
    Bytes out;
    while (!queue_.empty() && queue_.front().done <= now) {
        out.push_back(queue_.front().byte);
        queue_.pop_front();
    }
    return out;
}

void LineTransmitter::Drop(Micros now) {
    queue_.clear();
    lineFree_ = std::min<std::chrono::nanoseconds>(lineFree_, now);
}

std::optional<Micros> LineTransmitter::NextDue() const {
    if (queue_.empty()) return std::nullopt;
    return std::chrono::ceil<Micros>(queue_.front().done);
}

} // namespace valve
