// qln-cli's setpoint, test-function and autotune in-process over a real pseudo-terminal: the
// telegrams the valve receives, what the tool says, and how it ends.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "support/CliRunner.h"
#include "support/EngineHarness.h"
#include "support/LockstepClock.h"
#include "support/ScriptedValve.h"

using namespace qln_test;

namespace {
using Bytes = std::vector<uint8_t>;
constexpr uint8_t VER = 0x23, STS = 37, RTS = 38, RSS = 86, CCS = 100, CCR = 101, APS = 145;
constexpr size_t PROJECT_FILE_SIZE = 173624;
constexpr size_t EDIT_BLOCK_OFFSET = 1280;

Bytes Telegram(uint8_t cmd, uint8_t data) {
    return {0x02, cmd, data, static_cast<uint8_t>(cmd + data)};
}

// A valve that acknowledges the drive telegrams, answers CCR with `ccr` and refuses `refused`.
class DriveRun {
public:
    explicit DriveRun(uint8_t ccr = 0x95, uint8_t refused = 0)
        : valve_(
              [this, ccr, refused](const Bytes& r) -> Bytes {
                  if (r[1] == refused) return {0x15};
                  if (r[1] == CCR) return Framed({ccr});
                  if (r[1] == STS || r[1] == RTS || r[1] == RSS || r[1] == CCS || r[1] == APS) return {0x06};
                  return model_.Answer(r);
              },
              clock_) {}

    CliRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--device", valve_.SlavePath()});
        clock_.ExpectMembers(LockstepClock::ENGINE_THREADS);
        return RunCliCaptured(args, clock_);
    }
    // The telegrams after the rate test.
    std::vector<Bytes> Sent() const {
        std::vector<Bytes> out;
        for (const auto& r : valve_.Requests())
            if (r.bytes[1] != VER) out.push_back(r.bytes);
        return out;
    }
    const std::string& Path() const { return valve_.SlavePath(); }

private:
    ValveModel model_;
    LockstepClock clock_;
    ScriptedValve valve_;
};

CliRun RunAlone(const std::vector<std::string>& args) {
    LockstepClock clock;
    return RunCliCaptured(args, clock);
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CliDrive : public ::testing::Test {
protected:
    InTempFolder dir;
};
} // namespace

TEST_F(CliDrive, SetpointSendsStsAndSaysHowToEndItThenOffSendsRts) {
    DriveRun valve;
    const CliRun on = valve.Run({"setpoint", "37.8"});
    ASSERT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.out, "Serial setpoint 37.5 % sent.\n");
    EXPECT_TRUE(Has(on.err, "follows the serial setpoint of 37.5 %")) << on.err;
    EXPECT_TRUE(Has(on.err, "qln-cli --device " + valve.Path() + " setpoint off")) << on.err;

    const CliRun json = valve.Run({"--json", "setpoint", "60"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "{\"serial_setpoint\": 60.0, \"active\": 1}\n");

    const CliRun off = valve.Run({"setpoint", "off"});
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.out, "The valve follows its own setpoint source again.\n");
    EXPECT_EQ(off.err, "");
    EXPECT_EQ(valve.Sent(), (std::vector<Bytes>{Telegram(STS, 75), Telegram(STS, 120), Telegram(RTS, 0)}));
}

