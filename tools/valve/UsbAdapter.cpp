#include "UsbAdapter.h"

namespace valve {

Bytes UsbAdapter::Pass(std::span<const uint8_t> received, Micros now) {
    Bytes passed;
    for (uint8_t b : received) {
        if (held_.empty()) firstHeld_ = now;
        held_.push_back(b);
        if (held_.size() == PACKET_PAYLOAD) {
            passed.insert(passed.end(), held_.begin(), held_.end());
            held_.clear();
        }
    }
    if (!held_.empty() && now >= firstHeld_ + latency_) {
        passed.insert(passed.end(), held_.begin(), held_.end());
        held_.clear();
    }
    return passed;
}

std::optional<Micros> UsbAdapter::NextDue() const {
    if (held_.empty()) return std::nullopt;
    return firstHeld_ + latency_;
}

} // namespace valve
