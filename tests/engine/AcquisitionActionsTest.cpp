// Scope recordings through the engine's real threads and a real pseudo-terminal, against a valve
// that streams what the test scripts: the set-up telegrams, the whole window, the trigger, stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "engine/StreamGuard.h"
#include "link/LinkTestSupport.h"
#include "support/EngineHarness.h"
#include "support/ScriptedValve.h"

using namespace qln_test;

namespace {
using Bytes = std::vector<uint8_t>;
constexpr uint8_t ACK_BYTE = 0x06;

Bytes Telegram(uint8_t cmd, uint8_t data) {
    return {0x02, cmd, data, static_cast<uint8_t>(cmd + data)};
}

// `count` sample records; analog channel 1 is `first(k)`, channel 2 counts, the binary byte
// alternates every 100 records.
Bytes Records(int count, uint8_t (*first)(int k)) {
    Bytes out;
    for (int k = 0; k < count; ++k) {
        const Bytes r = {0x02, first(k), static_cast<uint8_t>(k % 256),
                         128,  128,      static_cast<uint8_t>((k / 100) % 2)};
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Bytes With(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The valve's replies to the set-up: value requests echo what was set, writes are acknowledged;
// `start` (SAS or TAS) answers with the stream, a later start with `restream`. Once `silent` is
// set the valve answers nothing.
struct StreamingValve {
    uint8_t startCmd;
    Bytes stream;
    std::function<void()> onStart;
    std::map<uint8_t, uint8_t> last; // write command -> data
    Bytes restream{};
    Bytes pasAnswer{ACK_BYTE};
    std::atomic<bool> silent{false};
    int starts = 0;
    Bytes Answer(const Bytes& r) {
        if (silent.load()) return {};
        const uint8_t cmd = r[1];
        if (cmd == 0x23) return Framed({12});
        if (cmd == 41) return pasAnswer;
        if (cmd == startCmd) {
            if (onStart) onStart();
            return With({ACK_BYTE}, ++starts == 1 ? stream : restream);
        }
        // ATR, SBR, SER echo ATS, SBS, SES; ACR reports what ACS selected.
        const std::map<uint8_t, uint8_t> echo = {{34, 33}, {30, 29}, {32, 31}, {43, 42}};
        if (const auto it = echo.find(cmd); it != echo.end()) return Framed({last[it->second]});
        last[cmd] = r[2];
        return {ACK_BYTE};
    }
};

ScopeSetup RecordingSetUp(int32_t mode, int32_t seconds) {
    ScopeSetup s = DefaultScopeSetup();
    s.Mode = mode;
    s.AcquisitionTime = seconds;
    return s;
}

void ClearProgressFlag(EngineRig& rig) {
    rig.notifier.onSend = [&rig](uint32_t code) {
        if (code == NOTIFY_ACQUISITION_PROGRESS) rig.s.DisplayUpdatePending.store(0);
    };
}
} // namespace

TEST(AcquisitionActions, StepRecordingSendsTheSetUpAndTakesTheWholeWindow) {
    StreamingValve model{36, Records(1000, [](int k) { return static_cast<uint8_t>(k % 256); }), {}, {}};
    EngineRig rig;
    ScriptedValve valve([&](const Bytes& r) { return model.Answer(r); }, rig.clock);
    rig.UseDevice(valve.SlavePath());
    ScopeSetup setup = RecordingSetUp(0, 4);
    for (int c = 0; c < 4; ++c)
        setup.Analog[c].Signal = std::vector<int32_t>{1, 2, 2, 3}[static_cast<size_t>(c)];
    StoreScopeSetup(rig.s, setup);
    ClearProgressFlag(rig);
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_STEP_MODE, NOTIFY_ACQUISITION_ENDED));
    ASSERT_TRUE(rig.WaitIdle());
    const auto requests = valve.Requests();
    const std::vector<Bytes> expected = {
        Telegram(0x23, 0), Telegram(33, 4), Telegram(34, 0),    Telegram(29, 20), Telegram(30, 0),
        Telegram(31, 180), Telegram(32, 0), Telegram(42, 0x6B), Telegram(43, 0),  Telegram(36, 0)};
    ASSERT_EQ(requests.size(), expected.size()) << "nothing is sent for the stream, and no PAS";
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(requests[k].bytes, expected[k]) << k;

    const ScopeSetup reported = CopyScopeSetup(rig.s);
    EXPECT_EQ(reported.AcquisitionTimeReported, 4);
    EXPECT_EQ(reported.SetpointBeginReported, 10.0f);
    EXPECT_EQ(reported.SetpointEndReported, 90.0f);
    EXPECT_EQ(reported.Analog[1].Reported, 2);
    EXPECT_EQ(reported.AnalogReportedValid, 1);

    EXPECT_EQ(rig.s.FillIndex.load(), 1000) << "4 s at 4 ms";
    EXPECT_FLOAT_EQ(rig.s.samples.Analog(0, 5), 5 * 100.0f / 255);
    EXPECT_FLOAT_EQ(rig.s.samples.Analog(0, 999), (999 % 256) * 100.0f / 255);
    EXPECT_EQ(rig.s.samples.Binary(0, 99), 0);
    EXPECT_EQ(rig.s.samples.Binary(0, 100), 1);
    const auto codes = rig.notifier.Codes();
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(codes.back(), NOTIFY_ACQUISITION_ENDED);
    EXPECT_EQ(codes[codes.size() - 2], NOTIFY_ACQUISITION_PROGRESS) << "the last samples are shown first";
    // 1000 records at a threshold of 122: a redraw after every third block of 49, then the last.
    EXPECT_EQ(std::count(codes.begin(), codes.end(), NOTIFY_ACQUISITION_PROGRESS), 7);
    EXPECT_EQ(rig.s.DisplayTooFast.load(), 0u);
}

TEST(AcquisitionActions, AStopDuringARampSendsPas) {
    EngineRig rig;
    StreamingValve model{36, Records(60, [](int) { return uint8_t{10}; }), {}, {}};
    // The stop comes while the valve starts streaming.
    model.onStart = [&rig] { RequestStopAcquisition(rig.s.THREAD_CMD); };
    ScriptedValve valve([&](const Bytes& r) { return model.Answer(r); }, rig.clock);
    rig.UseDevice(valve.SlavePath());
    ScopeSetup setup = RecordingSetUp(1, 8);
    setup.MasterSlave = 1;
    StoreScopeSetup(rig.s, setup);
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_RAMP_MODE, NOTIFY_ACQUISITION_ENDED));
    ASSERT_TRUE(rig.WaitIdle());
    // The engine may take the ACK that the valve sent with its stream, late, for PAS's: the PAS
    // is on the line all the same, and the valve reads it when its thread comes to it.
    ASSERT_TRUE(linktest::WaitFor([&] { return valve.Requests().size() >= 12; })) << valve.Requests().size();
    const auto requests = valve.Requests();
    ASSERT_EQ(requests.size(), 12u) << "the rate test, the ramp's set-up and PAS";
    EXPECT_EQ(requests[7].bytes, Telegram(86, 50)) << "RSS: ramp time 5.0 s";
    EXPECT_EQ(requests[10].bytes, Telegram(36, 129)) << "SAS: ramp, slave";
    EXPECT_EQ(requests[11].bytes, Telegram(41, 0)) << "PAS";
    EXPECT_EQ(rig.s.AcquisitionRunning.load(), 0u);
    EXPECT_EQ(rig.link.SampleStreamMode.load(), 0u);
    EXPECT_NE(rig.TraceText().find(" Stop Acquisition "), std::string::npos);
}

