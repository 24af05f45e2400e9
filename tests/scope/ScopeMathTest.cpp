// The scope plot's arithmetic with the documented examples: divisions and labels, positions,
// snapping, zooming, the readout, and inputs that must not divide by zero or leave the buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>

#include "scope/RecordingCsv.h"
#include "scope/ScopeMath.h"
#include "scope/ScopeSignalNames.h"

namespace {
// An 8 s recording in step mode, or in trigger mode at the given period.
ScopeWindow Step8() {
    return ResetTimeAxis(0, 0, 8, 0.004);
}
ScopeWindow Trigger8(int rateIndex) {
    return ResetTimeAxis(2, rateIndex, 8, 0.004);
}
} // namespace

TEST(ScopeDivisions, TimeDivisionsFollowTheDocumentedRule) {
    EXPECT_EQ(TimeDivisionCount(2000), 3) << "2000 reduced by 5, 25, 125, 625";
    EXPECT_EQ(TimeDivisionCount(10), 10);
    EXPECT_EQ(TimeDivisionCount(0), 1);
    const TimeDivisions d = TimeDivisionsOf(Step8());
    ASSERT_EQ(d.count, 3);
    EXPECT_EQ(d.x[0], 430);
    EXPECT_EQ(d.x[3], 1130);
    EXPECT_EQ(TimeLabel(d.time[0]), "0.000");
    EXPECT_EQ(TimeLabel(d.time[3]), "8.000");
}

TEST(ScopeDivisions, TriggerModeLabelsDecreaseFromLeftToRight) {
    const TimeDivisions d = TimeDivisionsOf(Trigger8(0));
    ASSERT_EQ(d.count, 3);
    EXPECT_EQ(TimeLabel(d.time[0]), "8.000");
    EXPECT_EQ(TimeLabel(d.time[1]), "5.333");
    EXPECT_EQ(TimeLabel(d.time[3]), "0.000");
}

TEST(ScopeDivisions, DefaultRangeLabelsOnBothScales) {
    const ValueDivisions d = ValueDivisionsOf(-11, 100);
    ASSERT_EQ(d.rows.size(), 12u);
    std::vector<std::string> left, right;
    for (size_t i = 0; i < d.rows.size(); ++i) {
        left.push_back(ValueLabel(d.rows[i].left, i == 0));
        right.push_back(ValueLabel(d.rows[i].right, i == 0));
    }
    EXPECT_EQ(left, (std::vector<std::string>{"100 %", " 90", " 80", " 70", " 60", " 50", " 40", " 30", " 20",
                                              " 10", "  0", "-10"}));
    EXPECT_EQ(right.front(), "100 %");
    EXPECT_EQ(right[1], " 80");
    EXPECT_EQ(right.back(), "-120");
    EXPECT_EQ(d.rows.front().y, 100);
    EXPECT_TRUE(d.rows[10].tick);
    EXPECT_FALSE(d.rows.back().tick) << "the last row has no tick";
}

TEST(ScopeDivisions, NarrowAndEmptyRangesStillDivide) {
    EXPECT_EQ(ValueDivisionsOf(40, 45).count, 5) << "a span below 11 gets one division per percent";
    EXPECT_EQ(ValueDivisionsOf(0, 20).count, 10) << "span 20: count 2 becomes 20 / 2";
    // An empty range counts as one percent: one division from the top of the plot to its bottom.
    const ValueDivisions empty = ValueDivisionsOf(50, 50);
    ASSERT_EQ(empty.rows.size(), 2u);
    EXPECT_EQ(empty.rows[0].left, 50);
    EXPECT_EQ(empty.rows[1].left, 49);
    EXPECT_EQ(empty.rows[1].y, 600);
    EXPECT_LE(ValueDivisionsOf(-100000, 100000).rows.size(), 25u);
}

