// qln-cli's setpoint, test-function and autotune against the real qln-valve process: the telegrams
// in the valve's own log, and the valve's status showing that it follows the PC's setpoint.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/CliRunner.h"
#include "support/EngineHarness.h"
#include "support/LockstepClock.h"

using namespace qln_test;
using namespace std::chrono_literals;

namespace {
class ValveDrive : public ::testing::Test {
protected:
    ValveDrive() : valve({"--log"}, true) {}

    // One run of qln-cli on paced time (the valve runs in real time), and the valve's log of it.
    CliRun Cli(const std::vector<std::string>& args) {
        LockstepClock clock(LockstepClock::ENGINE_THREADS, 10);
        const CliRun run = RunCliAgainst(valve, args, clock);
        log = valve.ReadLines(500ms, 300ms);
        return run;
    }
    bool Logged(const std::string& pattern) const { return std::regex_search(log, std::regex(pattern)); }
    // The manual-setpoint flag of the valve's status: 2 while it follows the serial setpoint.
    std::string ManualSetpoint() {
        const CliRun r = Cli({"--json", "status"});
        std::smatch m;
        return std::regex_search(r.out, m, std::regex("\"manual_setpoint\": ([0-9])")) ? m[1].str() : r.err;
    }

    InTempFolder dir;
    ValveProcess valve;
    std::string log;
};
} // namespace

TEST_F(ValveDrive, TheValveFollowsTheSerialSetpointUntilItIsSwitchedOff) {
    ASSERT_FALSE(valve.SlavePath().empty());
    EXPECT_EQ(ManualSetpoint(), "1");

    const CliRun on = Cli({"setpoint", "60"});
    ASSERT_EQ(on.status, 0) << on.err;
    EXPECT_TRUE(Logged("rx 02 25 78 9D  STS\n")) << log;
    EXPECT_TRUE(Logged("tx 06  STS\n")) << log;
    EXPECT_NE(on.err.find("setpoint off"), std::string::npos) << on.err;
    EXPECT_EQ(ManualSetpoint(), "2");
    {
        // A recording shows the valve at the PC's setpoint: channel 1 the setpoint, channel 2 the
        // flow that has followed it. It runs at the valve's pace, in real time.
        RealClock clock;
        const CliRun r = RunCliAgainst(
            valve, {"record", "--mode", "roll", "--rate", "10", "--for", "1", "--csv", "-"}, clock);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string csv = r.out;
        const size_t last = csv.rfind('\n', csv.size() - 2);
        double t = 0, setpoint = 0, flow = 0;
        ASSERT_EQ(std::sscanf(csv.c_str() + last + 1, "%lf,%lf,%lf", &t, &setpoint, &flow), 3) << csv;
        EXPECT_NEAR(setpoint, 60.0, 0.5);
        EXPECT_NEAR(flow, 60.0, 3.0);
    }

    const CliRun off = Cli({"setpoint", "off"});
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_TRUE(Logged("rx 02 26 00 26  RTS\n")) << log;
    EXPECT_EQ(ManualSetpoint(), "1");
}

TEST_F(ValveDrive, TestFunctionIsWrittenWithTheValvesOwnControllerAndReadBack) {
    ASSERT_FALSE(valve.SlavePath().empty());
    const CliRun before = Cli({"--json", "read-params"});
    ASSERT_EQ(before.status, 0) << before.err;

    const CliRun ramp = Cli({"test-function", "ramp", "--time", "2.5"});
    ASSERT_EQ(ramp.status, 0) << ramp.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, std::regex("tx 02 ([0-9A-F]{2}) [0-9A-F]{2}  CCR\n"))) << log;
    const int own = std::stoi(m[1].str(), nullptr, 16);
    char ccs[64];
    std::snprintf(ccs, sizeof ccs, "rx 02 64 %02X [0-9A-F]{2}  CCS\n", (own & 0x3F) | 0x40);
    EXPECT_TRUE(Logged(ccs)) << "the valve's controller fields with ramp in bits 6..7\n" << log;
    EXPECT_TRUE(Logged("rx 02 56 19 6F  RSS\n")) << log;
    EXPECT_LT(log.find("CCS\n"), log.find("RSS\n"));

    const CliRun read = Cli({"test-function"});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "Test function: Ramp\n");
    // The controller itself is unchanged.
    const CliRun after = Cli({"--json", "read-params"});
    ASSERT_EQ(after.status, 0) << after.err;
    for (const char* field : {"CONTROLLER_STRUCTURE", "SETPOINT_RANGE_DETECTION", "AUTO_ZERO_FEEDBACK"}) {
        const std::regex value(std::string("\"") + field + "\": ([0-9]+)");
        std::smatch a, b;
        ASSERT_TRUE(std::regex_search(before.out, a, value) && std::regex_search(after.out, b, value))
            << field;
        EXPECT_EQ(a[1].str(), b[1].str()) << field;
    }
}

TEST_F(ValveDrive, AutotuneSendsApsOne) {
    ASSERT_FALSE(valve.SlavePath().empty());
    const CliRun r = Cli({"autotune", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Logged("rx 02 91 01 92  APS\n")) << log;
}
