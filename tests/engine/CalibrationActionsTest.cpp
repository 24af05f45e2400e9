// The calibration and matrix actions through the real engine threads and a real pseudo-terminal:
// the telegrams on the line, what the replies fill, the notifications, and what failures leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>

#include "support/EngineHarness.h"
#include "support/ScriptedValve.h"

using namespace qln_test;

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Telegram(uint8_t cmd, uint8_t data) {
    return {0x02, cmd, data, static_cast<uint8_t>(cmd + data)};
}

// The command bytes, written out from the protocol description.
constexpr uint8_t SCS = 80, TCS = 81, CTS = 83, CTR = 84, PLS = 87, PLR = 88, PHS = 89, PHR = 90, OLS = 91,
                  OLR = 92, OHS = 93, OHR = 94, CRR = 95, ARS = 115, WAS = 116, WAR = 117, ORS = 147,
                  OPR = 148, ODS = 149, ODR = 150;

// The 26 row selectors of a matrix transfer, in order.
const Bytes SELECTORS = {0,   10,  20,  30,  240, 250, 40,  50,  60,  70,  80,  90,  100,
                         110, 120, 130, 140, 150, 160, 170, 180, 190, 200, 210, 220, 230};

// A valve that acknowledges every calibration write and answers the reads with fixed values; the
// matrix row chosen by ARS s reads back as s, s+1, ... s+9. `spoil` answers the n-th request of
// a command (counted from 1) with a bad BCC, or NAK when `nak` is set, or forever when n is 0.
struct CalibrationValve {
    std::map<uint8_t, uint8_t> values{{CRR, 0x5A}, {TCS, 0x5A}, {OLR, 0xBC}, {OHR, 0xFA}, {PLR, 0x34},
                                      {PHR, 0x12}, {OPR, 40},   {ODR, 42},   {CTR, 23}};
    uint8_t spoilCmd = 0;
    int spoilAt = -1;
    std::map<uint8_t, int> seen;
    uint8_t selector = 0;
    ValveModel model;
    // Called with each request's command and its count before it is answered.
    std::function<void(uint8_t cmd, int n)> watch;

    ScriptedValve::Behaviour Behaviour() {
        return [this](const Bytes& r) -> Bytes {
            const uint8_t cmd = r[1];
            const int n = ++seen[cmd];
            if (watch) watch(cmd, n);
            if (cmd == spoilCmd && (spoilAt == 0 || n == spoilAt)) return {0x15};
            if (cmd == ARS) selector = r[2];
            if (cmd == WAR) {
                Bytes row;
                for (int j = 0; j < 10; ++j)
                    row.push_back(static_cast<uint8_t>(selector + j));
                return Framed(row);
            }
            if (values.count(cmd)) return Framed({values[cmd]});
            if (cmd == 0x23) return model.Answer(r);
            return {0x06};
        };
    }
};

int ValidRows(const CalibrationData& c) {
    int n = 0;
    for (const auto& array : c.ReadMatrix)
        for (const auto& row : array)
            n += row[MATRIX_ROW_VALID] == 1;
    return n;
}

std::vector<Bytes> AfterRateTest(const ScriptedValve& valve) {
    std::vector<Bytes> out;
    for (const auto& r : valve.Requests())
        if (r.bytes[1] != 0x23) out.push_back(r.bytes);
    return out;
}

struct Bench {
    CalibrationValve model;
    EngineRig rig;
    ScriptedValve valve{model.Behaviour(), rig.clock};
    Bench() {
        rig.UseDevice(valve.SlavePath());
        rig.Start();
    }
};
} // namespace

TEST(CalibrationActions, StartCheckAndStopSendTheirTelegramsAndReportTheResultsHighNibble) {
    Bench b;
    {
        std::lock_guard<std::mutex> lock(b.rig.s.calibrationMutex);
        b.rig.s.calibration.StartMode = 2;
        b.rig.s.calibration.OutsideTemperatureSet = 21;
    }
    ASSERT_TRUE(b.rig.Request(CMD_START_CALIBRATION, 0x20));
    ASSERT_TRUE(b.rig.WaitIdle());
    ASSERT_TRUE(b.rig.Request(CMD_CHECK_CALIBRATION, 0x26));
    ASSERT_TRUE(b.rig.WaitIdle());
    const CalibrationData c = CopyCalibration(b.rig.s);
    EXPECT_EQ(c.SpanP2Read, 0xABC) << "OLR 0xBC and the low nibble of OHR 0xFA";
    EXPECT_EQ(c.SpanP2Valid.value, 1);
    EXPECT_EQ(c.SpanDpRead, 0x234);
    EXPECT_EQ(c.OutsideTemperatureRead, 23);
    EXPECT_EQ(c.Result, 0x5A);
    EXPECT_EQ(c.ResultValid.value, 1);

    ASSERT_TRUE(b.rig.Request(CMD_STOP_CALIBRATION, 0x21));
    ASSERT_TRUE(b.rig.WaitIdle());

    EXPECT_EQ(AfterRateTest(b.valve),
              (std::vector<Bytes>{Telegram(SCS, 2), Telegram(CTS, 21), Telegram(CTR, 0), Telegram(CRR, 0),
                                  Telegram(OLR, 0), Telegram(OHR, 0), Telegram(PLR, 0), Telegram(PHR, 0),
                                  Telegram(TCS, 0)}));
    const auto events = b.rig.notifier.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_FALSE(events[0].sent) << "the start is posted";
    EXPECT_TRUE(events[1].sent);
    EXPECT_EQ(events[1].value, 5) << "0x5A -> 5";
    EXPECT_EQ(events[2].code, 0x21u);
    EXPECT_EQ(events[2].value, 5);
    const std::string trace = b.rig.TraceText();
    EXPECT_NE(trace.find(" Start Calibration "), std::string::npos);
    EXPECT_NE(trace.find(" Check Calibration "), std::string::npos);
    EXPECT_NE(trace.find(" Stop Calibration "), std::string::npos);
}

