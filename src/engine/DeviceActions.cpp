// The device commands' steps: the parameter set, the valve information and identity, the status,
// the counters and the set switch. Each is a short run of exchanges that the dispatcher starts.
#include "engine/Action.h"

#include <cstring>

#include "engine/DeviceCommands.h"
#include "link/ComThread.h"

namespace {
// The information telegrams of Read Device Info, in order.
const InfoTelegram DEVICE_INFO_TELEGRAMS[] = {DIR, VER, OCR, VTR, CTR};
const InfoTelegram STATUS_TELEGRAMS[] = {STR, LER};
// Read Identity's telegrams; it starts at DIR when the baud-rate test has just read the version.
const InfoTelegram IDENTITY_TELEGRAMS[] = {VER, DIR};

} // namespace

void ActionEngine::StepReadParameter(uint32_t offset) {
    constexpr uint32_t exchanges = PARAM_TELEGRAM_COUNT * 3;
    if (offset < exchanges) {
        const auto t = static_cast<ParamTelegram>(offset / 3);
        const ParamTelegramInfo& row = TelegramInfo(t);
        if (offset == 0 && LinkIdle()) {
            PublishValid(s_.params.ValveBlock.BLOCK_VALID, 0);
            QLN_TRACE_INFO(l_.trace, "Read Parameter");
            hold_ = ParamReadHold{};
        }
        const Ex r = Exchange(offset % 3, row.readName, row.readCmd, 0, 3);
        if (r != Ex::Next) return;
        if (offset % 3 == 2) ParamDecode(t, l_.ReplyBuffer[1], s_.params.ValveBlock, hold_, s_.testFunction);
        Advance();
    } else if (offset == exchanges) {
        retry_ = 0;
        Advance();
    } else {
        PublishValid(s_.params.ValveBlock.BLOCK_VALID, 1);
        Finish(CMD_READ_PARAMETER, NOTIFY_PARAMETERS_READ);
    }
}

void ActionEngine::StepWriteParameter(uint32_t offset) {
    constexpr uint32_t exchanges = PARAM_WRITE_COUNT * 3;
    if (offset < exchanges) {
        const ParamTelegram t = WriteTelegram(offset / 3);
        const ParamTelegramInfo& row = TelegramInfo(t);
        if (offset == 0 && LinkIdle() && !s_.CancelRequested.load()) {
            QLN_TRACE_INFO(l_.trace, " Write Parameter ");
            if (s_.ParamsWriteAcked.load() < 0) s_.ParamsWriteAcked.store(0);
        }
        const uint8_t data = ParamWriteData(t, s_.params.EditBlock, s_.testFunction);
        if (Exchange(offset % 3, row.writeName, row.WriteCmd(), data, 1) != Ex::Next) return;
        const auto acked = static_cast<int32_t>(offset / 3 + 1);
        if (offset % 3 == 2 && acked > s_.ParamsWriteAcked.load()) s_.ParamsWriteAcked.store(acked);
        Advance();
    } else {
        Finish(CMD_WRITE_PARAMETER, NOTIFY_PARAMETERS_WRITTEN);
    }
}

void ActionEngine::StepReadDeviceInfo(uint32_t offset) {
    constexpr uint32_t count = sizeof DEVICE_INFO_TELEGRAMS / sizeof DEVICE_INFO_TELEGRAMS[0];
    if (offset >= count * 3) {
        PublishValid(s_.deviceInfo.Valid, 1);
        Finish(CMD_READ_DEVICE_INFO, NOTIFY_DEVICE_INFO);
        return;
    }
    if (offset == 0 && LinkIdle()) {
        PublishValid(s_.deviceInfo.Valid, 0);
        QLN_TRACE_INFO(l_.trace, " Read Device Info ");
        const int32_t firmware = s_.deviceInfo.ControllerFirmware;
        std::memset(&s_.deviceInfo, 0, sizeof s_.deviceInfo);
        s_.deviceInfo.ControllerFirmware = firmware;
    }
    const InfoTelegram& t = DEVICE_INFO_TELEGRAMS[offset / 3];
    if (Exchange(offset % 3, t.name, t.cmd, 0, t.replyLength) != Ex::Next) return;
    if (offset % 3 == 2) {
        const uint8_t* r = l_.ReplyBuffer;
        DeviceInfo& d = s_.deviceInfo;
        switch (t.cmd) {
        case DIR.cmd:
            DecodeDeviceRecord(r, d);
            break;
        case VER.cmd:
            d.ControllerFirmware = r[1];
            break;
        case OCR.cmd:
            DecodeCounterRecord(r, d);
            break;
        case VTR.cmd:
            d.ValveTemperature = r[1] - 50;
            break;
        default:
            d.CalibrationTemperature = r[1];
            break;
        }
    }
    Advance();
}

