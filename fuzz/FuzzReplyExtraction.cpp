// Arbitrary bytes arriving in arbitrary chunks, in and out of sample-stream mode, anywhere in the
// receive ring: extraction must never read or write outside its buffers.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "link/ComThread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static ManualClock clock;
    auto s = std::make_unique<LinkState>(clock);
    s->SampleStreamMode.store(data[0] & 1);
    s->ExpectedLength.store(static_cast<int32_t>((data[1] | (data[2] << 8)) % 400) - 10);
    const uint32_t start = static_cast<uint32_t>(data[3]) * 79;
    s->Ring.SetIndices(start, start);
    size_t i = 4;
    while (i < size) {
        const size_t chunk = 1 + data[i] % 64;
        ++i;
        const size_t n = chunk < size - i ? chunk : size - i;
        s->Ring.Append(data + i, static_cast<uint32_t>(n));
        i += n;
        ExtractReply(*s);
        if (i < size && (data[i - 1] & 0x80)) s->SampleStreamMode.store(s->SampleStreamMode.load() ^ 1);
    }
    return 0;
}
