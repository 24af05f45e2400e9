#pragma once
#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

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

// A CSV in the form WriteCsv writes (the second header line of signal names may be there or not):
// analog channels 1 and 2 of every row, and the period from the times (their mean spacing; 0
// with fewer than two rows). "nan" and "inf" are read as such.
struct CsvRecording {
    std::vector<float> analog1, analog2;
    double period = 0;
};
// Returns "" or why the text is no such CSV.
std::string ReadCsv(std::string_view text, CsvRecording& out);
// Whether the text begins as such a CSV.
bool LooksLikeCsv(std::string_view text);
