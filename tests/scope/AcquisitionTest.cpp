// The arithmetic of a recording: timing, telegram bytes, record decoding and the trigger, with the
// documented examples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "scope/Acquisition.h"

namespace {
ScopeSetup MakeSetup(int seconds, int rateIndex) {
    ScopeSetup s = DefaultScopeSetup();
    s.AcquisitionTime = seconds;
    s.SampleRateIndex = rateIndex;
    return s;
}
} // namespace

TEST(AcquisitionPlan, FollowsTheSamplePeriod) {
    const AcquisitionPlan roll8 = PlanRoll(MakeSetup(8, 0));
    EXPECT_EQ(roll8.windowLength, 2000);
    EXPECT_EQ(roll8.blockSize, 49);
    EXPECT_EQ(roll8.displayThreshold, 122) << "a progress about every 123 records";
    EXPECT_EQ(roll8.postTrigger, 1798) << "trunc(8 x 0.9 / 0.004) - 1 with the float period";

    const AcquisitionPlan slow = PlanRoll(MakeSetup(8, 5));
    EXPECT_EQ(slow.blockSize, 1);
    EXPECT_EQ(slow.displayThreshold, 2);
    EXPECT_EQ(slow.windowLength, 40);

    const int blocks[] = {49, 20, 10, 5, 1, 1}, thresholds[] = {122, 48, 23, 10, 2, 2};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(PlanRoll(MakeSetup(4, i)).blockSize, blocks[i]) << i;
        EXPECT_EQ(PlanRoll(MakeSetup(4, i)).displayThreshold, thresholds[i]) << i;
    }
    EXPECT_EQ(PlanRecording(MakeSetup(8, 3)).windowLength, 2000) << "ramp and step always record at 4 ms";
    EXPECT_EQ(PlanRecording(MakeSetup(20, 0)).windowLength, 5000);
    EXPECT_EQ(PeriodMilliseconds(5), 200);
}

TEST(AcquisitionPlan, ASetUpFromAFileCannotIndexPastTheBuffer) {
    ScopeSetup s = DefaultScopeSetup();
    s.AcquisitionTime = 300;
    s.SampleRateIndex = 9;
    s.TriggerChannel = 12;
    s.TriggerSlope = 7;
    s.TriggerValue = 1000;
    s.Analog[1].Signal = 200;
    s.Binary[1] = -3;
    s.Binary[0] = 6;
    s.SetpointBegin = std::numeric_limits<float>::quiet_NaN();
    s.RampTime = 1e9f;
    const ScopeSetup c = CheckedForRecording(s);
    EXPECT_EQ(c.AcquisitionTime, 20);
    EXPECT_EQ(c.SampleRateIndex, 5);
    EXPECT_EQ(c.TriggerChannel, 8);
    EXPECT_EQ(c.TriggerSlope, 1);
    EXPECT_EQ(c.TriggerValue, 100);
    EXPECT_EQ(c.Analog[1].Signal, 3) << "the last of the four signals of channel 2";
    EXPECT_EQ(c.Binary[1], 0);
    EXPECT_EQ(c.Binary[0], 0);
    EXPECT_EQ(c.Binary[3], 4);
    EXPECT_EQ(c.SetpointBegin, 0.0f);
    EXPECT_EQ(c.RampTime, 20.0f);
    s.AcquisitionTime = -5;
    s.SampleRateIndex = 0;
    EXPECT_EQ(PlanRoll(CheckedForRecording(s)).windowLength, 1000) << "4 s at least";
    s.AcquisitionTime = 20;
    EXPECT_LE(PlanRoll(CheckedForRecording(s)).windowLength, 5000);
}

TEST(AcquisitionTelegrams, AnalogSelectionAndItsReport) {
    ScopeSetup s = DefaultScopeSetup(); // signals 0, 0, 3 (none), 4 (none)
    EXPECT_EQ(AnalogSelectByte(s), 0x00);
    s.Analog[0].Signal = 1;
    s.Analog[1].Signal = 2;
    s.Analog[2].Signal = 2;
    s.Analog[3].Signal = 3;
    EXPECT_EQ(AnalogSelectByte(s), 0x40 | 0x20 | 0x08 | 0x03);

    ScopeSetup r{};
    DecodeAnalogReport(0x6B, r);
    EXPECT_EQ(r.Analog[0].Reported, 1);
    EXPECT_EQ(r.Analog[1].Reported, 2);
    EXPECT_EQ(r.Analog[2].Reported, 2);
    EXPECT_EQ(r.Analog[3].Reported, 3);
    EXPECT_EQ(r.AnalogReportedValid, 1);
    DecodeAnalogReport(0x8C, r);
    EXPECT_EQ(r.Analog[0].Reported, 0) << "128 is outside 64..127";
    EXPECT_EQ(r.Analog[2].Reported, 0) << "0x0C reads as 0";
}

