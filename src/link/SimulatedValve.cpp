#include "link/SimulatedValve.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace {
enum class Reply {
    Value40,       // STX 0x40 BCC whatever the request holds
    Ack,           // ACK when valid, else NAK; resets the sample counter
    AckIfIdle,     // like Ack, but NAK unless the sample counter was 0
    AckLong,       // the 13-byte matrix row
    Value,         // STX value BCC when valid, else STX NAK 0x00
    ValueFF,       // STX 0xFF BCC whatever the request holds
    DeviceRecord,  // 12-byte identity record
    CounterRecord, // 10-byte counter record
    MatrixRow,     // 12-byte matrix row
    Samples,       // the sample stream
};

struct Row {
    Reply reply;
    uint8_t value;
    std::initializer_list<uint8_t> commands;
};

// The reads FTR (45), IRR (77), OPR (148) and ODR (150) and the writes ORS (147) and ODS (149)
// are answered like their neighbours, so that every action can complete in test mode.
const Row TABLE[] = {
    {Reply::Value40, 0x40, {2,  4,  6,  8,  10, 12, 14, 16, 18, 20,  24,  26,  49,  51,  53, 55, 57,  59, 61,
                            65, 67, 69, 71, 73, 75, 85, 97, 99, 101, 103, 105, 107, 127, 45, 77, 148, 150}},
    {Reply::Ack, 0, {1,  3,  5,  7,  9,  11, 13, 15, 17, 19, 23,  25,  29,  31,  33,  36,  37,  38,
                     39, 40, 42, 44, 48, 50, 52, 54, 56, 58, 60,  62,  64,  66,  68,  70,  72,  74,
                     76, 80, 83, 86, 87, 89, 91, 93, 96, 98, 100, 102, 104, 106, 115, 145, 147, 149}},
    {Reply::AckIfIdle, 0, {41}},
    {Reply::AckLong, 0, {116}},
    {Reply::Value, 0x1B, {30, 32, 34, 43, 63, 82, 84}},
    {Reply::Value, 0x17, {35}},
    {Reply::Value, 0x10, {88, 92}},
    {Reply::Value, 0x03, {90, 94}},
    {Reply::Value, 0x83, {81, 95}},
    {Reply::Value, 0x00, {108}},
    {Reply::ValueFF, 0xFF, {110}},
    {Reply::DeviceRecord, 0, {112}},
    {Reply::CounterRecord, 0, {113}},
    {Reply::MatrixRow, 0, {117}},
    {Reply::Samples, 0, {254, 255}},
};

const Row* Find(uint8_t cmd) {
    for (const Row& row : TABLE)
        if (std::find(row.commands.begin(), row.commands.end(), cmd) != row.commands.end()) return &row;
    return nullptr;
}

void Append(LinkState& s, std::vector<uint8_t> bytes) {
    s.Ring.Append(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> Framed(std::vector<uint8_t> data) {
    const uint8_t bcc = Bcc(data.data(), data.size());
    data.insert(data.begin(), STX);
    data.push_back(bcc);
    return data;
}

void AppendSamples(LinkState& s) {
    const auto expected = static_cast<uint32_t>(std::max<int32_t>(s.ExpectedLength.load(), 0));
    std::vector<uint8_t> out;
    out.reserve(expected + 6);
    while (out.size() < expected) {
        const uint32_t c = s.SimSampleCounter;
        uint8_t rec[6] = {STX,
                          static_cast<uint8_t>(static_cast<int>((std::sin(0.01 * c) * 50 + 50) * 2.55)),
                          static_cast<uint8_t>(static_cast<int>((201.0 - c) * 2.55) & 0xFF),
                          0xC0,
                          0x80,
                          0x02};
        s.SimSampleCounter = c + 1;
        if (s.SimSampleCounter < 100) {
            rec[2] = 0;
            rec[5] = 0;
        }
        if (s.SimSampleCounter > 3000) s.SimSampleCounter = 0;
        out.insert(out.end(), rec, rec + 6);
    }
    out.resize(expected);
    Append(s, out);
}
} // namespace

void SimulatedValveAnswer(LinkState& s) {
    const uint8_t* t = s.TransmitBuffer;
    const uint8_t cmd = t[1];
    const bool valid = t[0] == STX && Bcc(t + 1, 2) == t[3];
    const Row* row = Find(cmd);
    if (!row) {
        Append(s, {0x00, 0x01, 0x02, 0x00});
        return;
    }
    switch (row->reply) {
    case Reply::Value40:
    case Reply::ValueFF:
        Append(s, Framed({row->value}));
        break;
    case Reply::Ack:
        Append(s, {valid ? ACK : NAK});
        s.SimSampleCounter = 0;
        break;
    case Reply::AckIfIdle:
        Append(s, {valid && s.SimSampleCounter == 0 ? ACK : NAK});
        s.SimSampleCounter = 0;
        break;
    case Reply::AckLong:
        Append(s, {t[0] == STX && Bcc(t + 1, 11) == t[12] ? ACK : NAK});
        s.SimSampleCounter = 0;
        break;
    case Reply::Value:
        Append(s, valid ? Framed({row->value}) : std::vector<uint8_t>{STX, NAK, 0x00});
        break;
    case Reply::DeviceRecord:
        Append(s, valid ? Framed({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}) : std::vector<uint8_t>{STX, NAK, NAK});
        break;
    case Reply::CounterRecord:
        Append(s, valid ? Framed({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77})
                        : std::vector<uint8_t>{STX, NAK, 0x00});
        break;
    case Reply::MatrixRow:
        Append(s, valid ? Framed({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) : std::vector<uint8_t>{STX, NAK, 0x00});
        break;
    case Reply::Samples:
        AppendSamples(s);
        break;
    }
}