// Exit's wait for a requested stop: a valve that never answers PAS holds it 3 s on the clock, no
// longer. (That it ends with the valve's answer is tried through the window.)
TEST(AcquisitionActions, TheWaitForAStopEndsAtItsLimitWhenPasIsNeverAnswered) {
    EngineRig rig;
    StreamingValve model{36, Records(60, [](int) { return uint8_t{10}; }), {}, {}};
    model.pasAnswer = {};
    // From the stream on, time waits for the exiting thread below.
    model.onStart = [&rig] { rig.clock.ExpectMembers(1); };
    ScriptedValve valve([&](const Bytes& r) { return model.Answer(r); }, rig.clock);
    rig.UseDevice(valve.SlavePath());
    StoreScopeSetup(rig.s, RecordingSetUp(0, 4));
    rig.Start();
    RequestAction(rig.s, CMD_STEP_MODE);
    ASSERT_TRUE(WaitUntil([&] { return rig.s.SamplesReceived.load() > 0; }));
    RequestStopAcquisition(rig.s.THREAD_CMD);
    WakeEngine(rig.link);
    bool finished = true;
    uint32_t waited = 0;
    std::thread exiting([&] {
        const uint32_t t0 = rig.NowMs();
        finished = rig.FinishStop(3000);
        waited = rig.NowMs() - t0;
    });
    exiting.join();
    EXPECT_FALSE(finished);
    EXPECT_EQ(waited, 3000u);
    EXPECT_EQ(valve.Commands().back(), 41) << "PAS is on the line";
}

