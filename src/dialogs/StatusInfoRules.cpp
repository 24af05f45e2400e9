#include "dialogs/StatusInfoRules.h"

#include "engine/QlnState.h"

namespace {
const StatusPair PAIRS[] = {
    {&StatusInfo::Overvoltage, 183, "Overvoltage", 19, "NO", 119, "YES"},
    {&StatusInfo::Undervoltage, 184, "Undervoltage", 19, "NO", 119, "YES"},
    {&StatusInfo::Overtemperature, 185, "Overtemperature", 19, "NO", 119, "YES"},
    {&StatusInfo::DigitalOutput, 186, "Digital Out", 104, "High", 105, "Low"},
    {&StatusInfo::Jumper, 187, "Jumper", 35, "ON", 36, "OFF"},
    {&StatusInfo::KeyLock, 188, "Key Lock", 181, "Disabled", 182, "Enabled"},
    {&StatusInfo::ManualSetpoint, 189, "Manual Setpoint", 181, "Disabled", 182, "Enabled"},
    {&StatusInfo::Reserve, 190, "Reserve", 181, "Disabled", 182, "Enabled"},
};
} // namespace

std::span<const StatusPair> StatusPairs() {
    return PAIRS;
}

int RadioSelection(int32_t value, bool valid) {
    if (!valid || (value != 1 && value != 2)) return -1;
    return value - 1;
}

LedPicture ChooseLedPicture(LedColour led, int32_t state, bool valid, bool blinkPhase) {
    if (!valid) return LedPicture::NoData;
    const LedPicture lit = led == LedColour::Red     ? LedPicture::LitRed
                           : led == LedColour::Green ? LedPicture::LitGreen
                                                     : LedPicture::LitYellow;
    switch (state) {
    case 0:
        return LedPicture::Off;
    case 1:
        return lit;
    case 3:
        return blinkPhase ? LedPicture::Off : lit;
    default:
        return LedPicture::Question;
    }
}

bool IsCommunicationError(uint32_t code) {
    return code >= 1 && code <= 8;
}

bool RequestStatusRead(std::atomic<uint32_t>& threadCmd, bool communicationError) {
    if (communicationError) return false;
    uint32_t idle = 0;
    return threadCmd.compare_exchange_strong(idle, CMD_READ_STATUS);
}

bool RequestValveInfoRead(std::atomic<uint32_t>& threadCmd) {
    uint32_t idle = 0;
    return threadCmd.compare_exchange_strong(idle, CMD_READ_DEVICE_INFO);
}

bool SnapshotStatus(uint32_t threadCmd, StatusInfo& shared, StatusInfo& copy) {
    if (threadCmd & CMD_READ_STATUS) return false;
    StatusInfo c{};
    c.Valid = LoadValid(shared.Valid);
    if (c.Valid) {
        c.Overvoltage = shared.Overvoltage;
        c.Undervoltage = shared.Undervoltage;
        c.Overtemperature = shared.Overtemperature;
        c.DigitalOutput = shared.DigitalOutput;
        c.Jumper = shared.Jumper;
        c.KeyLock = shared.KeyLock;
        c.ManualSetpoint = shared.ManualSetpoint;
        c.Reserve = shared.Reserve;
        c.LedRed = shared.LedRed;
        c.LedGreen = shared.LedGreen;
        c.LedYellow = shared.LedYellow;
    }
    copy = c;
    return true;
}

void ClearStatus(uint32_t threadCmd, StatusInfo& shared) {
    PublishValid(shared.Valid, 0);
    if (threadCmd & CMD_READ_STATUS) return;
    shared = StatusInfo{};
}