TEST(SampleRecords, DecodeScalesAndPicksTheBinarySignals) {
    auto buffer = std::make_unique<SampleBuffer>();
    ScopeSetup s = CheckedForRecording(DefaultScopeSetup());
    s.Binary[1] = 4;
    const uint8_t record[6] = {0x02, 255, 51, 0, 192, 0x11};
    ASSERT_TRUE(DecodeSampleRecord(record, s, *buffer, 7));
    EXPECT_FLOAT_EQ(buffer->Analog(0, 7), 100.0f);
    EXPECT_FLOAT_EQ(buffer->Analog(1, 7), 20.0f);
    EXPECT_NEAR(buffer->Analog(2, 7), -100.39f, 0.01f);
    EXPECT_NEAR(buffer->Analog(3, 7), 50.196f, 0.001f);
    EXPECT_EQ(buffer->Binary(0, 7), 1) << "bit 0";
    EXPECT_EQ(buffer->Binary(1, 7), 1) << "signal 4: bit 4";
    EXPECT_EQ(buffer->Binary(2, 7), 0) << "signal 2: bit 2";
    EXPECT_EQ(buffer->Binary(3, 7), 1) << "bit 4";
    const uint8_t noStx[6] = {0x03, 255, 255, 255, 255, 0xFF};
    EXPECT_FALSE(DecodeSampleRecord(noStx, s, *buffer, 8));
    EXPECT_EQ(buffer->Analog(0, 8), 0.0f);
}

TEST(Trigger, FiresOnceOnTheDocumentedEdges) {
    auto b = std::make_unique<SampleBuffer>();
    ScopeSetup s = DefaultScopeSetup();
    s.TriggerChannel = 1;
    s.TriggerValue = 50;
    TriggerTest t;
    b->SetAnalog(0, 0, 50.0f);
    b->SetAnalog(0, 1, 60.0f);
    EXPECT_EQ(t.Test(s, *b, 1, 2), "") << "50 then 60 does not cross 50 from below";
    b->SetAnalog(0, 2, 40.0f);
    b->SetAnalog(0, 3, 50.0f);
    EXPECT_EQ(t.Test(s, *b, 3, 4), "Rising Trigger, Ana-Ch:1, Value:50, 50.0, 40.0");
    EXPECT_TRUE(t.Fired());
    EXPECT_EQ(t.Test(s, *b, 3, 5), "") << "only the first firing is traced";
    EXPECT_TRUE(t.Fired());

    s.TriggerChannel = 6; // binary channel 2
    s.TriggerSlope = 1;
    TriggerTest bin;
    b->SetBinary(1, 10, 1);
    b->SetBinary(1, 11, 0);
    EXPECT_EQ(bin.Test(s, *b, 11, 1), "") << "fewer than two records since the start";
    EXPECT_EQ(bin.Test(s, *b, 11, 12), "Falling Trigger, Bin-Ch:2, 0, 1");
    s.TriggerChannel = 0;
    EXPECT_EQ(bin.Test(s, *b, 11, 13), "");
    EXPECT_FALSE(bin.Fired()) << "roll mode resets the trigger";
}

TEST(SampleBufferBytes, RoundTripAsProjectFilesStoreIt) {
    auto a = std::make_unique<SampleBuffer>();
    a->SetAnalog(2, 5099, -12.5f);
    a->SetBinary(3, 0, 1);
    std::vector<uint8_t> bytes(SampleBuffer::BYTES);
    a->SaveTo(bytes.data());
    const float f = -12.5f;
    EXPECT_EQ(std::memcmp(bytes.data() + (2 * 5100 + 5099) * 4, &f, 4), 0);
    EXPECT_EQ(bytes[(7 * 5100) * 4], 1) << "binary channel 4, sample 0";
    auto b = std::make_unique<SampleBuffer>();
    b->LoadFrom(bytes.data());
    EXPECT_EQ(b->Analog(2, 5099), -12.5f);
    EXPECT_EQ(b->Binary(3, 0), 1);
    b->ShiftDown(100);
    EXPECT_EQ(b->Analog(2, 4999), -12.5f);
}