TEST(ScopePositions, ValuesAndSamplesLandOnTheirUnits) {
    EXPECT_EQ(AnalogY(0, 50.0, 0, 100), 350);
    EXPECT_EQ(AnalogY(0, 50.0, -11, 100), 325);
    EXPECT_EQ(AnalogY(1, 100.0, -11, 100), 100);
    EXPECT_EQ(AnalogY(2, 100.0, -11, 100), 100) << "the right scale reads 100 at the top";
    EXPECT_EQ(AnalogY(3, -100.0, 0, 100), 600) << "and -100 at the bottom of 0 .. 100 %";
    EXPECT_EQ(SampleX(1000, UnitsPerSample(Step8())), 780);
    EXPECT_EQ(VisibleSampleCount(Step8()), 2000);
}

TEST(ScopePositions, BrokenNumbersAreSkippedOrKeptFarAway) {
    EXPECT_FALSE(AnalogY(0, std::nan(""), -11, 100).has_value());
    const auto high = AnalogY(0, std::numeric_limits<double>::infinity(), -11, 100);
    ASSERT_TRUE(high.has_value());
    EXPECT_LT(*high, -1000);
    EXPECT_EQ(AnalogReadoutText(0, 0, std::numeric_limits<float>::quiet_NaN()), "--");
    EXPECT_EQ(AnalogReadoutText(2, 3, 5.0f), "--") << "channel 3 showing none";
    EXPECT_EQ(AnalogReadoutText(3, 3, 5.0f), "5.0");
}

TEST(ScopeReadout, TypedTimeSnapsToTheSampleGrid) {
    ScopeWindow w = Trigger8(3); // 40 ms
    const ReadoutEntry e = TakeReadoutEntry(w, "3.3");
    EXPECT_DOUBLE_EQ(e.time, 3.32);
    EXPECT_EQ(e.text, "3.320");
    const ReadoutEntry onGrid = TakeReadoutEntry(w, "2.0s");
    EXPECT_DOUBLE_EQ(onGrid.time, 2.0);
    EXPECT_EQ(onGrid.text, "2.0");
    EXPECT_DOUBLE_EQ(TakeReadoutEntry(w, "99").time, 8.0) << "limited to the window";
    EXPECT_DOUBLE_EQ(TakeReadoutEntry(w, "abc").time, 0.0);
}

TEST(ScopeReadout, CursorAndIndexInBothModes) {
    ScopeWindow trigger = Trigger8(0);
    EXPECT_DOUBLE_EQ(CursorTimeAtX(trigger, 430), 8.0) << "the left edge is the window end in trigger mode";
    EXPECT_DOUBLE_EQ(CursorTimeAtX(trigger, 1130), 0.0);
    EXPECT_DOUBLE_EQ(CursorTimeAtX(Step8(), 0), 0.0) << "left of the plot is its start";
    trigger.readoutTime = 8.0;
    EXPECT_EQ(ReadoutIndex(trigger, 8.0), 0);
    EXPECT_EQ(ReadoutCursorX(trigger), 430);
    ScopeWindow step = Step8();
    step.readoutTime = 2.0;
    EXPECT_EQ(ReadoutIndex(step, 2.0), 500);
    EXPECT_EQ(ReadoutCursorX(step), 605);
    EXPECT_EQ(ReadoutIndex(step, 1.0e9), SampleBuffer::LENGTH - 1);
    EXPECT_EQ(ReadoutIndex(step, -5.0), 0);
}

TEST(ScopeZoom, ANarrowBandChangesOnlyTheTime) {
    const ScopeWindow w = Step8();
    // 350 units = 4 s wide; 10 units high = 2.2 % of the range.
    const ScopeWindow z = ZoomWindow(w, {430, 300, 780, 310});
    EXPECT_DOUBLE_EQ(z.start, 0.0);
    EXPECT_DOUBLE_EQ(z.end, 4.0);
    EXPECT_EQ(z.lower, -11);
    EXPECT_EQ(z.upper, 100);
    EXPECT_DOUBLE_EQ(z.readoutTime, 4.0);
}