// Only what the history needs of the valve: its version (unless the baud-rate test of this
// request has just read it; a valve may have been swapped since an earlier one) and its part and
// serial number. The valve information (deviceInfo) is left as the user last read it.
void ActionEngine::StepReadIdentity(uint32_t offset) {
    constexpr uint32_t count = sizeof IDENTITY_TELEGRAMS / sizeof IDENTITY_TELEGRAMS[0];
    const uint32_t first = probedFirmware_ != 0 ? 1 : 0;
    if (offset >= (count - first) * 3) {
        EndReadIdentity();
        return;
    }
    if (offset == 0 && LinkIdle()) {
        QLN_TRACE_INFO(l_.trace, " Read Identity ");
        StoreValveIdentity(s_, ValveIdentity{});
        identity_ = ValveIdentity{};
        identity_.ControllerFirmware = probedFirmware_;
    }
    const InfoTelegram& t = IDENTITY_TELEGRAMS[first + offset / 3];
    if (Exchange(offset % 3, t.name, t.cmd, 0, t.replyLength) != Ex::Next) return;
    if (offset % 3 == 2 && t.cmd == VER.cmd) identity_.ControllerFirmware = l_.ReplyBuffer[1];
    if (offset % 3 == 2 && t.cmd == DIR.cmd) DecodeIdentityRecord(l_.ReplyBuffer, identity_);
    Advance();
}

// A job requested with the identity tells only its own end; the identity alone tells its own.
void ActionEngine::EndReadIdentity() {
    identity_.Valid = 1;
    StoreValveIdentity(s_, identity_);
    if ((s_.THREAD_CMD.load() & ~static_cast<uint32_t>(CMD_READ_IDENTITY)) == 0) {
        Finish(CMD_READ_IDENTITY, NOTIFY_IDENTITY);
        return;
    }
    s_.THREAD_CMD.fetch_and(~static_cast<uint32_t>(CMD_READ_IDENTITY));
    s_.ACTION_STEP.store(0);
}

void ActionEngine::StepReadStatus(uint32_t offset) {
    if (offset >= 6) {
        PublishValid(s_.statusInfo.Valid, 1);
        Finish(CMD_READ_STATUS, NOTIFY_STATUS);
        return;
    }
    if (offset == 0 && LinkIdle()) QLN_TRACE_INFO(l_.trace, " Read Status Update, LED ");
    const InfoTelegram& t = STATUS_TELEGRAMS[offset / 3];
    if (Exchange(offset % 3, t.name, t.cmd, 0, 3) != Ex::Next) return;
    if (offset % 3 == 2) {
        if (t.cmd == STR.cmd)
            DecodeStatusByte(l_.ReplyBuffer[1], s_.statusInfo);
        else
            DecodeLedByte(l_.ReplyBuffer[1], s_.statusInfo);
    }
    Advance();
}

void ActionEngine::StepResetOperationCounter(uint32_t offset) {
    if (offset == 0) {
        QLN_TRACE_INFO(l_.trace, " Reset Operation Counter ");
        StartLinkTimer(l_, 2, 3);
        Advance();
    } else if (l_.LinkTimers[2].load() == 0) {
        Finish(CMD_RESET_OPERATION_COUNTER, NOTIFY_OPERATION_COUNTER_RESET);
    }
}

void ActionEngine::StepResetCalibrationCounter(uint32_t) {
    QLN_TRACE_INFO(l_.trace, " Reset Calibration Counter ");
    Finish(CMD_RESET_CALIBRATION_COUNTER, NOTIFY_CALIBRATION_COUNTER_RESET);
}

void ActionEngine::StepSetSwitch(uint32_t offset) {
    if (offset >= 3) {
        Finish(CMD_FACTORY_SET | CMD_CUSTOM_SET, NOTIFY_SET_SWITCHED);
        return;
    }
    if (offset == 0 && LinkIdle()) QLN_TRACE_INFO(l_.trace, " Custom, Factory Parameter Send ");
    if (Exchange(offset, CAS.name, CAS.cmd, ConfigurationByte(s_.params.EditBlock), 1) == Ex::Next) Advance();
}
