#pragma once
#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "scope/SampleBuffer.h"

// A recording as CSV, the same for qln-cli and the desktop program's export.

// The recorded samples of the buffer: `count` of them from element `first`, oldest first.
struct RecordedRange {
    int first;
    int count;
};
// Step and ramp fill the buffer from its start; a roll window ends at the fill index and holds at
// most what was received.
RecordedRange RecordedRangeOf(bool roll, int fill, int64_t received);

// Header "t_s,ana1,...,bin4", then, when `signalNames` are given (analog 1..4, binary 1..4), a
// second header line with them (quoted where a name holds a comma or a quote), then one row per
// sample: time in seconds (3 decimals), analog values in percent (4 decimals), binary values 0 or 1.
void WriteCsv(const SampleBuffer& buffer, RecordedRange range, float period, std::ostream& out,
              const std::array<std::string, 8>* signalNames = nullptr);
