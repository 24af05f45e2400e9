#include "engine/ValveInfoFormat.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

DeviceInfo WithPartNumber(std::initializer_list<int32_t> digits, int32_t variant) {
    DeviceInfo d{};
    int i = 0;
    for (int32_t digit : digits)
        d.PartNumberDigit[i++] = digit;
    d.PartNumberVariant = variant;
    return d;
}

TEST(ValveInfoFormatTest, PartNumberShowsTheVariantSuffixOnlyWhenItHasOne) {
    struct Case {
        int32_t variant;
        const char* text;
    };
    for (const Case& c :
         {Case{0x1000, "471-523 012341"}, Case{0x1A05, "471-523 012341-A05"}, Case{0x2000, "471-523 012342"},
          Case{0x2001, "471-523 012342-001"}, Case{0x0000, "471-523 012340"},
          Case{0x0100, "471-523 012340-100"}, Case{0xFFFF, "471-523 01234F-FFF"}}) {
        EXPECT_EQ(FormatPartNumber(WithPartNumber({3, 0, 1, 2, 3, 4}, c.variant)), c.text)
            << std::hex << c.variant;
    }
    EXPECT_EQ(FormatPartNumber(WithPartNumber({15, 10, 11, 12, 13, 14}, 0x1000)), "471-52F ABCDE1");
}

TEST(ValveInfoFormatTest, OutOfRangeRecordValuesStayInTheirDigits) {
    // A project file can hold anything in these fields; the text keeps its shape.
    EXPECT_EQ(FormatPartNumber(WithPartNumber({-1, 16, 0, 0, 0, 0}, -1)), "471-52F 00000F-FFF");
    EXPECT_EQ(FormatPartNumber(WithPartNumber({0, 0, 0, 0, 0, 0}, 0x12000)), "471-520 000002");
    EXPECT_EQ(FormatBcd(0x115), "15");
    EXPECT_EQ(FormatBcd(-1), "FF");
}

TEST(ValveInfoFormatTest, BcdBytesShowAsTwoDigits) {
    EXPECT_EQ(FormatBcd(0x09), "09");
    EXPECT_EQ(FormatBcd(0x15), "15");
    EXPECT_EQ(FormatBcd(0x00), "00");
    EXPECT_EQ(FormatBcd(0x99), "99");
}

TEST(ValveInfoFormatTest, OperationCounterSplitsIntoDaysHoursMinutes) {
    struct Case {
        int32_t minutes;
        int32_t days, hours, mins;
    };
    for (const Case& c :
         {Case{0, 0, 0, 0}, Case{59, 0, 0, 59}, Case{60, 0, 1, 0}, Case{1439, 0, 23, 59}, Case{1440, 1, 0, 0},
          Case{100000, 69, 10, 40}, Case{0xFFFFFF, 11650, 20, 15}, Case{-1, 0, 0, 0}, Case{-1441, 0, 0, 0},
          Case{std::numeric_limits<int32_t>::min(), 0, 0, 0}}) {
        const OperationTime t = SplitOperationCounter(c.minutes);
        EXPECT_EQ(t.days, c.days) << c.minutes;
        EXPECT_EQ(t.hours, c.hours) << c.minutes;
        EXPECT_EQ(t.minutes, c.mins) << c.minutes;
    }
}

} // namespace