TEST(CalibrationActions, WriteMatrixSendsTheRowsInSelectorOrderAndTheSingleValuesLowByteFirst) {
    Bench b;
    {
        std::lock_guard<std::mutex> lock(b.rig.s.calibrationMutex);
        CalibrationData& c = b.rig.s.calibration;
        for (int j = 0; j < 10; ++j)
            c.SetMatrix[0][0][j] = j + 1;
        c.SetMatrix[7][9][0] = 0x1FF; // only the low byte travels
        c.SpanP2Set = 0x0ABC;
        c.SpanDpSet = 0x0123;
        c.OffsetP2Set = 7;
        c.OffsetDpSet = 8;
        c.OutsideTemperatureSet = 30;
    }
    ASSERT_TRUE(b.rig.Request(CMD_WRITE_MATRIX, 0x23));
    ASSERT_TRUE(b.rig.WaitIdle());
    const auto sent = AfterRateTest(b.valve);
    ASSERT_EQ(sent.size(), 26u * 2 + 7);
    for (size_t i = 0; i < 26; ++i) {
        EXPECT_EQ(sent[2 * i], Telegram(ARS, SELECTORS[i])) << i;
        EXPECT_EQ(sent[2 * i + 1].size(), 13u);
        EXPECT_EQ(sent[2 * i + 1][1], WAS);
    }
    EXPECT_EQ(sent[1], (Bytes{0x02, 0x74, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x74 + 55}));
    EXPECT_EQ(sent[51][2], 0xFF);
    EXPECT_EQ(
        std::vector<Bytes>(sent.begin() + 52, sent.end()),
        (std::vector<Bytes>{Telegram(OLS, 0xBC), Telegram(OHS, 0x0A), Telegram(ORS, 7), Telegram(ODS, 8),
                            Telegram(PLS, 0x23), Telegram(PHS, 0x01), Telegram(CTS, 30)}));
    EXPECT_FALSE(b.rig.notifier.Events()[0].sent) << "posted";
}

TEST(CalibrationActions, ReadMatrixThatFailsInTheLastRowStartsAgainAtArrayZero) {
    Bench b;
    b.model.spoilCmd = WAR;
    b.model.spoilAt = 26;
    {
        std::lock_guard<std::mutex> lock(b.rig.s.calibrationMutex);
        for (auto& array : b.rig.s.calibration.ReadMatrix)
            for (auto& row : array)
                row[MATRIX_ROW_VALID] = 1;
    }
    std::atomic<int> validAtFirstRequest{-1};
    b.model.watch = [&](uint8_t cmd, int n) {
        if (cmd == ARS && n == 1) validAtFirstRequest = ValidRows(CopyCalibration(b.rig.s));
    };
    ASSERT_TRUE(b.rig.Request(CMD_READ_MATRIX, 0x22));
    ASSERT_TRUE(b.rig.WaitIdle());
    const auto sent = AfterRateTest(b.valve);
    ASSERT_EQ(sent.size(), 52u + 52u + 7u) << "26 rows, the failed attempt, then all 26 again";
    EXPECT_EQ(sent[50], Telegram(ARS, 230));
    EXPECT_EQ(sent[52], Telegram(ARS, 0)) << "the retry starts with array 0";
    EXPECT_EQ(std::vector<Bytes>(sent.end() - 7, sent.end()),
              (std::vector<Bytes>{Telegram(OLR, 0), Telegram(OHR, 0), Telegram(OPR, 0), Telegram(ODR, 0),
                                  Telegram(PLR, 0), Telegram(PHR, 0), Telegram(CTR, 0)}));
    EXPECT_EQ(validAtFirstRequest.load(), 0) << "all 80 row-valid flags are cleared before the first ARS";
    const CalibrationData c = CopyCalibration(b.rig.s);
    EXPECT_EQ(ValidRows(c), 26);
    EXPECT_EQ(c.ReadMatrix[0][0][0], 0);
    EXPECT_EQ(c.ReadMatrix[4][0][0], 240);
    EXPECT_EQ(c.ReadMatrix[6][3][9], 79);
    EXPECT_EQ(c.ReadMatrix[7][9][0], 230);
    EXPECT_EQ(c.ReadMatrix[7][9][10], 1) << "row valid";
    EXPECT_EQ(c.ReadMatrix[1][1][10], 0) << "a row no transfer moves is left invalid";
    EXPECT_EQ(c.OffsetP2Read, 40);
    EXPECT_EQ(c.OffsetDpValid.value, 1);
    EXPECT_EQ(c.SpanP2Read, 0xABC);
}

