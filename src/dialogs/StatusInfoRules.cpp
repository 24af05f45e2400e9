#include "dialogs/StatusInfoRules.h"

#include "engine/QlnState.h"
#include "link/SerialPort.h"

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

PortDevice PortDeviceOf(bool portLost, bool pathBack) {
    if (!portLost) return PortDevice::Usable;
    return pathBack ? PortDevice::Back : PortDevice::Gone;
}

PortDevice PortDeviceOf(const LinkState& link) {
    return PortDeviceOf(link.PortLost.load() != 0, PortDeviceBack(link));
}

StatusPoll DecideStatusPoll(bool communicationError, PortDevice device) {
    switch (device) {
    case PortDevice::Gone:
        return {false, true, communicationError};
    case PortDevice::Back:
        return {true, true, false};
    default:
        return {!communicationError, !communicationError, communicationError};
    }
}

bool ErrorStopsStatusPolls(PortDevice device) {
    return device == PortDevice::Usable;
}

bool CommunicationBoxShown(bool statusDialogOpen, PortDevice device) {
    return !statusDialogOpen || device == PortDevice::Usable;
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

void StaleWatch::Asked(uint32_t nowMs) {
    if (waiting_) return;
    waiting_ = true;
    since_ = nowMs;
}

void StaleWatch::Settled() {
    waiting_ = false;
}

bool StaleWatch::Stale(uint32_t nowMs) const {
    // Unsigned difference: the 32-bit clock may wrap around while the dialog waits.
    return waiting_ && nowMs - since_ >= STALE_AFTER_MS;
}
