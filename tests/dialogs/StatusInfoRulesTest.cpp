#include "dialogs/StatusInfoRules.h"

#include <gtest/gtest.h>

#include <array>

#include "engine/DeviceCommands.h"
#include "engine/QlnState.h"

namespace {

TEST(StatusInfoRulesTest, ValuesCheckTheButtonOfTheirPair) {
    // The engine's decoding and the dialog's pairs together: a status byte with the jumper and
    // the digital output set checks "ON" and "High"; enable-type flags check "Enabled" for 2.
    StatusInfo s{};
    DecodeStatusByte(0x18 | 0x04, s);
    const auto pairs = StatusPairs();
    ASSERT_EQ(pairs.size(), 8u);
    auto checked = [&](const char* group) -> std::string {
        for (const StatusPair& p : pairs)
            if (std::string(p.groupCaption) == group) {
                const int sel = RadioSelection(s.*(p.field), true);
                return sel < 0 ? "" : sel == 0 ? p.firstCaption : p.secondCaption;
            }
        return "?";
    };
    EXPECT_EQ(checked("Jumper"), "ON");
    EXPECT_EQ(checked("Digital Out"), "High");
    EXPECT_EQ(checked("Key Lock"), "Enabled");
    EXPECT_EQ(checked("Overvoltage"), "NO");
    DecodeStatusByte(0x80, s);
    EXPECT_EQ(checked("Jumper"), "OFF");
    EXPECT_EQ(checked("Digital Out"), "Low");
    EXPECT_EQ(checked("Key Lock"), "Disabled");
    EXPECT_EQ(checked("Overvoltage"), "YES");

    for (int32_t v : {0, 3, -1})
        EXPECT_EQ(RadioSelection(v, true), -1) << v;
    EXPECT_EQ(RadioSelection(1, false), -1);
}

TEST(StatusInfoRulesTest, LedPictureFollowsStateValidityAndBlinkPhase) {
    using P = LedPicture;
    EXPECT_EQ(ChooseLedPicture(LedColour::Red, 1, false, false), P::NoData);
    EXPECT_EQ(ChooseLedPicture(LedColour::Red, 0, true, false), P::Off);
    EXPECT_EQ(ChooseLedPicture(LedColour::Red, 1, true, true), P::LitRed);
    EXPECT_EQ(ChooseLedPicture(LedColour::Green, 1, true, false), P::LitGreen);
    EXPECT_EQ(ChooseLedPicture(LedColour::Yellow, 1, true, false), P::LitYellow);
    EXPECT_EQ(ChooseLedPicture(LedColour::Green, 2, true, false), P::Question);
    EXPECT_EQ(ChooseLedPicture(LedColour::Yellow, 3, true, false), P::LitYellow);
    EXPECT_EQ(ChooseLedPicture(LedColour::Yellow, 3, true, true), P::Off);
    EXPECT_EQ(ChooseLedPicture(LedColour::Red, 7, true, false), P::Question);
}

TEST(StatusInfoRulesTest, RequestsOnlyIntoAnIdleWordAndNeverAfterAnError) {
    std::atomic<uint32_t> cmd{0};
    EXPECT_FALSE(RequestStatusRead(cmd, true));
    EXPECT_EQ(cmd.load(), 0u);
    EXPECT_TRUE(RequestStatusRead(cmd, false));
    EXPECT_EQ(cmd.load(), uint32_t{CMD_READ_STATUS});
    cmd = CMD_STEP_MODE;
    EXPECT_FALSE(RequestStatusRead(cmd, false));
    EXPECT_FALSE(RequestValveInfoRead(cmd));
    EXPECT_EQ(cmd.load(), uint32_t{CMD_STEP_MODE});
    cmd = 0;
    EXPECT_TRUE(RequestValveInfoRead(cmd));
    EXPECT_EQ(cmd.load(), uint32_t{CMD_READ_DEVICE_INFO});
}

TEST(StatusInfoRulesTest, RecordIsCopiedOnlyWhenSettledAndCleared) {
    StatusInfo shared{};
    DecodeLedByte(0x3F, shared);
    PublishValid(shared.Valid, 1);
    StatusInfo copy{};
    // A read in flight: the last copy stays.
    EXPECT_FALSE(SnapshotStatus(CMD_READ_STATUS, shared, copy));
    EXPECT_EQ(copy.Valid, 0);
    EXPECT_TRUE(SnapshotStatus(0, shared, copy));
    EXPECT_EQ(copy.Valid, 1);
    EXPECT_EQ(copy.LedRed, 3);

    // Opening with a read in flight clears only the flag; the engine owns the fields then.
    ClearStatus(CMD_READ_STATUS, shared);
    EXPECT_EQ(shared.Valid, 0);
    EXPECT_EQ(shared.LedRed, 3);
    ClearStatus(0, shared);
    EXPECT_EQ(shared.LedRed, 0);
    EXPECT_TRUE(SnapshotStatus(0, shared, copy));
    EXPECT_EQ(copy.Valid, 0);
}

} // namespace

TEST(StatusInfoRulesTest, ValuesTurnStaleThreeSecondsAfterAnUnansweredAsk) {
    StaleWatch w;
    EXPECT_FALSE(w.Stale(100000));
    w.Asked(1000);
    EXPECT_FALSE(w.Stale(3999));
    EXPECT_TRUE(w.Stale(4000));
    // Asking again does not restart the wait: the values are as old as the first ask.
    w.Asked(3500);
    EXPECT_TRUE(w.Stale(4000));
    w.Settled();
    EXPECT_FALSE(w.Stale(10000));
    // Across the 32-bit clock's wrap-around: asked 1000 ms before it, stale 2000 ms after it.
    w.Asked(0xFFFFFC18u);
    EXPECT_FALSE(w.Stale(0x00000100u));
    EXPECT_FALSE(w.Stale(1999));
    EXPECT_TRUE(w.Stale(2000));
}

// The adapter pulled out and put back while the dialog is open: nothing is asked of a gone
// device, its broken poll neither stops the polls nor brings up a box, and they resume by themselves.
TEST(StatusInfoRulesTest, ALostDeviceIsWaitedForWithoutAStopOrABox) {
    EXPECT_EQ(PortDeviceOf(false, true), PortDevice::Usable); // (lost, path present)
    EXPECT_EQ(PortDeviceOf(true, false), PortDevice::Gone);
    EXPECT_EQ(PortDeviceOf(true, true), PortDevice::Back);
    const struct {
        bool stoppedBefore;
        PortDevice device;
        bool request, unconfirmed, stoppedAfter, errorStopsAndBox;
    } rows[] = {
        {false, PortDevice::Usable, true, true, false, true},
        {true, PortDevice::Usable, false, false, true, true},
        {false, PortDevice::Gone, false, true, false, false},
        {true, PortDevice::Gone, false, true, true, false},
        {false, PortDevice::Back, true, true, false, false},
        {true, PortDevice::Back, true, true, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.device) * 2 + r.stoppedBefore);
        const StatusPoll p = DecideStatusPoll(r.stoppedBefore, r.device);
        EXPECT_EQ((std::array{p.request, p.unconfirmed, p.stopped}),
                  (std::array{r.request, r.unconfirmed, r.stoppedAfter}));
        EXPECT_EQ(ErrorStopsStatusPolls(r.device), r.errorStopsAndBox);
        EXPECT_EQ(CommunicationBoxShown(true, r.device), r.errorStopsAndBox);
        EXPECT_TRUE(CommunicationBoxShown(false, r.device)); // without the dialog the box always comes
    }
}
