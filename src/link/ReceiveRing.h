#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// Bytes received from the port, in arrival order. Single producer (the receiver thread, or the
// simulated valve on the supervisor thread), single consumer (the supervisor). The write side
// keeps one slot free, so at most RING_SIZE - 1 bytes are buffered.
class ReceiveRing {
public:
    static constexpr uint32_t RING_SIZE = 20000;

    // A piece of the buffer the producer may fill.
    struct Span {
        uint8_t* data;
        uint32_t size;
    };

    uint32_t Available() const;
    uint32_t Free() const;
    // Producer: appends what fits and returns the number of bytes taken.
    uint32_t Append(const uint8_t* data, uint32_t len);
    // Producer: the free space, at most `limit` bytes of it, as one or two pieces (the second
    // starts at the beginning of the buffer), so that a read from the port can land in the ring
    // directly. Returns the number of pieces (0 when the ring is full); fill them in order and
    // Commit what was filled.
    int FreeSpans(uint32_t limit, Span out[2]);
    void Commit(uint32_t len);
    // Consumer: the byte `offset` places after the read index (offset < Available()).
    uint8_t Peek(uint32_t offset) const;
    // Consumer: copies `len` bytes (len <= Available()) and advances the read index past them.
    void Take(uint8_t* out, uint32_t len);
    void Skip(uint32_t len);
    // Discards everything; only while neither side is using the ring.
    void Clear();

    uint32_t ReadIndex() const { return read_.load(std::memory_order_relaxed); }
    uint32_t WriteIndex() const { return write_.load(std::memory_order_relaxed); }
    // For tests: place both indices, as if the ring had run that far.
    void SetIndices(uint32_t read, uint32_t write);

private:
    uint8_t buf_[RING_SIZE] = {};
    std::atomic<uint32_t> read_{0};
    std::atomic<uint32_t> write_{0};
};
