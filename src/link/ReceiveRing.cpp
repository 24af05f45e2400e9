#include "link/ReceiveRing.h"

uint32_t ReceiveRing::Available() const {
    const uint32_t w = write_.load(std::memory_order_acquire);
    const uint32_t r = read_.load(std::memory_order_acquire);
    return (w + RING_SIZE - r) % RING_SIZE;
}

uint32_t ReceiveRing::Free() const {
    return RING_SIZE - 1 - Available();
}

uint32_t ReceiveRing::Append(const uint8_t* data, uint32_t len) {
    uint32_t w = write_.load(std::memory_order_relaxed);
    const uint32_t room = Free();
    if (len > room) len = room;
    for (uint32_t i = 0; i < len; ++i) {
        buf_[w] = data[i];
        w = (w + 1) % RING_SIZE;
    }
    write_.store(w, std::memory_order_release);
    return len;
}

uint8_t ReceiveRing::Peek(uint32_t offset) const {
    return buf_[(read_.load(std::memory_order_relaxed) + offset) % RING_SIZE];
}

void ReceiveRing::Take(uint8_t* out, uint32_t len) {
    uint32_t r = read_.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < len; ++i) {
        out[i] = buf_[r];
        r = (r + 1) % RING_SIZE;
    }
    read_.store(r, std::memory_order_release);
}

void ReceiveRing::Skip(uint32_t len) {
    const uint32_t r = read_.load(std::memory_order_relaxed);
    read_.store((r + len) % RING_SIZE, std::memory_order_release);
}

void ReceiveRing::Clear() {
    read_.store(0, std::memory_order_release);
    write_.store(0, std::memory_order_release);
}

void ReceiveRing::SetIndices(uint32_t read, uint32_t write) {
    read_.store(read % RING_SIZE);
    write_.store(write % RING_SIZE);
}
