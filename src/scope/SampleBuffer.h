#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

// The last recording: analog channels 1..4 in percent and binary channels 1..4 as 0 or 1, 5100
// samples each; element i of every channel belongs to the same sample. The engine fills it while
// the view, printing and saving read it, so every element is an atomic read and written on its
// own (relaxed): a reader may see a recording half old and half new, never a torn value.
class SampleBuffer {
public:
    static constexpr int CHANNELS = 8;
    static constexpr int LENGTH = 5100;
    // As project files store it: eight arrays of 5100 four-byte elements, floats then integers.
    static constexpr size_t BYTES = size_t{CHANNELS} * LENGTH * 4;

    float Analog(int channel, int i) const {
        return analog_[Ch(channel)][At(i)].load(std::memory_order_relaxed);
    }
    int32_t Binary(int channel, int i) const {
        return binary_[Ch(channel)][At(i)].load(std::memory_order_relaxed);
    }
    void SetAnalog(int channel, int i, float v) {
        analog_[Ch(channel)][At(i)].store(v, std::memory_order_relaxed);
    }
    void SetBinary(int channel, int i, int32_t v) {
        binary_[Ch(channel)][At(i)].store(v, std::memory_order_relaxed);
    }
    // Channel 0..7 (analog 1..4, binary 1..4) as a number, for the trigger and the readout.
    double Value(int channel, int i) const {
        return channel < 4 ? static_cast<double>(Analog(channel, i)) : Binary(channel - 4, i);
    }

    // Sample `from` to `to` in every channel.
    void CopySample(int from, int to);
    // Moves samples [count, LENGTH) down by `count` in every channel (the rolling window).
    void ShiftDown(int count);
    void Clear();
    bool Empty() const;                // every element zero
    void SaveTo(uint8_t* bytes) const; // BYTES bytes
    void LoadFrom(const uint8_t* bytes);

private:
    static size_t Ch(int channel) { return static_cast<size_t>(channel & 3); }
    static size_t At(int i) { return static_cast<size_t>(i < 0 ? 0 : i >= LENGTH ? LENGTH - 1 : i); }

    std::array<std::array<std::atomic<float>, LENGTH>, 4> analog_{};
    std::array<std::array<std::atomic<int32_t>, LENGTH>, 4> binary_{};
};