TEST(AcquisitionActions, ATriggeredRollEndsWithTheTriggerAtATenthOfTheWindow) {
    // Channel 1 jumps from 25 % to 75 % at record 300; then enough for the post-trigger part.
    StreamingValve model{
        40, Records(1300, [](int k) { return static_cast<uint8_t>(k < 300 ? 64 : 192); }), {}, {}};
    EngineRig rig;
    ScriptedValve valve([&](const Bytes& r) { return model.Answer(r); }, rig.clock);
    rig.UseDevice(valve.SlavePath());
    ScopeSetup setup = RecordingSetUp(2, 4);
    setup.TriggerChannel = 1;
    setup.TriggerValue = 50;
    StoreScopeSetup(rig.s, setup);
    ClearProgressFlag(rig);
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_ROLL_TRIGGER, NOTIFY_ACQUISITION_ENDED));
    ASSERT_TRUE(rig.WaitIdle());
    const auto requests = valve.Requests();
    // A valve still streaming is told to stop first.
    const std::vector<Bytes> expected = {Telegram(0x23, 0), Telegram(41, 0), Telegram(39, 4), Telegram(42, 0),
                                         Telegram(43, 0),   Telegram(40, 0), Telegram(41, 0)};
    ASSERT_EQ(requests.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(requests[k].bytes, expected[k]) << k;
    EXPECT_NE(rig.TraceText().find("Rising Trigger, Ana-Ch:1, Value:50, 75.3, 25.1"), std::string::npos);
    // A window of 1000 with 898 records after the trigger and a final block of two.
    EXPECT_EQ(rig.s.FillIndex.load(), 1000);
    EXPECT_NEAR(rig.s.samples.Analog(0, 98), 25.1, 0.05);
    EXPECT_NEAR(rig.s.samples.Analog(0, 99), 75.3, 0.05);
}

TEST(AcquisitionActions, TheSimulatedValveStreamsInRealTimeUntilStopped) {
    EngineRig rig;
    rig.UseTestMode();
    StoreScopeSetup(rig.s, RecordingSetUp(2, 4));
    // Each redraw's time on the engine's clock, taken on the engine's thread as it is sent: the test's
    // thread may look at the clock late.
    std::mutex m;
    std::vector<uint32_t> redrawnAt;
    rig.notifier.onSend = [&](uint32_t code) {
        if (code != NOTIFY_ACQUISITION_PROGRESS) return;
        std::lock_guard<std::mutex> lock(m);
        redrawnAt.push_back(rig.NowMs());
        rig.s.DisplayUpdatePending.store(0);
    };
    auto redraws = [&] {
        std::lock_guard<std::mutex> lock(m);
        return redrawnAt;
    };
    rig.Start();
    RequestAction(rig.s, CMD_ROLL_TRIGGER);
    ASSERT_TRUE(WaitUntil([&] { return redraws().size() >= 3; }));
    // Records come one period apart on the engine's clock: a redraw every ~123 records of 4 ms.
    const std::vector<uint32_t> at = redraws();
    EXPECT_GE(at[2] - at[0], 2 * 123 * 4 - 200);
    RequestStopAcquisition(rig.s.THREAD_CMD);
    WakeEngine(rig.link);
    ASSERT_TRUE(rig.notifier.WaitFor(NOTIFY_ACQUISITION_ENDED));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_GT(rig.s.SamplesReceived.load(), 200);
}