// The controller fields in CCS are always the valve's own, read with CCR just before: a project
// given on the line changes nothing of them, as the window's Write does not.
TEST_F(CliDrive, TestFunctionKeepsTheControllerFieldsAndSendsTheTime) {
    DriveRun valve(0x95); // structure 5, range detection 2, auto zero off, step running
    const CliRun ramp = valve.Run({"test-function", "ramp", "--time", "2.5"});
    ASSERT_EQ(ramp.status, 0) << ramp.err;
    EXPECT_EQ(ramp.out, "Test function Ramp with 2.5 s written.\n");
    const CliRun step = valve.Run({"--json", "test-function", "off"});
    ASSERT_EQ(step.status, 0) << step.err;
    EXPECT_EQ(step.out, "{\"test_function\": \"off\", \"selection\": 0, \"time\": 1.0}\n");
    EXPECT_EQ(valve.Sent(), (std::vector<Bytes>{Telegram(CCR, 0), Telegram(CCS, 0x55), Telegram(RSS, 25),
                                                Telegram(CCR, 0), Telegram(CCS, 0x15), Telegram(RSS, 10)}));

    // The project's structure 3, range detection 2, auto zero on are not sent: the valve's 0x15 is.
    std::vector<char> image(PROJECT_FILE_SIZE, 0);
    ParameterBlock edit{};
    edit.CONTROLLER_STRUCTURE = 3;
    edit.SETPOINT_RANGE_DETECTION = 2;
    edit.AUTO_ZERO_FEEDBACK = 1;
    std::memcpy(image.data() + EDIT_BLOCK_OFFSET, &edit, sizeof edit);
    std::ofstream("p.qpj", std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    DriveRun second;
    const CliRun fromProject = second.Run({"test-function", "multistep", "--time", "20", "p.qpj"});
    ASSERT_EQ(fromProject.status, 0) << fromProject.err;
    EXPECT_EQ(second.Sent(), (std::vector<Bytes>{Telegram(CCR, 0), Telegram(CCS, 0xD5), Telegram(RSS, 200)}));
}

TEST_F(CliDrive, BareTestFunctionReadsBackWhatTheValveRuns) {
    DriveRun valve(0x55); // ramp
    const CliRun text = valve.Run({"test-function"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "Test function: Ramp\n");
    const CliRun json = valve.Run({"test-function", "--json"});
    EXPECT_EQ(json.out, "{\"test_function\": \"ramp\", \"selection\": 1}\n");
    EXPECT_EQ(valve.Sent(), (std::vector<Bytes>{Telegram(CCR, 0), Telegram(CCR, 0)}));
}

TEST_F(CliDrive, AutotuneStartsOnlyWithYes) {
    const CliRun refused = RunAlone({"--test-mode", "autotune"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_TRUE(Has(refused.err, "This funktion can create dangerous setting on your machine"))
        << refused.err;
    EXPECT_TRUE(Has(refused.err, "Are you sure to start Auto-Tune ?")) << refused.err;
    EXPECT_TRUE(Has(refused.err, "--yes")) << refused.err;

    DriveRun valve;
    const CliRun started = valve.Run({"autotune", "--yes"});
    ASSERT_EQ(started.status, 0) << started.err;
    EXPECT_EQ(valve.Sent(), (std::vector<Bytes>{Telegram(APS, 1)}));
}

TEST_F(CliDrive, BadArgumentsAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"setpoint"},
        {"setpoint", "101"},
        {"setpoint", "-1"},
        {"setpoint", "12abc"},
        {"setpoint", "nan"},
        {"setpoint", "on"},
        {"setpoint", "20", "30"},
        {"test-function", "jog"},
        {"test-function", "ramp", "--time", "20.5"},
        {"test-function", "--time", "2"},
        {"setpoint", "20", "--time", "2"},
        {"info", "--yes"},
        {"autotune", "now", "--yes"},
    };
    for (const auto& args : bad) {
        std::vector<std::string> all = {"--test-mode"};
        all.insert(all.end(), args.begin(), args.end());
        const CliRun r = RunAlone(all);
        EXPECT_EQ(r.status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_EQ(r.out, "");
    }
}

// A setpoint that may have reached the valve is never left unsaid, even when the run fails.
TEST_F(CliDrive, AFailedSetpointSaysTheValveMayStillFollowIt) {
    DriveRun valve(0, STS);
    const CliRun r = valve.Run({"setpoint", "50"});
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.err, "may still follow the serial setpoint")) << r.err;
    EXPECT_EQ(valve.Sent(), std::vector<Bytes>(4, Telegram(STS, 100)));

    // Without the valve's controller settings no test function goes out, and the run says so.
    DriveRun unread(0, CCR);
    const CliRun t = unread.Run({"test-function", "ramp"});
    EXPECT_EQ(t.status, 6) << t.err;
    EXPECT_TRUE(Has(t.err, "so the test function was not written")) << t.err;
    EXPECT_EQ(unread.Sent(), std::vector<Bytes>(4, Telegram(CCR, 0)));
}
