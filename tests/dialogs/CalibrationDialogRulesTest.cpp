// The calibration dialogs' rules without widgets: field readers, labels, enabling, Copy, selection.
#include <gtest/gtest.h>

#include "dialogs/CalibrationDialogRules.h"
#include "engine/QlnState.h"
#include "system/Clock.h"
#include "text/Texts.h"

namespace {
struct Rig {
    ScaledClock clock{1};
    QlnState s{clock};
    bool copied = false;
};
} // namespace

TEST(CalibrationRules, FieldsTakeTheLeadingNumberLimitedAndWrittenBack) {
    std::string t = "300";
    EXPECT_EQ(ReadSignedField(t, 0, 255), 255);
    EXPECT_EQ(t, "255");
    t = "12a";
    EXPECT_EQ(ReadSignedField(t, 0, 255), 12);
    t = "";
    EXPECT_EQ(ReadSignedField(t, 0, 40), 0);
    EXPECT_EQ(t, "0");
    t = "-5";
    EXPECT_EQ(ReadSignedField(t, 0, 40), 0);
    t = "4096";
    EXPECT_EQ(ReadUnsignedField(t, 4095), 4095);
    t = "99999999999999999999";
    EXPECT_EQ(ReadUnsignedField(t, 255), 255);
}

TEST(CalibrationRules, LabelsArePercentNamesOrDegrees) {
    EXPECT_EQ(MatrixValueLabel(0, 0, 0, true), " 10 %");
    EXPECT_EQ(MatrixValueLabel(3, 0, 9, true), " 100 %");
    EXPECT_EQ(MatrixValueLabel(4, 0, 0, true), "Corr.Setp.");
    EXPECT_EQ(MatrixValueLabel(4, 0, 6, true), "PGA");
    EXPECT_EQ(MatrixValueLabel(4, 0, 7, true), " ");
    EXPECT_EQ(MatrixValueLabel(5, 0, 3, true), "For.Offset");
    EXPECT_EQ(MatrixValueLabel(4, 0, 0, false), " 10 %") << "the matrix dialog has no names";
    EXPECT_EQ(MatrixValueLabel(6, 9, 0, true), " 70 \u00B0C");
    EXPECT_EQ(MatrixValueLabel(7, 0, 9, true), " -11 \u00B0C");
    const TextSource texts;
    EXPECT_EQ(ReadValueText(7, true, texts), "7");
    EXPECT_EQ(ReadValueText(7, false, texts), " -- ");
}

TEST(CalibrationRules, EnablingFollowsTheEngineTheCopyFlagAndTheWriteEnableByte) {
    CalibrationEnabling e = CalibrationEnable(0, false, 0, 2);
    EXPECT_TRUE(e.read && e.arrays && e.setValues && *e.close && *e.dacEdits);
    EXPECT_FALSE(e.copy || e.write || e.rows);
    e = CalibrationEnable(0, false, 1, 6);
    EXPECT_TRUE(e.copy && e.rows);
    EXPECT_FALSE(e.write) << "Write needs a Copy";
    EXPECT_TRUE(CalibrationEnable(0, true, 1, 0).write);
    e = CalibrationEnable(CMD_READ_MATRIX, true, 1, 0);
    EXPECT_FALSE(e.read || e.write || e.copy || e.arrays || e.setValues || e.temperatureSet);
    EXPECT_FALSE(*e.close || *e.dacEdits);
    e = CalibrationEnable(CMD_READ_STATUS, true, 1, 0);
    EXPECT_FALSE(e.close.has_value() || e.dacEdits.has_value()) << "kept as they are";
    EXPECT_FALSE(MatrixEnable(CMD_STOP_CALIBRATION, true, 1, 0).close.has_value());
    EXPECT_FALSE(*MatrixEnable(CMD_START_CALIBRATION, true, 1, 0).close);
    EXPECT_FALSE(DisplayCalibrationEnable(CMD_READ_MATRIX).temperatureSet);
    EXPECT_FALSE(*DisplayCalibrationEnable(CMD_START_CALIBRATION).close);
}

// A read value the valve has not (completely) reported is not taken over.
TEST(CalibrationRules, CopyTakesOnlyValidSingleValuesAndEveryMatrixRow) {
    Rig r;
    CalibrationData& c = r.s.calibration;
    c.SpanP2Read = 0xABC;
    c.SpanP2Valid.value = 1;
    c.SpanDpRead = 0xBC; // only the low byte arrived
    c.SpanDpSet = 1000;
    c.OffsetP2Read = 9;
    c.OffsetP2Set = 3;
    c.ReadMatrix[1][0][4] = 77; // row not marked valid
    CalibrationWork w(r.s, r.copied);
    ASSERT_TRUE(w.Copy());
    EXPECT_EQ(r.s.calibration.SpanP2Set, 0xABC);
    EXPECT_EQ(r.s.calibration.SpanDpSet, 1000);
    EXPECT_EQ(r.s.calibration.OffsetP2Set, 3);
    EXPECT_EQ(r.s.calibration.SetMatrix[1][0][4], 77);
    EXPECT_EQ(w.Data().SpanP2Set, 0xABC) << "the working copy follows";
    EXPECT_TRUE(r.copied && w.Changed());

    r.s.THREAD_CMD.store(CMD_READ_STATUS);
    EXPECT_FALSE(w.Copy()) << "never while the engine is busy";
}

// A project file may hold any selection; only 0..7 and 0..9 may index the matrix.
TEST(CalibrationRules, SelectionsFromAFileAreKeptInsideTheMatrix) {
    Rig r;
    r.s.calibration.SelectedArray = 99;
    r.s.calibration.SelectedRow = -3;
    CalibrationWork w(r.s, r.copied);
    EXPECT_EQ(w.Array(), 0);
    EXPECT_EQ(w.Row(), 0);
    w.Data().SelectedArray = 7;
    w.Data().SelectedRow = 1000;
    EXPECT_EQ(w.Row(), 0);
    w.StoreRow({"1", "2", "3", "4", "5", "6", "7", "8", "9", "300"});
    EXPECT_EQ(w.Data().SetMatrix[7][0][9], 255);

    w.Select(6, 9);
    EXPECT_EQ(w.Row(), 9);
    w.Select(6, -1);
    EXPECT_EQ(w.Row(), 9) << "no row checked keeps the row";
    w.Select(2, 5);
    EXPECT_EQ(w.Row(), 0) << "one row outside the sensor arrays";

    EXPECT_FALSE(w.Changed());
    w.Commit();
    EXPECT_TRUE(w.Changed());
    EXPECT_EQ(r.s.calibration.SetMatrix[7][0][9], 255);
}

TEST(CalibrationRules, TransferOrderAndSixteenBitValues) {
    const uint8_t selectors[] = {0,   10,  20,  30,  240, 250, 40,  50,  60,  70,  80,  90,  100,
                                 110, 120, 130, 140, 150, 160, 170, 180, 190, 200, 210, 220, 230};
    for (int i = 0; i < 26; ++i)
        EXPECT_EQ(MatrixTransferStep(i).selector, selectors[i]) << i;
    EXPECT_EQ(MatrixTransferStep(25).array, 7);
    EXPECT_EQ(MatrixTransferStep(25).row, 9);
    EXPECT_EQ(LowByte(0x0ABC), 0xBC);
    EXPECT_EQ(SecondByte(0x0ABC), 0x0A);
    EXPECT_EQ(WithHighNibble(0xBC, 0xFA), 0xABC);
    EXPECT_EQ(ResultNibble(0x5A), 5u);
}