// ---- a lost block, a valve gone silent, the hard stop ---------------------------------------------

TEST(AcquisitionActions, AStepRecordingThatLosesABlockStartsAgainAndTakesTheWholeWindow) {
    // The first stream breaks off after 400 of the 1000 records; the restart's stream is whole.
    StreamingValve model{36, Records(400, [](int) { return uint8_t{51}; }), {}, {}};
    model.restream = Records(1000, [](int k) { return static_cast<uint8_t>(k % 256); });
    EngineRig rig;
    ScriptedValve valve([&](const Bytes& r) { return model.Answer(r); }, rig.clock);
    rig.UseDevice(valve.SlavePath());
    StoreScopeSetup(rig.s, RecordingSetUp(0, 4));
    ClearProgressFlag(rig);
    rig.Start();

    const uint32_t t0 = rig.NowMs();
    ASSERT_TRUE(rig.Request(CMD_STEP_MODE, NOTIFY_ACQUISITION_ENDED));
    ASSERT_TRUE(rig.WaitIdle());
    // The block after the 392nd record never completes: 10 s, the restart's pause of 1 s.
    EXPECT_GE(rig.NowMs() - t0, 11000u);
    EXPECT_LT(rig.NowMs() - t0, 11500u);
    const auto commands = valve.Commands();
    const std::vector<uint8_t> setUp = {33, 34, 29, 30, 31, 32, 42, 43, 36};
    std::vector<uint8_t> expected = {0x23};
    expected.insert(expected.end(), setUp.begin(), setUp.end());
    expected.insert(expected.end(), setUp.begin(), setUp.end());
    EXPECT_EQ(commands, expected) << "the restart sends the whole set-up again, and nothing else";
    for (const auto& e : rig.notifier.Events())
        EXPECT_FALSE(e.code >= 1 && e.code <= 8) << "error " << e.code;
    EXPECT_EQ(rig.s.FillIndex.load(), 1000);
    EXPECT_FLOAT_EQ(rig.s.samples.Analog(0, 0), 0.0f) << "the window holds the second stream";
    EXPECT_FLOAT_EQ(rig.s.samples.Analog(0, 999), (999 % 256) * 100.0f / 255);
    EXPECT_EQ(CountOf(rig.TraceText(), "Retry 1 "), 1u);
    EXPECT_FALSE(HardStopNeeded(NOTIFY_REPLY_TIMEOUT, rig.s)) << "the valve ended its stream by itself";
}

TEST(AcquisitionActions, ARollRecordingStopsAValveStillStreamingBeforeItStartsAgain) {
    // The first stream breaks off; when the restart's PAS reaches the valve, records of its stream
    // are still on their way, then comes its ACK. The second stream fires the trigger.
    StreamingValve model{40, Records(300, [](int) { return uint8_t{64}; }), {}, {}};
    model.restream = Records(1300, [](int k) { return static_cast<uint8_t>(k < 300 ? 64 : 192); });
    model.pasAnswer = With(Records(3, [](int) { return uint8_t{ACK_BYTE}; }), {ACK_BYTE});
    EngineRig rig;
    ScriptedValve valve([&](const Bytes& r) { return model.Answer(r); }, rig.clock);
    rig.UseDevice(valve.SlavePath());
    ScopeSetup setup = RecordingSetUp(2, 4);
    setup.TriggerChannel = 1;
    setup.TriggerValue = 50;
    StoreScopeSetup(rig.s, setup);
    ClearProgressFlag(rig);
    rig.Start();

    ASSERT_TRUE(rig.Request(CMD_ROLL_TRIGGER, NOTIFY_ACQUISITION_ENDED));
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(valve.Commands(), (std::vector<uint8_t>{0x23, 41, 39, 42, 43, 40, 41, 39, 42, 43, 40, 41}));
    for (const auto& e : rig.notifier.Events())
        EXPECT_FALSE(e.code >= 1 && e.code <= 8) << "error " << e.code;
    EXPECT_NE(rig.TraceText().find("Rising Trigger, Ana-Ch:1, Value:50, 75.3, 25.1"), std::string::npos);
    EXPECT_EQ(rig.s.FillIndex.load(), 1000);
    EXPECT_NEAR(rig.s.samples.Analog(0, 99), 75.3, 0.05);
}

