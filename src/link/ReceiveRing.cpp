#include "link/ReceiveRing.h"

#include <algorithm>
#include <cstring>

uint32_t ReceiveRing::Available() const {
    const uint32_t w = write_.load(std::memory_order_acquire);
    const uint32_t r = read_.load(std::memory_order_acquire);
    return (w + RING_SIZE - r) % RING_SIZE;
}

uint32_t ReceiveRing::Free() const {
    return RING_SIZE - 1 - Available();
}

int ReceiveRing::FreeSpans(uint32_t limit, Span out[2]) {
    const uint32_t w = write_.load(std::memory_order_relaxed);
    uint32_t room = std::min(Free(), limit);
    if (room == 0) return 0;
    const uint32_t first = std::min(room, RING_SIZE - w);
    out[0] = {buf_ + w, first};
    room -= first;
    if (room == 0) return 1;
    out[1] = {buf_, room};
    return 2;
}

void ReceiveRing::Commit(uint32_t len) {
    const uint32_t w = write_.load(std::memory_order_relaxed);
    write_.store((w + len) % RING_SIZE, std::memory_order_release);
}

uint32_t ReceiveRing::Append(const uint8_t* data, uint32_t len) {
    Span spans[2];
    const int n = FreeSpans(len, spans);
    uint32_t done = 0;
    for (int i = 0; i < n; ++i) {
        std::memcpy(spans[i].data, data + done, spans[i].size);
        done += spans[i].size;
    }
    Commit(done);
    return done;
}

uint8_t ReceiveRing::Peek(uint32_t offset) const {
    return buf_[(read_.load(std::memory_order_relaxed) + offset) % RING_SIZE];
}

void ReceiveRing::Take(uint8_t* out, uint32_t len) {
    const uint32_t r = read_.load(std::memory_order_relaxed);
    const uint32_t first = std::min(len, RING_SIZE - r);
    std::memcpy(out, buf_ + r, first);
    std::memcpy(out + first, buf_, len - first);
    read_.store((r + len) % RING_SIZE, std::memory_order_release);
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
