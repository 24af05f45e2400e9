// qln-cli's calibration commands against the real qln-valve process: a matrix written from one
// project and read back into another is the same row for row.
#include <gtest/gtest.h>

#include <regex>

#include "project/ProjectFile.h"
#include "support/CliRunner.h"
#include "support/EngineHarness.h"
#include "support/LockstepClock.h"

using namespace qln_test;
using namespace std::chrono_literals;

namespace {
// The rows a transfer moves: arrays 0..5 row 0, arrays 6 and 7 rows 0..9.
std::vector<std::pair<int, int>> TransferredRows() {
    std::vector<std::pair<int, int>> rows;
    for (int a = 0; a < 8; ++a)
        for (int r = 0; r < (a < 6 ? 1 : 10); ++r)
            rows.emplace_back(a, r);
    return rows;
}

class ValveCalibrationCli : public ::testing::Test {
protected:
    ValveCalibrationCli() : valve({"--log"}, true) {}

    CliRun Cli(const std::vector<std::string>& args) {
        LockstepClock clock(LockstepClock::ENGINE_THREADS, 10);
        const CliRun run = RunCliAgainst(valve, args, clock);
        log = valve.ReadLines(500ms, 300ms);
        return run;
    }

    InTempFolder dir;
    ValveProcess valve;
    std::string log;
};
} // namespace

TEST_F(ValveCalibrationCli, AMatrixWrittenFromOneProjectReadsBackIntoAnotherRowForRow) {
    ASSERT_FALSE(valve.SlavePath().empty());
    auto a = std::make_unique<ProjectFile>();
    ResetProject(*a);
    int n = 0;
    for (const auto& [array, row] : TransferredRows())
        for (int j = 0; j < 10; ++j)
            a->calibration.SetMatrix[array][row][j] = (n++ * 7 + 3) % 256;
    for (int j = 0; j < 10; ++j)
        a->calibration.SetMatrix[0][0][j] = j + 1;
    a->calibration.SpanP2Set = 0x0ABC;
    a->calibration.SpanDpSet = 0x0765;
    a->calibration.OffsetP2Set = 17;
    a->calibration.OffsetDpSet = 18;
    a->calibration.OutsideTemperatureSet = 31;
    std::string error;
    ASSERT_TRUE(WriteProjectFile(dir.File("A.QPJ"), *a, &error)) << error;
    // As the calibration dialog's Write, nothing goes out while the write-enable byte is 0.
    const CliRun refused = Cli({"--cal", "write-matrix", dir.File("A.QPJ")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("does not allow writing (its write-enable byte is 0)"), std::string::npos);
    EXPECT_EQ(log.find("WAS"), std::string::npos) << log;
    a->calibration.ReadMatrix[7][9][MATRIX_ROW_VALID] = 1; // the byte a complete read leaves
    ASSERT_TRUE(WriteProjectFile(dir.File("A.QPJ"), *a, &error)) << error;

    const CliRun write = Cli({"--cal", "write-matrix", dir.File("A.QPJ")});
    ASSERT_EQ(write.status, 0) << write.err;
    EXPECT_TRUE(std::regex_search(log, std::regex("rx 02 74 01 02 03 04 05 06 07 08 09 0A AB  WAS\n")))
        << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("rx 02 5B BC 17  OLS\n[^]*rx 02 5D 0A 67  OHS\n"))) << log;

    const CliRun read = Cli({"--cal", "--json", "read-matrix", dir.File("B.QPJ")});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_NE(
        read.out.find("{\"rows\": [{\"array\": 0, \"row\": 0, \"values\": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]}"),
        std::string::npos)
        << read.out;
    EXPECT_NE(read.out.find("\"span_p2_dac\": 2748, \"span_dp_dac\": 1893, \"offset_p2_pwm\": 17, "
                            "\"offset_dp_pwm\": 18, \"outside_temperature\": 31}"),
              std::string::npos)
        << read.out;

    auto b = std::make_unique<ProjectFile>();
    ResetProject(*b);
    ASSERT_TRUE(ReadProjectFile(dir.File("B.QPJ"), *b, &error)) << error;
    for (const auto& [array, row] : TransferredRows()) {
        for (int j = 0; j < 10; ++j)
            ASSERT_EQ(b->calibration.ReadMatrix[array][row][j], a->calibration.SetMatrix[array][row][j])
                << array << "/" << row << "/" << j;
        EXPECT_EQ(b->calibration.ReadMatrix[array][row][10], 1);
    }
    EXPECT_EQ(b->calibration.SpanP2Read, 0x0ABC);
}

TEST_F(ValveCalibrationCli, CalibrationStepsReportTheStageAndNeedTheCalibrationSwitch) {
    ASSERT_FALSE(valve.SlavePath().empty());
    const CliRun refused = Cli({"calibration", "start"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("needs --cal"), std::string::npos) << refused.err;

    ASSERT_EQ(Cli({"--cal", "calibration", "start"}).status, 0);
    EXPECT_TRUE(std::regex_search(log, std::regex("rx 02 50 00 50  SCS\n"))) << log;
    const CliRun check = Cli({"--cal", "calibration", "check"});
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, "Calibration check: result 1\n");
    Cli({"--cal", "calibration", "check"});
    const CliRun stop = Cli({"--cal", "--json", "calibration", "stop"});
    ASSERT_EQ(stop.status, 0) << stop.err;
    EXPECT_EQ(stop.out, "{\"calibration\": \"stop\", \"result_nibble\": 2, \"result\": 32}\n");
}