// SCS carries start mode 1 or 2, anything else as 0. A stop also drops a start or check requested
// while it ran.
TEST(CalibrationActions, OtherStartModesSendZeroAndAStopDropsPendingStartsAndChecks) {
    Bench b;
    for (const auto& [mode, sent] : std::vector<std::pair<int32_t, uint8_t>>{{1, 1}, {3, 0}, {-1, 0}}) {
        {
            std::lock_guard<std::mutex> lock(b.rig.s.calibrationMutex);
            b.rig.s.calibration.StartMode = mode;
        }
        ASSERT_TRUE(b.rig.Request(CMD_START_CALIBRATION, 0x20));
        ASSERT_TRUE(b.rig.WaitIdle());
        EXPECT_EQ(AfterRateTest(b.valve).end()[-3], Telegram(SCS, sent)) << "start mode " << mode;
    }
    b.model.watch = [&](uint8_t cmd, int) {
        if (cmd == TCS) b.rig.s.THREAD_CMD.fetch_or(CMD_START_CALIBRATION | CMD_CHECK_CALIBRATION);
    };
    ASSERT_TRUE(b.rig.Request(CMD_STOP_CALIBRATION, 0x21));
    ASSERT_TRUE(b.rig.WaitIdle());
    EXPECT_EQ(AfterRateTest(b.valve).back(), Telegram(TCS, 0)) << "nothing after the stop";
    const auto sent = AfterRateTest(b.valve);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Telegram(SCS, 0)), 2);
}

// Values read by an earlier run must not stay marked valid over half a new value.
TEST(CalibrationActions, AFailedReadLeavesNoValueMarkedValidThatItDidNotComplete) {
    Bench b;
    b.model.spoilCmd = OHR;
    b.model.spoilAt = 0;
    {
        std::lock_guard<std::mutex> lock(b.rig.s.calibrationMutex);
        CalibrationData& c = b.rig.s.calibration;
        c.SpanP2Read = 0x0123;
        c.SpanP2Valid.value = 1;
        c.OffsetP2Valid.value = 1;
        c.TemperaturesValid.value = 1;
        c.ReadMatrix[3][0][10] = 1;
    }
    ASSERT_TRUE(b.rig.Request(CMD_READ_MATRIX, 6));
    ASSERT_TRUE(b.rig.WaitIdle());
    CalibrationData c = CopyCalibration(b.rig.s);
    EXPECT_EQ(c.SpanP2Valid.value, 0) << "low byte 0xBC stored, high nibble never came";
    EXPECT_EQ(c.OffsetP2Valid.value, 0);
    EXPECT_EQ(c.TemperaturesValid.value, 0);
    EXPECT_EQ(c.ReadMatrix[3][0][10], 1) << "the rows were read again before OHR failed";

    RequestAction(b.rig.s, CMD_CHECK_CALIBRATION);
    ASSERT_TRUE(b.rig.notifier.WaitForCount(2));
    ASSERT_TRUE(b.rig.WaitIdle());
    c = CopyCalibration(b.rig.s);
    EXPECT_EQ(c.SpanP2Valid.value, 0);
    EXPECT_EQ(c.ResultValid.value, 1) << "CRR was answered";
}

// The canned valve of test mode always reports the same result; the checks since the start stand in.
TEST(CalibrationActions, InTestModeTheChecksSinceTheStartAreTheResult) {
    EngineRig rig;
    rig.UseTestMode();
    rig.Start();
    ASSERT_TRUE(rig.Request(CMD_START_CALIBRATION, 0x20));
    ASSERT_TRUE(rig.WaitIdle());
    for (size_t i = 0; i < 17; ++i) {
        RequestAction(rig.s, CMD_CHECK_CALIBRATION);
        ASSERT_TRUE(rig.notifier.WaitForCount(i + 2));
        ASSERT_TRUE(rig.WaitIdle());
    }
    ASSERT_TRUE(rig.Request(CMD_STOP_CALIBRATION, 0x21));
    ASSERT_TRUE(rig.WaitIdle());
    const auto events = rig.notifier.Events();
    EXPECT_EQ(events[1].value, 1);
    EXPECT_EQ(events[17].value, 1) << "17 checks: 17 mod 16";
    EXPECT_EQ(events.back().value, 1);
    EXPECT_EQ(CopyCalibration(rig.s).Result, 17);

    ASSERT_TRUE(rig.Request(CMD_WRITE_MATRIX | CMD_READ_MATRIX, 0x22));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(CopyCalibration(rig.s).ReadMatrix[5][0][9], 10) << "the canned row 1..10";
}
