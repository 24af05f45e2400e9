#include "scope/SampleBuffer.h"

#include <cstring>

void SampleBuffer::CopySample(int from, int to) {
    for (int c = 0; c < 4; ++c) {
        SetAnalog(c, to, Analog(c, from));
        SetBinary(c, to, Binary(c, from));
    }
}

void SampleBuffer::ShiftDown(int count) {
    if (count <= 0) return;
    for (int i = count; i < LENGTH; ++i)
        CopySample(i, i - count);
}

void SampleBuffer::Clear() {
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i < LENGTH; ++i) {
            SetAnalog(c, i, 0.0f);
            SetBinary(c, i, 0);
        }
}

bool SampleBuffer::Empty() const {
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i < LENGTH; ++i)
            if (Analog(c, i) != 0.0f || Binary(c, i) != 0) return false;
    return true;
}

void SampleBuffer::SaveTo(uint8_t* bytes) const {
    for (int c = 0; c < CHANNELS; ++c)
        for (int i = 0; i < LENGTH; ++i) {
            uint8_t* at = bytes + (static_cast<size_t>(c) * LENGTH + static_cast<size_t>(i)) * 4;
            if (c < 4) {
                const float v = Analog(c, i);
                std::memcpy(at, &v, 4);
            } else {
                const int32_t v = Binary(c - 4, i);
                std::memcpy(at, &v, 4);
            }
        }
}

void SampleBuffer::LoadFrom(const uint8_t* bytes) {
    for (int c = 0; c < CHANNELS; ++c)
        for (int i = 0; i < LENGTH; ++i) {
            const uint8_t* at = bytes + (static_cast<size_t>(c) * LENGTH + static_cast<size_t>(i)) * 4;
            if (c < 4) {
                float v;
                std::memcpy(&v, at, 4);
                SetAnalog(c, i, v);
            } else {
                int32_t v;
                std::memcpy(&v, at, 4);
                SetBinary(c - 4, i, v);
            }
        }
}
