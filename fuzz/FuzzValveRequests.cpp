// The virtual valve fed arbitrary line bytes at arbitrary times: its request parser and every
// command handler must survive anything a program on the other end may send.
#include <cstddef>
#include <cstdint>
#include <span>

#include "Valve.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    valve::Valve v;
    valve::Micros now{0};
    size_t i = 0;
    while (i < size) {
        const size_t n = 1 + data[i] % 16;
        ++i;
        const size_t take = n < size - i ? n : size - i;
        (void)v.Step(std::span<const uint8_t>(data + i, take), now);
        i += take;
        now += valve::Micros{1000 + (i < size ? data[i - 1] * 500 : 0)};
    }
    (void)v.Step({}, now + valve::Micros{10'000'000});
    return 0;
}