TEST(AcquisitionActions, AValveGoneSilentEndsTheRecordingWithTheErrorAndTheWindowsHardStop) {
    StreamingValve model{36, Records(200, [](int) { return uint8_t{10}; }), {}, {}};
    std::atomic<uint32_t> silentAt{0};
    EngineRig rig;
    model.onStart = [&] {
        silentAt.store(rig.NowMs());
        model.silent.store(true);
    };
    ScriptedValve valve([&](const Bytes& r) { return model.Answer(r); }, rig.clock);
    rig.UseDevice(valve.SlavePath());
    StoreScopeSetup(rig.s, RecordingSetUp(0, 8));
    ClearProgressFlag(rig);
    rig.Start();

    RequestAction(rig.s, CMD_STEP_MODE);
    ASSERT_TRUE(rig.notifier.WaitFor(NOTIFY_REPLY_TIMEOUT));
    ASSERT_TRUE(rig.WaitIdle());
    // The block's 10 s, then three restarts, each a pause of 1 s and 10 s for the unanswered ATS.
    const uint32_t failedAfter = rig.NowMs() - silentAt.load();
    EXPECT_GE(failedAfter, 43000u);
    EXPECT_LT(failedAfter, 43500u);
    EXPECT_EQ(CountOf(rig.TraceText(), "Retry "), 3u);

    // The window's part: the failure may have left the valve streaming.
    ASSERT_TRUE(HardStopNeeded(NOTIFY_REPLY_TIMEOUT, rig.s));
    EXPECT_FALSE(HardStopNeeded(NOTIFY_BAUDRATE_ERROR, rig.s));
    const uint32_t stopAsked = rig.NowMs();
    ASSERT_TRUE(rig.Request(CMD_HARD_STOP, NOTIFY_ACQUISITION_ENDED));
    ASSERT_TRUE(rig.WaitIdle());
    // PAS at either line speed, half a second each.
    const uint32_t stopTook = rig.NowMs() - stopAsked;
    EXPECT_GE(stopTook, 1000u);
    EXPECT_LT(stopTook, 1200u);
    // The rate test, the set-up, three restarts' ATS, and the hard stop's two PAS (no rate test).
    const auto requests = valve.Requests();
    ASSERT_EQ(requests.size(), 15u);
    const std::vector<uint8_t> pas = {0x02, 0x29, 0x00, 0x29};
    EXPECT_EQ(requests[requests.size() - 2].bytes, pas);
    EXPECT_EQ(requests[requests.size() - 2].speed, B19200);
    EXPECT_EQ(requests.back().bytes, pas);
    EXPECT_EQ(requests.back().speed, B57600);
    for (size_t k = requests.size() - 5; k < requests.size() - 2; ++k)
        EXPECT_EQ(requests[k].bytes, Telegram(33, 8)) << "each restart begins with ATS, outside the stream";
    EXPECT_FALSE(HardStopNeeded(NOTIFY_REPLY_TIMEOUT, rig.s)) << "the stream has been stopped";
    EXPECT_EQ(rig.link.BaudIndex.load(), 0) << "the next request searches the line speed again";
    EXPECT_EQ(rig.notifier.Codes().back(), NOTIFY_ACQUISITION_ENDED);
    EXPECT_EQ(CountOf(rig.TraceText(), " Hard Stop Acquisition done"), 1u);
}