TEST(ScopeZoom, ATallBandChangesTheValueRange) {
    ScopeWindow w = Step8();
    w.lower = 0;
    w.upper = 100;
    const ScopeWindow z = ZoomWindow(w, {430, 100, 1130, 350}); // 50 % .. 100 %
    EXPECT_EQ(z.lower, 50);
    EXPECT_EQ(z.upper, 100);
    EXPECT_DOUBLE_EQ(z.start, 0.0);
    EXPECT_DOUBLE_EQ(z.end, 8.0);
}

TEST(ScopeZoom, ANarrowWindowIsThreePeriodsWide) {
    const ScopeWindow z = ZoomWindow(Step8(), {500, 200, 500.5, 400});
    EXPECT_DOUBLE_EQ(z.start, 0.8);
    EXPECT_NEAR(z.end - z.start, 0.012, 1e-9);
    const ScopeWindow t = ZoomWindow(Trigger8(3), {600, 200, 600, 400});
    EXPECT_NEAR(t.end - t.start, 0.12, 1e-9) << "three periods of 40 ms";
}

TEST(ScopeZoom, TriggerModeCountsFromTheWindowEndAndZoomBackRestores) {
    const ScopeWindow z = ZoomWindow(Trigger8(0), {430, 300, 780, 310});
    EXPECT_DOUBLE_EQ(z.start, 4.0);
    EXPECT_DOUBLE_EQ(z.end, 8.0);
    EXPECT_FALSE(IsFullView(z));
    const ScopeWindow back = ResetZoom(z);
    EXPECT_TRUE(IsFullView(back));
    EXPECT_DOUBLE_EQ(back.end, 8.0);
}

TEST(ScopeFaults, ZeroAndBrokenInputsDoNotDivideByZeroOrLeaveTheBuffer) {
    ScopeWindow w;
    w.period = 0.0;
    w.start = w.end = 0.0;
    w.fullLength = 0.0;
    w.acquisitionTime = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(VisibleSampleCount(w), 1);
    EXPECT_EQ(TimeDivisionsOf(w).count, 1);
    w.start = 1.0;
    EXPECT_EQ(FirstSampleIndex(w), 250) << "a period of 0 counts as 4 ms";
    w.trigger = true;
    w.end = -1.0e12;
    EXPECT_EQ(FirstSampleIndex(w), SampleBuffer::LENGTH - 1);
    EXPECT_EQ(MarkerPosition(5000, 0.0, 0.0), 700);
    EXPECT_FALSE(ClientScaleOf(0, 600).has_value());
    // A window whose last sample would lie past the buffer stops at its end.
    auto b = std::make_unique<SampleBuffer>();
    ScopeWindow far = ResetTimeAxis(0, 0, 20, 0.004);
    far.start = 19.0;
    far.end = 39.0;
    far.fullLength = 20.0;
    const auto curve = AnalogCurve(*b, 0, far, false);
    ASSERT_FALSE(curve.empty());
    EXPECT_LE(curve.back().x, 430 + 700);
    // A partial repaint beside the plot builds no curve.
    EXPECT_TRUE(AnalogCurve(*b, 0, ResetTimeAxis(0, 0, 8, 0.004), false, 1.0, 1200, 1250).empty());
    EXPECT_TRUE(AnalogCurve(*b, 0, ResetTimeAxis(0, 0, 8, 0.004), false, 1.0, 0, 300).size() <= 4u);
}

TEST(ScopeMarker, PositionAndRepaintStrips) {
    EXPECT_EQ(MarkerPosition(1000, 0.004, 8.0), 350);
    EXPECT_EQ(MarkerPosition(99999, 0.004, 8.0), 700);
    const MarkerRepaint forward = MarkerRepaintAreas(100, 150);
    EXPECT_DOUBLE_EQ(forward.strip.left, 523);
    EXPECT_DOUBLE_EQ(forward.strip.right, 592);
    EXPECT_FALSE(forward.oldPlace.has_value());
    const MarkerRepaint back = MarkerRepaintAreas(700, 10);
    EXPECT_LE(back.strip.left, back.strip.right) << "a move backwards repaints what it swept";
    ASSERT_TRUE(back.oldPlace.has_value());
    EXPECT_DOUBLE_EQ(back.oldPlace->left, 1120);
}

