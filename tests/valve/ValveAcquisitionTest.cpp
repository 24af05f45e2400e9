// The virtual valve's sample stream and the flow loop behind it, with time driven by the test.
#include <gtest/gtest.h>

#include <cmath>

#include "scope/StepResponse.h"
#include "valve/ValveBench.h"

namespace {

using valve::Bytes;
using valve::Micros;
using namespace std::chrono_literals;

constexpr uint8_t KPS = 1, ATS = 33, SBS = 29, SES = 31, SAS = 36, TAS = 40, PAS = 41, PRS = 39, ACS = 42,
                  ACR = 43, RSS = 86, STS = 37, RTS = 38;

double Unsigned(uint8_t b) {
    return b * 100.0 / 255.0;
}
double Signed(uint8_t b) {
    return (b - 128) * 200.0 / 255.0;
}

// The records after the ACK that starts a stream.
std::vector<Bytes> StreamAfterAck(const Bytes& out) {
    EXPECT_FALSE(out.empty());
    if (out.empty() || out[0] != ACK) return {};
    return Records(Bytes(out.begin() + 1, out.end()));
}

void ExpectAllRecordsFramed(const std::vector<Bytes>& records) {
    for (size_t i = 0; i < records.size(); ++i)
        ASSERT_EQ(records[i][0], STX) << "record " << i;
}

TEST(ValveRollStream, RunsAtTheSamplePeriodUntilPas) {
    ValveBench bench;
    ASSERT_EQ(bench.Ask(PRS, 4), Bytes{ACK});
    ASSERT_EQ(bench.Ask(ACS, 0), Bytes{ACK});
    const std::vector<Bytes> records = StreamAfterAck(bench.Send(ValveBench::Request(TAS), 1s));
    ExpectAllRecordsFramed(records);
    EXPECT_GE(records.size(), 247u);
    EXPECT_LE(records.size(), 251u);
    EXPECT_TRUE(bench.Valve().Stream().Streaming());

    // PAS: whatever is queued is dropped, ACK, then silence.
    EXPECT_EQ(bench.Ask(PAS), Bytes{ACK});
    EXPECT_TRUE(bench.Run(2s).empty());
}

TEST(ValveRollStream, SlowerPeriodsAndTheSettledLoop) {
    ValveBench bench;
    ASSERT_EQ(bench.Ask(PRS, 20), Bytes{ACK});
    const std::vector<Bytes> records = StreamAfterAck(bench.Send(ValveBench::Request(TAS), 2s));
    ExpectAllRecordsFramed(records);
    EXPECT_NEAR(static_cast<double>(records.size()), 100.0, 2.0);
    // Default channels: setpoint, flow, control deviation, P part. The bench input holds 30 %.
    for (const Bytes& r : records) {
        EXPECT_NEAR(Unsigned(r[1]), 30.0, 0.5);
        EXPECT_NEAR(Unsigned(r[2]), 30.0, 1.5);
        EXPECT_NEAR(Signed(r[3]), 0.0, 1.5);
    }
    EXPECT_EQ(bench.Ask(PAS), Bytes{ACK});
}

TEST(ValveRollStream, RefusesASamplePeriodBelowFourMs) {
    ValveBench bench;
    EXPECT_EQ(bench.Ask(PRS, 1), Bytes{NAK});
    EXPECT_EQ(bench.Ask(PRS, 0), Bytes{NAK});
}

TEST(ValveStepRecording, ThreeSecondsGiveSevenHundredFiftyRecordsAndEndByThemselves) {
    ValveBench bench;
    ASSERT_EQ(bench.Ask(ATS, 3), Bytes{ACK});
    ASSERT_EQ(bench.Ask(34), valve::ValueReply(3));
    ASSERT_EQ(bench.Ask(SBS, 20), Bytes{ACK});  // 10 %
    ASSERT_EQ(bench.Ask(SES, 180), Bytes{ACK}); // 90 %
    ASSERT_EQ(bench.Ask(ACS, 0), Bytes{ACK});

    const std::vector<Bytes> records = StreamAfterAck(bench.Send(ValveBench::Request(SAS, 0), 4s));
    ExpectAllRecordsFramed(records);
    ASSERT_EQ(records.size(), 750u);
    EXPECT_FALSE(bench.Valve().Stream().Streaming());
    EXPECT_TRUE(bench.Run(2s).empty());

    // The step comes after a tenth of the recording (0.3 s, record 75).
    EXPECT_NEAR(Unsigned(records[10][1]), 10.0, 0.5);
    EXPECT_NEAR(Unsigned(records[70][1]), 10.0, 0.5);
    EXPECT_NEAR(Unsigned(records[80][1]), 90.0, 0.5);
    EXPECT_NEAR(Unsigned(records.back()[1]), 90.0, 0.5);
    // The flow follows as a lag: still on its way shortly after the step, there at the end.
    const double justAfter = Unsigned(records[80][2]);
    EXPECT_GT(justAfter, 12.0);
    EXPECT_LT(justAfter, 60.0);
    EXPECT_NEAR(Unsigned(records.back()[2]), 90.0, 1.5);
    // Deviation right after the step is large and positive; the digital output (bit 0) is off
    // while the flow is outside the window and on again at the end.
    EXPECT_GT(Signed(records[76][3]), 50.0);
    EXPECT_EQ(records[80][5] & 1, 0);
    EXPECT_EQ(records.back()[5] & 1, 1);
}

TEST(ValveStepRecording, RampRecordingRampsOverTheRampTime) {
    ValveBench bench;
    ASSERT_EQ(bench.Ask(ATS, 4), Bytes{ACK});
    ASSERT_EQ(bench.Ask(SBS, 0), Bytes{ACK});
    ASSERT_EQ(bench.Ask(SES, 200), Bytes{ACK});
    ASSERT_EQ(bench.Ask(RSS, 10), Bytes{ACK}); // 1.0 s
    const std::vector<Bytes> records = StreamAfterAck(bench.Send(ValveBench::Request(SAS, 1), 5s));
    ASSERT_EQ(records.size(), 1000u);
    // Record k is taken at (k + 1) x 4 ms; the ramp runs from 0.4 s to 1.4 s.
    EXPECT_NEAR(Unsigned(records[50][1]), 0.0, 0.5);
    EXPECT_NEAR(Unsigned(records[224][1]), 50.0, 1.0);
    EXPECT_NEAR(Unsigned(records[400][1]), 100.0, 0.5);
}

TEST(ValveStepRecording, PasStopsARecordingEarlyAndBadModesAreRefused) {
    ValveBench bench;
    EXPECT_EQ(bench.Ask(SAS, 2), Bytes{NAK});
    const std::vector<Bytes> records = StreamAfterAck(bench.Send(ValveBench::Request(SAS, 128), 1s));
    EXPECT_NEAR(static_cast<double>(records.size()), 250.0, 3.0);
    EXPECT_EQ(bench.Ask(PAS), Bytes{ACK});
    EXPECT_TRUE(bench.Run(1s).empty());
}

// ACS selects the signals: channel 1 analog input 2, channel 2 PWM out, channel 3 control out,
// channel 4 I part. The controller output appears on channels 2 and 3 in their two scalings.
TEST(ValveChannels, SelectionIsReportedAndShapesTheRecords) {
    ValveBench bench;
    const uint8_t select = 0x40 | 0x20 | 0x08 | 0x01;
    ASSERT_EQ(bench.Ask(ACS, select), Bytes{ACK});
    EXPECT_EQ(bench.Ask(ACR), valve::ValueReply(select));
    ASSERT_EQ(bench.Ask(PRS, 10), Bytes{ACK});
    const std::vector<Bytes> records = StreamAfterAck(bench.Send(ValveBench::Request(TAS), 1s));
    ASSERT_FALSE(records.empty());
    for (const Bytes& r : records) {
        EXPECT_NEAR(Unsigned(r[1]), 62.0, 4.0) << "inlet pressure, not the 30 % setpoint";
        EXPECT_NEAR(Unsigned(r[2]), Signed(r[3]), 1.0);
        EXPECT_GT(Signed(r[4]), 0.0) << "the I part carries the flow the forward control does not";
    }
}

TEST(ValveChannels, DigitalInputChangesOverTime) {
    ValveBench bench;
    ASSERT_EQ(bench.Ask(PRS, 100), Bytes{ACK});
    const std::vector<Bytes> records = StreamAfterAck(bench.Send(ValveBench::Request(TAS), 11s));
    ASSERT_GT(records.size(), 100u);
    int changes = 0;
    for (size_t i = 1; i < records.size(); ++i)
        changes += ((records[i][5] ^ records[i - 1][5]) & 0x10) != 0;
    EXPECT_EQ(changes, 2);
}

TEST(ValveSerialSetpoint, OverridesTheInputUntilReset) {
    ValveBench bench;
    EXPECT_EQ(bench.Ask(STS, 201), Bytes{NAK});
    ASSERT_EQ(bench.Ask(STS, 150), Bytes{ACK}); // 75 %
    ASSERT_EQ(bench.Ask(PRS, 20), Bytes{ACK});
    std::vector<Bytes> records = StreamAfterAck(bench.Send(ValveBench::Request(TAS), 1s));
    ASSERT_FALSE(records.empty());
    EXPECT_NEAR(Unsigned(records.back()[1]), 75.0, 0.5);
    EXPECT_NEAR(Unsigned(records.back()[2]), 75.0, 1.5);

    // The reset is answered in the middle of the stream, then the input's 30 % returns.
    const Bytes out = bench.Send(ValveBench::Request(RTS), 1s);
    EXPECT_EQ(out.size() % 6, 1u) << "whole records and the one ACK";
    EXPECT_EQ(bench.Ask(PAS), Bytes{ACK});
    const Bytes last(out.end() - 6, out.end());
    EXPECT_EQ(last[0], STX);
    EXPECT_NEAR(Unsigned(last[1]), 30.0, 0.5);
}

} // namespace

// The step the valve records is its flow loop's answer: a higher proportional gain (KPS, 0.01 a
// step) follows the setpoint sooner.
TEST(ValveStepRecording, AHigherGainGivesAShorterT63) {
    std::vector<double> t63;
    for (uint8_t gain : {50, 250}) {
        ValveBench bench;
        ASSERT_EQ(bench.Ask(KPS, gain), Bytes{ACK});
        ASSERT_EQ(bench.Ask(ATS, 4), Bytes{ACK});
        ASSERT_EQ(bench.Ask(ACS, 0), Bytes{ACK});
        std::vector<float> w, y;
        for (const Bytes& r : StreamAfterAck(bench.Send(ValveBench::Request(SAS, 0), 5s))) {
            w.push_back(static_cast<float>(Unsigned(r[1])));
            y.push_back(static_cast<float>(Unsigned(r[2])));
        }
        const std::vector<StepFigures> steps = StepResponse(w, y, 0.004);
        ASSERT_EQ(steps.size(), 1u);
        ASSERT_TRUE(steps[0].t63);
        t63.push_back(*steps[0].t63);
    }
    EXPECT_LT(t63[1], t63[0] - 0.01) << t63[0] << " s at gain 0.5, " << t63[1] << " s at 2.5";
}
