// qln-cli record against the real qln-valve: each mode ends as it should, the CSV follows the
// valve's flow model, and a stopped roll recording leaves the valve silent.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/CliRunner.h"
#include "support/EngineHarness.h"
#include "support/LockstepClock.h"
#include "support/ScriptedValve.h"

using namespace qln_test;
using namespace std::chrono_literals;

namespace {
struct CsvRow {
    double t;
    double ana[4];
    int bin[4];
};

// The rows of a recording's CSV; the header is checked on the way.
std::vector<CsvRow> ReadCsv(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "t_s,ana1,ana2,ana3,ana4,bin1,bin2,bin3,bin4");
    std::vector<CsvRow> rows;
    while (std::getline(in, line)) {
        CsvRow r{};
        if (std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%d,%d,%d,%d", &r.t, &r.ana[0], &r.ana[1],
                        &r.ana[2], &r.ana[3], &r.bin[0], &r.bin[1], &r.bin[2], &r.bin[3]) != 9)
            ADD_FAILURE() << "malformed row: " << line;
        rows.push_back(r);
    }
    return rows;
}

CliRun Record(const ValveProcess& valve, std::vector<std::string> args) {
    args.insert(args.begin(), "record");
    // A recording runs at the valve's pace, in real time.
    RealClock clock;
    return RunCliAgainst(valve, args, clock);
}
} // namespace