TEST(ScopeCurves, DecimatedCurvesKeepTheirPeaks) {
    auto b = std::make_unique<SampleBuffer>();
    ScopeWindow w = ResetTimeAxis(0, 0, 20, 0.004); // 5000 samples over 700 units
    w.lower = 0;
    w.upper = 100;
    b->SetAnalog(0, 2500, 100.0f); // one spike
    const auto curve = AnalogCurve(*b, 0, w, false);
    EXPECT_LE(curve.size(), 4u * 701u);
    bool peak = false;
    for (const PlotPoint& p : curve)
        peak = peak || p.y == 100;
    EXPECT_TRUE(peak) << "the spike survives the reduction to the pixel width";
    EXPECT_EQ(CurveStride(5000, true), 10);
    EXPECT_EQ(BinaryStride(5000, true), 10);
    EXPECT_EQ(BinaryStride(100, true), 1);

    b->SetBinary(1, 1000, 1); // one sample high: both edges in the column of x 570
    const auto trace = BinaryTrace(*b, 1, w, false);
    ASSERT_EQ(trace.size(), 5u) << "start, up and down in one column, end";
    EXPECT_EQ(trace[1].x, 570);
    EXPECT_EQ(trace[1].y, 740);
    EXPECT_EQ(trace[2].y, 710) << "the pulse survives the reduction";
    EXPECT_EQ(trace[4].x, 1130);
}

TEST(ScopeSignalNames, ListsAndTheirVariants) {
    EXPECT_EQ(AnalogSignalTextId(0, 0, false, false), 154);
    EXPECT_EQ(AnalogSignalTextId(0, 0, false, true), 338);
    EXPECT_EQ(AnalogSignalTextId(1, 2, false, false), 158);
    EXPECT_EQ(AnalogSignalTextId(1, 2, true, false), 370);
    EXPECT_EQ(AnalogSignalTextId(2, 3, false, false), 337);
    EXPECT_EQ(AnalogSignalTextId(3, 1, false, true), 162) << "I-Value keeps its name";
    EXPECT_EQ(AnalogSignalTextId(3, 99, false, false), 0) << "beyond the list: no name (shown as its number)";
    EXPECT_EQ(AnalogSignalTextId(0, 2, false, false), 0) << "channel 1 has two signals";
    EXPECT_EQ(BinarySignalTextId(7), 153);
    EXPECT_EQ(BinarySignalTextId(-3), 0);
}

TEST(RecordingCsv, NamesLineIsQuotedAndTheRangeStaysInTheBuffer) {
    auto b = std::make_unique<SampleBuffer>();
    b->SetAnalog(1, 5098, 12.5f);
    b->SetBinary(3, 5099, 1);
    std::array<std::string, 8> names{"Setpoint", "Flow", "none", "none", "a,b", "say \"x\"", "c", "d"};
    std::ostringstream out;
    WriteCsv(*b, {5098, 10}, 0.004f, out, &names);
    EXPECT_EQ(out.str(), "t_s,ana1,ana2,ana3,ana4,bin1,bin2,bin3,bin4\n"
                         ",Setpoint,Flow,none,none,\"a,b\",\"say \"\"x\"\"\",c,d\n"
                         "0.000,0.0000,12.5000,0.0000,0.0000,0,0,0,0\n"
                         "0.004,0.0000,0.0000,0.0000,0.0000,0,0,0,1\n");
    EXPECT_EQ(RecordedRangeOf(true, 2000, 500).first, 1500);
    EXPECT_EQ(RecordedRangeOf(false, 9000, 0).count, SampleBuffer::LENGTH);
}
