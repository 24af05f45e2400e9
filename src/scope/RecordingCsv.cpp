#include "scope/RecordingCsv.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace {
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}
} // namespace

RecordedRange RecordedRangeOf(bool roll, int fill, int64_t received) {
    const int valid = std::max(0, std::min(fill, SampleBuffer::LENGTH));
    if (!roll) return {0, valid};
    const int count = static_cast<int>(std::min<int64_t>(valid, std::max<int64_t>(received, 0)));
    return {valid - count, count};
}

void WriteCsv(const SampleBuffer& b, RecordedRange r, float period, std::ostream& out,
              const std::array<std::string, 8>* signalNames) {
    out << "t_s,ana1,ana2,ana3,ana4,bin1,bin2,bin3,bin4\n";
    if (signalNames) {
        for (const std::string& name : *signalNames)
            out << ',' << CsvField(name);
        out << '\n';
    }
    char line[256];
    const int first = std::clamp(r.first, 0, SampleBuffer::LENGTH);
    const int count = std::clamp(r.count, 0, SampleBuffer::LENGTH - first);
    for (int k = 0; k < count; ++k) {
        const int i = first + k;
        std::snprintf(line, sizeof line, "%.3f,%.4f,%.4f,%.4f,%.4f,%d,%d,%d,%d\n",
                      k * static_cast<double>(period), static_cast<double>(b.Analog(0, i)),
                      static_cast<double>(b.Analog(1, i)), static_cast<double>(b.Analog(2, i)),
                      static_cast<double>(b.Analog(3, i)), b.Binary(0, i) & 1, b.Binary(1, i) & 1,
                      b.Binary(2, i) & 1, b.Binary(3, i) & 1);
        out << line;
    }
}
