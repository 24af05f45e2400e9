#include "scope/RecordingCsv.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>

namespace {
constexpr std::string_view HEADER = "t_s,ana1,ana2,ana3,ana4,bin1,bin2,bin3,bin4";
constexpr int COLUMNS = 9;

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
// The fields of one row, which holds numbers only (no quotes).
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t from = 0;;) {
        const size_t comma = line.find(',', from);
        fields.push_back(line.substr(from, comma == std::string_view::npos ? comma : comma - from));
        if (comma == std::string_view::npos) return fields;
        from = comma + 1;
    }
}

bool Number(std::string_view field, double& v) {
    const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
    return r.ec == std::errc() && r.ptr == field.data() + field.size();
}

std::string_view NextLine(std::string_view& text) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}
} // namespace

bool LooksLikeCsv(std::string_view text) {
    return text.substr(0, HEADER.size()) == HEADER;
}

std::string ReadCsv(std::string_view text, CsvRecording& out) {
    out = {};
    if (NextLine(text) != HEADER) return "its first line is not " + std::string(HEADER);
    double first = 0, last = 0;
    for (int line = 2; !text.empty(); ++line) {
        const std::string_view row = NextLine(text);
        if (line == 2 && !row.empty() && row.front() == ',') continue; // the signal names
        if (row.empty() && text.empty()) break;
        const std::vector<std::string_view> fields = Fields(row);
        double v[COLUMNS];
        bool numbers = fields.size() == COLUMNS;
        for (int c = 0; numbers && c < COLUMNS; ++c)
            numbers = Number(fields[static_cast<size_t>(c)], v[c]);
        if (!numbers) return "line " + std::to_string(line) + " is not 9 numbers";
        if (out.analog1.size() >= SampleBuffer::LENGTH)
            return "it holds more than " + std::to_string(SampleBuffer::LENGTH) + " samples";
        (out.analog1.empty() ? first : last) = v[0];
        out.analog1.push_back(static_cast<float>(v[1]));
        out.analog2.push_back(static_cast<float>(v[2]));
    }
    const size_t n = out.analog1.size();
    if (n < 2) return "";
    out.period = (last - first) / static_cast<double>(n - 1);
    if (!std::isfinite(out.period) || out.period <= 0) return "its times (t_s) do not increase";
    return "";
}

RecordedRange RecordedRangeOf(bool roll, int fill, int64_t received) {
    const int valid = std::max(0, std::min(fill, SampleBuffer::LENGTH));
    if (!roll) return {0, valid};
    const int count = static_cast<int>(std::min<int64_t>(valid, std::max<int64_t>(received, 0)));
    return {valid - count, count};
}

void WriteCsv(const SampleBuffer& b, RecordedRange r, float period, std::ostream& out,
              const std::array<std::string, 8>* signalNames) {
    out << HEADER << '\n';
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