TEST(ValveRecord, AStepRecordingIsTheWholeWindowAndFollowsTheFlowModel) {
    InTempFolder dir;
    ValveProcess valve({});
    ASSERT_FALSE(valve.SlavePath().empty());
    const CliRun r = Record(valve, {"--mode", "step", "--time", "4", "--csv", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = ReadCsv(r.out);
    ASSERT_EQ(rows.size(), 1000u) << "4 s at 4 ms";
    EXPECT_DOUBLE_EQ(rows[1].t, 0.004);
    EXPECT_DOUBLE_EQ(rows.back().t, 3.996);
    // The setpoint steps from 10 % to 90 %; the flow has followed it by the end.
    EXPECT_NEAR(rows.front().ana[0], 10.0, 0.5);
    EXPECT_NEAR(rows.back().ana[0], 90.0, 0.5);
    EXPECT_NEAR(rows.back().ana[1], 90.0, 2.0);
    EXPECT_EQ(r.err.rfind("Recorded 1000 samples (0 display updates too fast).\nstep 1 of 1 at 0.400 s: ", 0),
              0u)
        << r.err;
}

// The figures of the valve's step, as record says them, and as analyze reads them back from the CSV
// and from the project; a set-up whose channel 2 shows no flow has none.
TEST(ValveRecord, AStepRecordingHasPlausibleFiguresWhereverTheyAreRead) {
    InTempFolder dir;
    ValveProcess valve({});
    ASSERT_FALSE(valve.SlavePath().empty());
    const CliRun r = Record(valve, {"--json", "--mode", "step", "--time", "4", "--csv", "s.csv", "s.QPJ"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto figure = [](const std::string& json, const std::string& name) {
        const size_t at = json.find("\"" + name + "\": ");
        return at == std::string::npos ? -1.0 : std::atof(json.c_str() + at + name.size() + 4);
    };
    EXPECT_NEAR(figure(r.out, "t0_s"), 0.4, 1e-9) << "a tenth of the recording: " << r.out;
    EXPECT_GT(figure(r.out, "dead_time_s"), 0.0);
    EXPECT_GT(figure(r.out, "t63_s"), figure(r.out, "dead_time_s"));
    EXPECT_GT(figure(r.out, "t86_s"), figure(r.out, "t63_s"));
    EXPECT_LT(figure(r.out, "t98_s"), 2.0);
    EXPECT_NEAR(figure(r.out, "travel_gain"), 1.0, 0.05);
    EXPECT_NE(r.out.find("\"settled\": true"), std::string::npos) << r.out;
    const std::string steps =
        r.out.substr(r.out.find("\"steps\""), r.out.find("\"display_update") - r.out.find("\"steps\""));
    LockstepClock clock;
    CliRun a = RunCliCaptured({"--json", "analyze", "s.QPJ"}, clock);
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out,
              "{\"period_s\": 0.0040, \"samples\": 1000, " + steps.substr(0, steps.size() - 2) + "}\n");
    // The CSV holds four decimals of each value.
    a = RunCliCaptured({"--json", "analyze", "s.csv"}, clock);
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_NEAR(figure(a.out, "t63_s"), figure(r.out, "t63_s"), 0.0002) << a.out;
    EXPECT_NEAR(figure(a.out, "flow_final"), figure(r.out, "flow_final"), 0.01) << a.out;
    std::string project = ReadWholeFile(dir.File("s.QPJ"));
    project[1900 + 68] = 2; // analog channel 2 shows PWM Out
    WriteWholeFile(dir.File("pwm.QPJ"), project);
    a = RunCliCaptured({"--json", "analyze", "pwm.QPJ"}, clock);
    EXPECT_EQ(a.out, "{\"period_s\": 0.0040, \"samples\": 1000, \"steps\": [], \"note\": \"Step figures need "
                     "Setpoint on channel 1 and Flow on channel 2.\"}\n");
    WriteWholeFile(dir.File("short.QPJ"), project.substr(0, 2000));
    a = RunCliCaptured({"analyze", "short.QPJ"}, clock);
    EXPECT_EQ(a.status, 2);
    EXPECT_NE(a.err.find("neither a project file"), std::string::npos) << a.err;
    WriteWholeFile(dir.File("bad.csv"), "t_s,ana1,ana2,ana3,ana4,bin1,bin2,bin3,bin4\n0.000,1,2\n");
    a = RunCliCaptured({"analyze", "bad.csv"}, clock);
    EXPECT_EQ(a.err, "qln-cli: bad.csv is no recording CSV: line 2 is not 9 numbers\n");
    EXPECT_EQ(a.status, 2);
}

TEST(ValveRecord, ARampRecordingRisesOverItsRampTimeAndIsKeptInTheProject) {
    InTempFolder dir;
    ValveProcess valve({});
    ASSERT_FALSE(valve.SlavePath().empty());
    const CliRun r = Record(valve, {"--mode", "ramp", "--time", "4", "--ramp-time", "2", "--begin", "20",
                                    "--end", "60", "--csv", "ramp.csv", "ramp.QPJ"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Recorded 1000 samples (0 display updates too fast).\n");
    const auto rows = ReadCsv(ReadWholeFile(dir.File("ramp.csv")));
    ASSERT_EQ(rows.size(), 1000u);
    EXPECT_NEAR(rows.front().ana[0], 20.0, 0.5);
    EXPECT_GT(rows[250].ana[0], 25.0) << "on its way up at 1 s";
    EXPECT_LT(rows[250].ana[0], 55.0) << "on its way up at 1 s";
    EXPECT_NEAR(rows.back().ana[0], 60.0, 0.5);
    for (size_t i = 1; i < rows.size(); ++i)
        ASSERT_GE(rows[i].ana[0] + 0.01, rows[i - 1].ana[0]) << "the ramp never falls, row " << i;

    // The project keeps the set-up and the recording: show reads them back.
    LockstepClock clock;
    const CliRun show = RunCliCaptured({"--json", "show", "ramp.QPJ"}, clock);
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("\"scope\": {\"mode\": 1, \"acquisition_time\": 4"), std::string::npos)
        << show.out;
    EXPECT_NE(show.out.find("\"recording\": {\"samples\": 1000}"), std::string::npos) << show.out;
}

TEST(ValveRecord, BadOptionsAreRefusedBeforeAnythingIsSent) {
    InTempFolder dir;
    ValveProcess valve({"--log"}, true);
    ASSERT_FALSE(valve.SlavePath().empty());
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--time", "3"},
                                               {"--rate", "7"},
                                               {"--mode", "step", "--trigger", "1:rising:50"},
                                               {"--trigger", "9:rising:50"},
                                               {"--trigger", "1:up:50"},
                                               {"--begin", "101"}}) {
        const CliRun r = Record(valve, args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
    }
    EXPECT_EQ(valve.ReadLine(300ms), "") << "the valve heard nothing";
}

// A set-up mode no recording has (a damaged project) is refused as the window's Start refuses it.
TEST(ValveRecord, AProjectWithAnUnknownModeIsRefusedBeforeAnythingIsSent) {
    InTempFolder dir;
    WriteWholeFile(dir.File("damaged.QPJ"), std::string(1900, '\0') + '\7'); // the set-up's mode
    ValveModel model;
    ScriptedValve valve(model.Behaviour());
    LockstepClock clock;
    const CliRun r = RunCliCaptured({"--device", valve.SlavePath(), "record", "damaged.QPJ"}, clock);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "qln-cli: The scope set-up holds an unknown acquisition mode (7). Choose Step, Ramp or "
                     "Trigger Mode in Scope > Setup (F3), then start again. The recording is kept.\n");
    EXPECT_EQ(valve.RequestCount(), 0u) << "not a single telegram";
}

// The real program: Ctrl+C stops a roll recording as Stop Acquisition does, and the valve is
// silent afterwards; --for ends one by itself. --mode chooses the mode of a project that holds
// none of the three (a damaged file), which is then kept.
TEST(ValveRecord, ARollRecordingStopsOnCtrlCOrAfterItsDurationAndLeavesTheValveSilent) {
    InTempFolder dir;
    ValveProcess valve({"--log"}, true);
    ASSERT_FALSE(valve.SlavePath().empty());
    {
        ValveProcess cli(QLN_CLI_PATH,
                         {"--device", valve.SlavePath(), "record", "--mode", "roll", "--csv", "roll.csv"},
                         true, false);
        int records = 0;
        // Three blocks' worth, so that the engine has taken at least one.
        while (records < 150) {
            const std::string line = valve.ReadLine(10s);
            ASSERT_FALSE(line.empty()) << "the valve stopped logging after " << records << " records";
            if (line.find(" tx 02 ") != std::string::npos) ++records;
        }
        ASSERT_EQ(::kill(cli.Pid(), SIGINT), 0);
        const std::string err = cli.ReadToEnd(30s);
        ASSERT_EQ(cli.WaitExit(30s), 0) << err;
        EXPECT_NE(err.find("Recorded "), std::string::npos) << err;
        // The valve took PAS and acknowledged it; after that it sends nothing.
        bool pas = false;
        for (std::string line; !(line = valve.ReadLine(500ms)).empty();) {
            if (line.find("PAS") != std::string::npos) pas = true;
            if (pas && line.find(" tx 02 ") != std::string::npos)
                ADD_FAILURE() << "streams after PAS: " << line;
        }
        EXPECT_TRUE(pas);
        const auto rows = ReadCsv(ReadWholeFile(dir.File("roll.csv")));
        EXPECT_GE(rows.size(), 49u);
        EXPECT_LE(rows.size(), 2000u);
    }
    {
        WriteWholeFile(dir.File("damaged.QPJ"), std::string(1900, '\0') + '\7'); // the set-up's mode
        ValveProcess cli(QLN_CLI_PATH,
                         {"--device", valve.SlavePath(), "--json", "record", "--mode", "roll", "--rate", "10",
                          "--for", "1", "damaged.QPJ"},
                         false, false);
        const std::string out = cli.ReadToEnd(30s);
        ASSERT_EQ(cli.WaitExit(30s), 0) << out;
        EXPECT_NE(out.find("\"samples\": "), std::string::npos) << out;
        EXPECT_EQ(ReadWholeFile(dir.File("damaged.QPJ")).substr(1900, 4), std::string("\2\0\0\0", 4));
    }
}
