// The Scope Setup dialog's rules without widgets, with the documented examples.
#include <gtest/gtest.h>

#include "dialogs/ScopeSetupRules.h"

namespace {
ScopeSetup WithMode(int32_t mode, int32_t triggerChannel = 0) {
    ScopeSetup s = DefaultScopeSetup();
    s.Mode = mode;
    s.TriggerChannel = triggerChannel;
    return s;
}
} // namespace

TEST(ScopeSetupRules, OpeningFixesTheRecordItself) {
    ScopeSetup s = DefaultScopeSetup();
    s.AcquisitionTime = 30;
    s.Binary[0] = 5;
    s.Binary[3] = 1;
    PrepareScopeSetup(s);
    EXPECT_EQ(s.AcquisitionTime, 20);
    EXPECT_EQ(s.Binary[0], 0);
    EXPECT_EQ(s.Binary[3], 4);
}

TEST(ScopeSetupRules, EnablingFollowsModeTriggerAndEngine) {
    const ScopeSetupEnabling step = ScopeSetupEnable(WithMode(0), 0, 5);
    EXPECT_TRUE(step.setpoints);
    EXPECT_FALSE(step.rampTime);
    EXPECT_FALSE(step.triggerChannel);
    EXPECT_FALSE(step.slope);
    EXPECT_TRUE(ScopeSetupEnable(WithMode(1), 0, 5).rampTime);
    const ScopeSetupEnabling roll = ScopeSetupEnable(WithMode(2), 0, 5);
    EXPECT_TRUE(roll.triggerChannel);
    EXPECT_FALSE(roll.setpoints);
    EXPECT_FALSE(roll.triggerValue);
    EXPECT_FALSE(roll.slope);
    const ScopeSetupEnabling analog = ScopeSetupEnable(WithMode(2, 3), 0, 5);
    EXPECT_TRUE(analog.triggerValue);
    EXPECT_TRUE(analog.slope);
    const ScopeSetupEnabling binary = ScopeSetupEnable(WithMode(2, 6), 0, 5);
    EXPECT_FALSE(binary.triggerValue) << "a binary trigger has no value";
    EXPECT_TRUE(binary.slope);
    EXPECT_FALSE(ScopeSetupEnable(WithMode(2), 0, 5).masterSlave);
    EXPECT_TRUE(ScopeSetupEnable(WithMode(2), 0, 6).masterSlave) << "only for cascaded control";
    const ScopeSetupEnabling busy = ScopeSetupEnable(WithMode(0), 0x800, 6);
    EXPECT_FALSE(busy.analog || busy.binary || busy.acquisitionTime || busy.modes || busy.setpoints ||
                 busy.masterSlave);
}

TEST(ScopeSetupRules, FieldsAreReadLimitedAndSpun) {
    const ScopeField trigger = ReadScopeField(ScopeFieldKind::TriggerValue, "150");
    EXPECT_EQ(trigger.text, "100");
    EXPECT_EQ(ReadScopeField(ScopeFieldKind::TriggerValue, "-150").text, "-100");
    EXPECT_EQ(ReadScopeField(ScopeFieldKind::AcquisitionTime, "3").text, "4");
    EXPECT_EQ(ReadScopeField(ScopeFieldKind::AcquisitionTime, "12abc").text, "12");
    const ScopeField begin = ReadScopeField(ScopeFieldKind::SetpointBegin, "150");
    EXPECT_EQ(begin.text, "100.0");
    EXPECT_EQ(begin.position, 200);
    EXPECT_EQ(ReadScopeField(ScopeFieldKind::SetpointEnd, "-5").text, "0.0");
    EXPECT_EQ(ReadScopeField(ScopeFieldKind::RampTime, "2.3").position, 23);
    const ScopeField up = StepScopeField(ScopeFieldKind::SetpointBegin, 199, 5);
    EXPECT_EQ(up.position, 200);
    EXPECT_EQ(up.text, "100.0");
    EXPECT_EQ(StepScopeField(ScopeFieldKind::SetpointBegin, 21, 1).text, "11.0");
    EXPECT_EQ(StepScopeField(ScopeFieldKind::RampTime, 0, -1).text, "0.0");
    EXPECT_EQ(StepScopeField(ScopeFieldKind::AcquisitionTime, 20, 1).text, "20");
}

TEST(ScopeSetupRules, TakingOverTheInputs) {
    ScopeSetupInputs in;
    in.analog = {-1, 9, 2, 4};
    in.binary = {3, 7, -1, 0};
    in.triggerChannel = 5;
    in.falling = true;
    in.slave = true;
    in.rateIndex = 5;
    in.mode = 1;
    in.acquisitionTime = "30";
    in.triggerValue = "150";
    in.begin = "12.5";
    in.end = "80";
    in.rampTime = "2.5";
    const ScopeSetup s = TakeOverScopeSetup(DefaultScopeSetup(), in, 5);
    EXPECT_EQ(s.Analog[0].Signal, 0) << "no selection";
    EXPECT_EQ(s.Analog[1].Signal, 3) << "beyond the list: its last entry";
    EXPECT_EQ(s.Analog[3].Signal, 4);
    EXPECT_EQ(s.Binary[0], 0);
    EXPECT_EQ(s.Binary[1], 7);
    EXPECT_EQ(s.Binary[2], 0);
    EXPECT_EQ(s.Binary[3], 4);
    EXPECT_EQ(s.TriggerSlope, 1);
    EXPECT_EQ(s.MasterSlave, 0) << "slave only with cascaded control";
    EXPECT_EQ(s.SampleRateIndex, 5);
    EXPECT_EQ(s.AcquisitionTime, 20);
    EXPECT_EQ(s.TriggerValue, 100);
    EXPECT_EQ(s.SetpointBegin, 12.5f);
    EXPECT_EQ(s.RampTime, 2.5f);
    EXPECT_EQ(TakeOverScopeSetup(DefaultScopeSetup(), in, 6).MasterSlave, 1);
}
