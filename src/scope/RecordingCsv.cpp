#include "scope/RecordingCsv.h"

#include <algorithm>
#include <charconv>
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
// "%.3f" / "%.4f" with a '.' whatever the user's locale.
void AppendFixed(std::string& out, double v, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    out.append(buf, r.ptr);
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
    const int first = std::clamp(r.first, 0, SampleBuffer::LENGTH);
    const int count = std::clamp(r.count, 0, SampleBuffer::LENGTH - first);
    std::string line;
    for (int k = 0; k < count; ++k) {
        const int i = first + k;
        line.clear();
        AppendFixed(line, k * static_cast<double>(period), 3);
        for (int c = 0; c < 4; ++c)
            AppendFixed(line += ',', static_cast<double>(b.Analog(c, i)), 4);
        for (int c = 0; c < 4; ++c)
            line += (b.Binary(c, i) & 1) ? ",1" : ",0";
        out << line << '\n';
    }
}
