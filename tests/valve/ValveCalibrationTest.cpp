// Calibration, matrix, test function and auto-tune of the virtual valve.
#include <algorithm>
#include <gtest/gtest.h>

#include "engine/DeviceCommands.h"
#include "valve/ValveBench.h"

namespace {

using valve::Bytes;
using valve::Micros;
using namespace std::chrono_literals;

constexpr uint8_t SCS = 80, TCS = 81, CRR = 95, CTS = 83, CTR = 84, OCR = 113, ARS = 115, WAS = 116,
                  WAR = 117, CCS = 100, CCR = 101, RSS = 86, PRS = 39, TAS = 40, APS = 145, KPR = 2, TIR = 4;

DeviceInfo Counters(ValveBench& bench) {
    DeviceInfo info{};
    const Bytes r = bench.Ask(OCR);
    EXPECT_EQ(r.size(), 10u);
    if (r.size() == 10) DecodeCounterRecord(r.data(), info);
    return info;
}

valve::ValveOptions WithToday() {
    valve::ValveOptions o;
    o.today = {0x25, 0x06, 0x30};
    return o;
}

TEST(ValveCalibration, EachCheckAdvancesAndACompleteRunIsCountedAndDated) {
    ValveBench bench(WithToday());
    const DeviceInfo before = Counters(bench);
    EXPECT_EQ(bench.Ask(CRR)[1] >> 4, 0) << "no run, no progress";
    EXPECT_EQ(bench.Ask(SCS, 3), Bytes{NAK});
    ASSERT_EQ(bench.Ask(SCS, 1), Bytes{ACK});
    for (int stage = 1; stage <= 5; ++stage) {
        const Bytes r = bench.Ask(CRR);
        ASSERT_EQ(r.size(), 3u);
        EXPECT_EQ(r[1] >> 4, stage);
        EXPECT_EQ(r[2], r[1]);
    }
    EXPECT_EQ(bench.Ask(TCS), valve::ValueReply(0x51));
    const DeviceInfo after = Counters(bench);
    EXPECT_EQ(after.CalibrationCounter, before.CalibrationCounter + 1);
    EXPECT_EQ(after.CalibrationYear, 0x25);
    EXPECT_EQ(after.CalibrationMonth, 0x06);
    EXPECT_EQ(after.CalibrationDay, 0x30);
    EXPECT_EQ(after.CalibrationStatus, 1);
    EXPECT_EQ(bench.Ask(CRR)[1] >> 4, 5) << "the result stays after the run";
}

TEST(ValveCalibration, AnUnfinishedRunIsNotCounted) {
    ValveBench bench(WithToday());
    const DeviceInfo before = Counters(bench);
    ASSERT_EQ(bench.Ask(SCS, 0), Bytes{ACK});
    bench.Ask(CRR);
    bench.Ask(CRR);
    EXPECT_EQ(bench.Ask(TCS)[1] >> 4, 2);
    const DeviceInfo after = Counters(bench);
    EXPECT_EQ(after.CalibrationCounter, before.CalibrationCounter);
    EXPECT_EQ(after.CalibrationDay, before.CalibrationDay);
}

// Each set command and its read command: the DAC halves, the PWM offsets, the outside temperature.
TEST(ValveCalibration, DacPwmAndTemperatureValuesReadBack) {
    ValveBench bench;
    const std::pair<uint8_t, uint8_t> pairs[] = {{91, 92},   {93, 94},   {87, 88},  {89, 90},
                                                 {147, 148}, {149, 150}, {CTS, CTR}};
    uint8_t value = 0x0A;
    for (const auto& [set, read] : pairs) {
        value = static_cast<uint8_t>(value * 5 + 0x17);
        EXPECT_EQ(bench.Ask(set, value), Bytes{ACK}) << int(set);
        EXPECT_EQ(bench.Ask(read), valve::ValueReply(value)) << int(read);
    }
}

// The long form: STX, 116, ten bytes, BCC over the eleven bytes after STX.
Bytes WasRequest(const Bytes& row) {
    Bytes r(2 + row.size());
    r[0] = STX;
    r[1] = WAS;
    std::copy(row.begin(), row.end(), r.begin() + 2);
    r.push_back(Bcc(&r[1], 11));
    return r;
}

TEST(ValveMatrix, AllTwentySixRowsAreStoredAndReadBack) {
    ValveBench bench;
    std::vector<uint8_t> selectors;
    for (int s = 0; s <= 250; s += 10)
        selectors.push_back(static_cast<uint8_t>(s));
    ASSERT_EQ(selectors.size(), 26u);
    for (uint8_t s : selectors) {
        Bytes row;
        for (uint8_t j = 0; j < 10; ++j)
            row.push_back(static_cast<uint8_t>(s + j));
        ASSERT_EQ(bench.Ask(ARS, s), Bytes{ACK});
        ASSERT_EQ(bench.Send(WasRequest(row)), Bytes{ACK});
    }
    for (uint8_t s : selectors) {
        ASSERT_EQ(bench.Ask(ARS, s), Bytes{ACK});
        const Bytes r = bench.Ask(WAR);
        ASSERT_EQ(r.size(), 12u);
        EXPECT_EQ(r[0], STX);
        EXPECT_EQ(r[1], s);
        EXPECT_EQ(r[10], static_cast<uint8_t>(s + 9));
        EXPECT_EQ(r[11], Bcc(&r[1], 10));
    }
}

TEST(ValveMatrix, BadSelectorsAndDamagedRowsAreRefused) {
    ValveBench bench;
    EXPECT_EQ(bench.Ask(ARS, 5), Bytes{NAK});
    EXPECT_EQ(bench.Ask(ARS, 255), Bytes{NAK});
    ASSERT_EQ(bench.Ask(ARS, 40), Bytes{ACK});
    const Bytes before = bench.Ask(WAR);
    Bytes damaged = WasRequest(Bytes(10, 0x33));
    damaged.back() ^= 0xFF;
    EXPECT_EQ(bench.Send(damaged), Bytes{NAK});
    EXPECT_EQ(bench.Ask(WAR), before);
}

// CCS carries the controller configuration and, in bits 6..7, the test function; the step test
// function moves the setpoint between 20 % and 80 %, one RSS time each.
TEST(ValveTestFunction, IsKeptInCcrAndDrivesTheSetpoint) {
    ValveBench bench;
    ASSERT_EQ(bench.Ask(RSS, 10), Bytes{ACK}); // 1.0 s
    ASSERT_EQ(bench.Ask(CCS, 0x80 | 0x23), Bytes{ACK});
    EXPECT_EQ(bench.Ask(CCR), valve::ValueReply(0xA3));
    ASSERT_EQ(bench.Ask(PRS, 100), Bytes{ACK});
    const Bytes out = bench.Send(ValveBench::Request(TAS), 4s);
    const std::vector<Bytes> records = Records(Bytes(out.begin() + 1, out.end()));
    ASSERT_GE(records.size(), 38u);
    std::vector<uint8_t> levels;
    for (const Bytes& r : records)
        if (levels.empty() || levels.back() != r[1]) levels.push_back(r[1]);
    const std::vector<uint8_t> expected{51, 204, 51, 204}; // 20 % and 80 % as bytes
    EXPECT_EQ(std::vector<uint8_t>(levels.begin(), levels.begin() + std::min<size_t>(levels.size(), 4)),
              expected);

    ASSERT_EQ(bench.Ask(41), Bytes{ACK}); // PAS
    ASSERT_EQ(bench.Ask(CCS, 0x23), Bytes{ACK});
    EXPECT_EQ(bench.Ask(CCR), valve::ValueReply(0x23));
}

TEST(ValveAutoTune, ChangesTheGainsAFewSecondsLater) {
    ValveBench bench;
    const Bytes kp = bench.Ask(KPR);
    const Bytes ti = bench.Ask(TIR);
    EXPECT_EQ(bench.Ask(APS, 7), Bytes{NAK});
    ASSERT_EQ(bench.Ask(APS, 1), Bytes{ACK});
    bench.Run(3s);
    EXPECT_EQ(bench.Ask(KPR), kp) << "still tuning";
    bench.Run(1s);
    const Bytes tunedKp = bench.Ask(KPR);
    ASSERT_EQ(tunedKp.size(), 3u);
    EXPECT_NE(tunedKp, kp);
    EXPECT_NE(bench.Ask(TIR), ti);
    EXPECT_GT(tunedKp[1], 0);
}

TEST(ValveAutoTune, TunesTheSelectedSetOnly) {
    ValveBench bench;
    ASSERT_EQ(bench.Ask(96, 0x00), Bytes{ACK}); // factory
    const Bytes factoryKp = bench.Ask(KPR);
    ASSERT_EQ(bench.Ask(96, 0x40), Bytes{ACK}); // custom
    ASSERT_EQ(bench.Ask(APS, 1), Bytes{ACK});
    bench.Run(5s);
    ASSERT_EQ(bench.Ask(96, 0x00), Bytes{ACK});
    EXPECT_EQ(bench.Ask(KPR), factoryKp);
}

} // namespace
