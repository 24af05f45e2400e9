#include <gtest/gtest.h>

#include "engine/QlnState.h"
#include "engine/ValveInfoFormat.h"

namespace {

DeviceInfo Sample() {
    DeviceInfo d{};
    d.ControllerFirmware = 7;
    const int digits[6] = {3, 0, 1, 2, 3, 4};
    for (int i = 0; i < 6; ++i)
        d.PartNumberDigit[i] = digits[i];
    d.PartNumberVariant = 0x1A05;
    d.SerialNumber = 0xFFFFFF;
    d.ProductionYear = 0x09;
    d.ProductionWeek = 0x52;
    d.OperationCounter = 100000;
    d.CalibrationYear = 0x24;
    d.CalibrationMonth = 0x03;
    d.CalibrationDay = 0x31;
    d.CalibrationStatus = 1;
    d.CalibrationCounter = 12;
    d.CalibrationTemperature = 23;
    d.ValveTemperature = -5;
    return d;
}

TEST(ValveInfoTextsTest, EveryFieldInItsFormat) {
    const auto t = ValveInfoTexts(Sample(), true, " -- ");
    const std::array<std::string, VI_FIELD_COUNT> expected{"07",       "471-523 012341-A05",
                                                           "16777215", "09",
                                                           "52",       "69",
                                                           "10",       "40",
                                                           "24",       "03",
                                                           "31",       "1",
                                                           "12",       "23",
                                                           "-5"};
    EXPECT_EQ(t, expected);
    for (const std::string& s : ValveInfoTexts(Sample(), false, " -- "))
        EXPECT_EQ(s, " -- ");
}

TEST(ValveInfoTextsTest, CopiedOnlyWhenValidAndNoReadIsPending) {
    DeviceInfo shared = Sample();
    DeviceInfo copy;
    EXPECT_FALSE(SnapshotDeviceInfo(0, shared, copy));
    PublishValid(shared.Valid, 1);
    EXPECT_TRUE(SnapshotDeviceInfo(0, shared, copy));
    EXPECT_EQ(ValveInfoTexts(copy, true, "x"), ValveInfoTexts(shared, true, "x"));
    // These two actions write the record.
    EXPECT_FALSE(SnapshotDeviceInfo(CMD_READ_DEVICE_INFO, shared, copy));
    EXPECT_FALSE(SnapshotDeviceInfo(CMD_BAUDRATE_TEST | CMD_STEP_MODE, shared, copy));
    EXPECT_TRUE(SnapshotDeviceInfo(CMD_STEP_MODE, shared, copy));
}

} // namespace
