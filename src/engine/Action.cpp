#include "engine/Action.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/DeviceCommands.h"
#include "link/ComThread.h"
#include "link/SerialPort.h"
#include "text/Texts.h"

namespace {
struct ActionEntry {
    uint32_t bit;
    uint32_t firstStep;
};

// Request bits in the order the dispatcher tests them: the first set bit wins.
const ActionEntry PRIORITY[] = {
    {CMD_BAUDRATE_TEST, 0x330},
    {CMD_READ_IDENTITY, 0x370},
    {CMD_FACTORY_SET, 0x280},
    {CMD_CUSTOM_SET, 0x280},
    {CMD_WRITE_PARAMETER, 0x80},
    {CMD_READ_PARAMETER, 0x10},
    {CMD_START_CALIBRATION, 0xF0},
    {CMD_CHECK_CALIBRATION, 0x100},
    {CMD_STOP_CALIBRATION, 0x130},
    {CMD_WRITE_MATRIX, 0x150},
    {CMD_READ_MATRIX, 0x350},
    {CMD_READ_DEVICE_INFO, 0x170},
    {CMD_READ_STATUS, 0x190},
    {CMD_STOP_ACQUISITION, 0x240},
    {CMD_HARD_STOP, 0x2B0},
    {CMD_ROLL_TRIGGER, 0x1B0},
    {CMD_RAMP_MODE, 0x1E0},
    {CMD_STEP_MODE, 0x210},
    {CMD_SERIAL_SETPOINT, 0x250},
    {CMD_RESET_OPERATION_COUNTER, 0x260},
    {CMD_RESET_CALIBRATION_COUNTER, 0x270},
    {CMD_WRITE_TEST_FUNCTION, 0x290},
    {CMD_READ_TEST_FUNCTION, 0x2A0},
    {CMD_AUTOTUNE, 0x2C0},
};

constexpr uint32_t STEP_RESTART = 0x310;
constexpr uint32_t STEP_STOP = 0x320;
constexpr uint32_t STEP_BAUDRATE = 0x330;
constexpr uint32_t ERROR_TEXT_LIMIT = 140000;
constexpr uint8_t CMD_VERSION = 0x23;

// The speed a baud-rate test tries after `tried` others, or 0 when none is left. A speed the user
// gives is the only one; otherwise the one the device answered at last time goes first, and the
// other is still tried, so a valve that was set to the other speed is found as before.
int32_t SpeedToTry(int32_t fixed, int32_t preferred, uint32_t tried) {
    static constexpr int32_t ORDER[][2] = {
        {2, 3}, // nothing remembered, or 19200
        {3, 2}, // 57600 remembered
    };
    if (fixed != 0) return tried == 0 ? fixed : 0;
    return tried < 2 ? ORDER[preferred == 3 ? 1 : 0][tried] : 0;
}
} // namespace

const ActionEngine::StepRange ActionEngine::STEPS[] = {
    {0x0, 0x0, &ActionEngine::StepDispatch},
    {0x10, 0x7D, &ActionEngine::StepReadParameter},
    {0x80, 0xE6, &ActionEngine::StepWriteParameter},
    {0xF0, 0xF9, &ActionEngine::StepStartCalibration},
    {0x100, 0x10F, &ActionEngine::StepCheckCalibration},
    {0x130, 0x133, &ActionEngine::StepStopCalibration},
    {0x150, 0x16D, &ActionEngine::StepWriteMatrix},
    {0x170, 0x17F, &ActionEngine::StepReadDeviceInfo},
    {0x190, 0x196, &ActionEngine::StepReadStatus},
    {0x1B0, 0x1DF, &ActionEngine::StepRollTrigger},
    {0x1E0, 0x20F, &ActionEngine::StepRampMode},
    {0x210, 0x23F, &ActionEngine::StepStepMode},
    {0x240, 0x24F, &ActionEngine::StepStopAcquisition},
    {0x250, 0x253, &ActionEngine::StepSerialSetpoint},
    {0x260, 0x261, &ActionEngine::StepResetOperationCounter},
    {0x270, 0x270, &ActionEngine::StepResetCalibrationCounter},
    {0x280, 0x283, &ActionEngine::StepSetSwitch},
    {0x290, 0x299, &ActionEngine::StepWriteTestFunction},
    {0x2A0, 0x2A3, &ActionEngine::StepReadTestFunction},
    {0x2B0, 0x2BF, &ActionEngine::StepHardStop},
    {0x2C0, 0x2C3, &ActionEngine::StepAutoTune},
    {0x310, 0x312, &ActionEngine::StepRestart},
    {0x320, 0x320, &ActionEngine::StepStop},
    {0x330, 0x335, &ActionEngine::StepBaudrateTest},
    {0x350, 0x36D, &ActionEngine::StepReadMatrix},
    {0x370, 0x376, &ActionEngine::StepReadIdentity},
};

ActionEngine::ActionEngine(QlnState& s, INotifier& notifier) : s_(s), l_(s.link), notifier_(notifier) {}

void ActionEngine::Run() {
    for (;;) {
        // Taken before anything is looked at: a wake-up raised from here on ends the wait below.
        const uint32_t seen = l_.EngineWake.count.load();
        if (l_.RunStates[THREAD_ACTION].load() == RUN_STOP_REQUESTED) break;
        CatchUpLinkTimers(l_);
        const uint32_t step = s_.ACTION_STEP.load();
        const uint32_t cmd = s_.THREAD_CMD.load();
        Pass();
        if (s_.THREAD_CMD.load() != cmd) l_.clock->Raise(s_.CommandsChanged);
        // A pass that moved the step has more to do at once; one that did not waits for what its
        // step waits for. The engine's own timers are 1..9; timer 0 is the supervisor's.
        if (s_.ACTION_STEP.load() != step) continue;
        l_.clock->Wait(l_.EngineWake, seen, NextLinkTimerMs(l_, 1, LINK_TIMER_COUNT - 1));
    }
    l_.RunStates[THREAD_ACTION].store(RUN_STOPPED);
    WakeSupervisor(l_);
    l_.clock->Raise(s_.CommandsChanged);
}

void ActionEngine::Pass() {
    if (s_.THREAD_CMD.load() == 0) {
        l_.SampleStreamMode.store(0);
        s_.AcquisitionRunning.store(0);
        s_.ACTION_STEP.store(0);
        probedFirmware_ = 0;
    }
    s_.ACTION_RETRY.store(retry_);
    l_.DebugVars[DBG_ACTION_RETRY].store(retry_);
    const uint32_t step = s_.ACTION_STEP.load();
    for (const StepRange& r : STEPS) {
        if (step >= r.first && step <= r.last) {
            (this->*r.handler)(step - r.first);
            PublishDebug();
            return;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "Wrong Action-Step: x%x", step);
    QLN_TRACE_INFO(l_.trace, "%s", text);
    s_.ACTION_STEP.store(0);
    notifier_.ShowMessage(text, s_.texts->Get(IDS_APP_TITLE));
    PublishDebug();
}

void ActionEngine::PublishDebug() {
    l_.DebugVars[DBG_THREAD_CMD].store(s_.THREAD_CMD.load());
    l_.DebugVars[DBG_ACTION_STEP].store(s_.ACTION_STEP.load());
    l_.DebugVars[DBG_ACTION_RETRY_STEP].store(s_.ACTION_RETRY_STEP.load());
    l_.DebugVars[DBG_ACTION_SUB_CMD].store(s_.ACTION_SUB_CMD.load());
}

// ---- dispatcher ---------------------------------------------------------------------------

void ActionEngine::StepDispatch(uint32_t) {
    retry_ = 0;
    if (s_.THREAD_CMD.load() == 0) {
        identityAsked_ = false;
        return;
    }
    if (RefusedByHistory()) return;
    // The valve history records who the valve is with each job: once per request, also when the
    // window adds the next part of the job (a write after its backup) before the engine is idle.
    const uint32_t recorded = s_.THREAD_CMD.load() & s_.HistoryJobs.load();
    // Taken at the first request after it was set, which is the read-back's.
    const bool readBack = s_.ReadBackRequested.exchange(0) != 0 && recorded == CMD_READ_PARAMETER;
    if (!identityAsked_ && recorded != 0) {
        if (!readBack) s_.THREAD_CMD.fetch_or(CMD_READ_IDENTITY);
        identityAsked_ = true;
    }
    if ((s_.THREAD_CMD.load() & (CMD_BAUDRATE_TEST | CMD_HARD_STOP)) == 0) {
        if (l_.PortLost.load()) {
            // The device vanished while the engine was idle: open it afresh, as after an action
            // that failed on a lost device, instead of sending into the dead port.
            CloseComPort(l_);
            l_.BaudIndex.store(0);
        }
        if (l_.BaudIndex.load() == 0) {
            s_.THREAD_CMD.fetch_or(CMD_BAUDRATE_TEST);
        } else {
            ClearComPortInputBuffer(l_);
            ClearRcvQueue(l_);
        }
    }
    const uint32_t cmd = s_.THREAD_CMD.load();
    QLN_TRACE_INFO(l_.trace, "THREAD_CMD: 0x%x ", cmd);
    s_.LastFailure.store(LineFailure::None);
    s_.ParamsWriteAcked.store(-1);
    s_.TestFunctionUnsent.store(0);
    for (const ActionEntry& a : PRIORITY) {
        if (cmd & a.bit) {
            currentBit_ = a.bit;
            firstStep_ = a.firstStep;
            // Only Read Identity right after the baud-rate test takes that test's version.
            if (a.bit != CMD_READ_IDENTITY) probedFirmware_ = 0;
            if (a.bit == CMD_BAUDRATE_TEST) {
                firmwareZeroShown_ = false;
                speedsTried_ = 0;
                l_.FoundBaudIndex.store(0);
            }
            s_.ACTION_STEP.store(a.firstStep);
            return;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "Unknown THREAD_CMD: 0x%x ", cmd);
    QLN_TRACE_INFO(l_.trace, "%s", text);
    s_.THREAD_CMD.store(0);
    s_.ACTION_STEP.store(0);
    notifier_.ShowMessage(text, s_.texts->Get(IDS_APP_TITLE));
}

// ---- one exchange ---------------------------------------------------------------------------

bool ActionEngine::LinkIdle() const {
    return l_.SEND_STATE.load() != SEND_REQUESTED && l_.RECEIVE_STATE.load() != RECEIVE_AWAITED;
}

ActionEngine::Ex ActionEngine::Exchange(uint32_t phase, const char* name, uint8_t cmd, uint8_t data,
                                        uint32_t replyLength, int32_t replyTimeoutMs) {
    switch (phase) {
    case 0:
        return Transmit(name, cmd, &data, 1);
    case 1: {
        const int32_t st = l_.SEND_STATE.load();
        if (st == SEND_REQUESTED) return Ex::Stay;
        if (st != SEND_SENT) {
            SendFailure();
            return Ex::Failed;
        }
        std::memset(l_.ReplyBuffer, 0, sizeof l_.ReplyBuffer);
        l_.ExpectedLength.store(static_cast<int32_t>(replyLength));
        l_.ReplyTimeoutMs.store(replyTimeoutMs);
        l_.RECEIVE_STATE.store(RECEIVE_AWAITED);
        WakeSupervisor(l_);
        WakeReceiver(l_);
        return Ex::Next;
    }
    default: {
        const int32_t st = l_.RECEIVE_STATE.load();
        if (st == RECEIVE_AWAITED) return Ex::Stay;
        if (st == RECEIVE_COMPLETE && ReplyValid(replyLength)) return Ex::Next;
        ReceiveFailure(st == RECEIVE_COMPLETE, replyLength > 1);
        return Ex::Failed;
    }
    }
}

// The send step: STX, command, data, BCC over command and data (4 bytes, or 13 for the long form).
ActionEngine::Ex ActionEngine::Transmit(const char* name, uint8_t cmd, const uint8_t* data,
                                        uint32_t dataLength) {
    if (!LinkIdle()) return Ex::Stay;
    if (s_.CancelRequested.load()) {
        Cancel();
        return Ex::Stay;
    }
    exchangeName_ = name;
    s_.ACTION_SUB_CMD.store(cmd);
    std::memset(l_.TransmitBuffer, 0, sizeof l_.TransmitBuffer);
    l_.TransmitBuffer[0] = STX;
    l_.TransmitBuffer[1] = cmd;
    std::memcpy(l_.TransmitBuffer + 2, data, dataLength);
    l_.TransmitBuffer[2 + dataLength] = Bcc(l_.TransmitBuffer + 1, 1 + dataLength);
    l_.TransmitLength.store(3 + dataLength);
    if (l_.uTestMode.load() & 1) l_.ExpectedLength.store(3);
    l_.SEND_STATE.store(SEND_REQUESTED);
    WakeSupervisor(l_);
    return Ex::Next;
}

ActionEngine::Ex ActionEngine::ExchangeLong(uint32_t phase, const char* name, uint8_t cmd,
                                            const uint8_t (&data)[10], uint32_t replyLength) {
    if (phase == 0) return Transmit(name, cmd, data, sizeof data);
    return Exchange(phase, name, cmd, 0, replyLength);
}

bool ActionEngine::ReplyValid(uint32_t replyLength) const {
    const uint8_t* r = l_.ReplyBuffer;
    if (replyLength <= 1) return r[0] == ACK;
    return r[0] == STX && Bcc(r + 1, replyLength - 2) == r[replyLength - 1];
}

void ActionEngine::ErrorEntry(int kind, const uint8_t* bytes, uint32_t len, int32_t state) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "Action %s '0x%x' Step x%x, Error:%d ", exchangeName_,
                  s_.ACTION_SUB_CMD.load(), s_.ACTION_STEP.load(), state);
    std::string text = buf;
    len = std::min<uint32_t>(len, LINK_BUFFER_SIZE - 1);
    for (uint32_t i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, "%u:0x%x ", i, bytes[i]);
        if (text.size() + std::strlen(buf) >= ERROR_TEXT_LIMIT) break;
        text += buf;
    }
    std::snprintf(buf, sizeof buf, "bcc:%d ", Bcc(bytes + 1, len));
    if (text.size() + std::strlen(buf) < ERROR_TEXT_LIMIT) text += buf;
    errorText_ = text;
    l_.trace.WriteText(errorText_.c_str(), kind, __FILE__, __LINE__);
}

// Called off between two exchanges, so that no telegram is cut short and every reply on its way
// has been taken: the valve has either received a telegram whole, or not at all.
void ActionEngine::Cancel() {
    QLN_TRACE_INFO(l_.trace, "cancelled ");
    s_.CancelRequested.store(0);
    KeepFailedJob();
    s_.THREAD_CMD.store(0);
    s_.ACTION_STEP.store(0);
    errorCode_ = 0;
    notifier_.Send(NOTIFY_CANCELLED, 0);
}

// A send that keeps failing (the port is gone) is counted like a failed reply, so the action ends
// with code 3 after three restarts instead of restarting for ever.
void ActionEngine::SendFailure() {
    ErrorEntry(TRACE_SND_TEXT, l_.TransmitBuffer, l_.TransmitLength.load(), l_.SEND_STATE.load());
    errorCode_ = NOTIFY_SEND_FAILURE;
    s_.LastFailure.store(LineFailure::NotSent);
    if (++retry_ <= MAX_RESTARTS)
        Restart();
    else
        s_.ACTION_STEP.store(STEP_STOP);
}

void ActionEngine::ReceiveFailure(bool badReply, bool valueReply) {
    ErrorEntry(badReply && valueReply ? TRACE_RCV_ERROR : TRACE_RCV_TEXT, l_.ReplyBuffer,
               static_cast<uint32_t>(std::max<int32_t>(l_.ExpectedLength.load(), 0)),
               l_.RECEIVE_STATE.load());
    if (currentBit_ == CMD_READ_STATUS) PublishValid(s_.statusInfo.Valid, 0);
    s_.LastFailure.store(!badReply                  ? LineFailure::NoAnswer
                         : l_.ReplyBuffer[0] == NAK ? LineFailure::Refused
                                                    : LineFailure::Damaged);
    if (++retry_ <= MAX_RESTARTS) {
        Restart();
    } else {
        errorCode_ = badReply ? NOTIFY_BAD_REPLY : NOTIFY_REPLY_TIMEOUT;
        s_.ACTION_STEP.store(STEP_STOP);
    }
}

// A recorded job while the history cannot be used ends before its first telegram; the rest of the
// request (a status poll, a stop) goes on. True when nothing is left to do.
bool ActionEngine::RefusedByHistory() {
    const uint32_t refused = s_.HistoryRefused.load() ? s_.THREAD_CMD.load() & s_.HistoryJobs.load() : 0;
    if (refused == 0) return false;
    QLN_TRACE_INFO(l_.trace, "refused: the valve history cannot be used ");
    s_.THREAD_CMD.fetch_and(~refused);
    notifier_.Send(NOTIFY_HISTORY_REFUSED, 0);
    return s_.THREAD_CMD.load() == 0;
}

void ActionEngine::KeepFailedJob() {
    if (const uint32_t job = s_.THREAD_CMD.load() & s_.HistoryJobs.load(); job != 0) s_.FailedJob.store(job);
}

void ActionEngine::Restart() {
    s_.ACTION_RETRY_STEP.store(firstStep_);
    s_.THREAD_CMD.fetch_or(CMD_RESTART_PENDING);
    s_.ACTION_STEP.store(STEP_RESTART);
}

void ActionEngine::Finish(uint32_t bits, uint32_t code, intptr_t value, bool post) {
    // An action that ended well after a restart leaves no failure behind for the status bar.
    s_.LastFailure.store(LineFailure::None);
    s_.THREAD_CMD.fetch_and(~bits);
    s_.ACTION_STEP.store(0);
    if (post)
        notifier_.Post(code, value);
    else
        notifier_.Send(code, value);
}

// ---- restart, stop, baud-rate test ----------------------------------------------------------

void ActionEngine::StepRestart(uint32_t offset) {
    switch (offset) {
    case 0:
        l_.SEND_STATE.store(SEND_IDLE);
        l_.RECEIVE_STATE.store(RECEIVE_IDLE);
        WakeSupervisor(l_);
        StartLinkTimer(l_, 1, RESTART_PAUSE_MS);
        Advance();
        break;
    case 1:
        if (l_.LinkTimers[1].load() != 0) return;
        ClearComPortInputBuffer(l_);
        ClearRcvQueue(l_);
        Advance();
        break;
    default:
        QLN_TRACE_INFO(l_.trace, "Retry %d ", retry_);
        s_.THREAD_CMD.fetch_and(~static_cast<uint32_t>(CMD_RESTART_PENDING));
        s_.ACTION_STEP.store(s_.ACTION_RETRY_STEP.load());
        break;
    }
}

void ActionEngine::StepStop(uint32_t) {
    QLN_TRACE_INFO(l_.trace, "stopped ");
    if (errorCode_ != 0) KeepFailedJob();
    s_.THREAD_CMD.store(0);
    s_.ACTION_STEP.store(0);
    if (l_.PortLost.load()) {
        // The device has vanished: close it, so that the next request opens it afresh.
        CloseComPort(l_);
        l_.BaudIndex.store(0);
    }
    if (errorCode_ != 0) notifier_.Post(errorCode_, reinterpret_cast<intptr_t>(errorText_.c_str()));
    errorCode_ = 0;
}

void ActionEngine::StepBaudrateTest(uint32_t offset) {
    switch (offset) {
    case 0: {
        // Back here after each speed that got no answer, and after a port that would not open.
        CloseComPort(l_);
        const int32_t next =
            SpeedToTry(l_.FixedBaudIndex.load(), l_.PreferredBaudIndex.load(), speedsTried_++);
        l_.BaudIndex.store(next);
        if (next == 0) {
            // A recorded job that found no valve failed like any other, and is recorded so.
            KeepFailedJob();
            s_.THREAD_CMD.store(0);
            s_.ACTION_STEP.store(0);
            notifier_.Send(NOTIFY_BAUDRATE_ERROR, 0);
            return;
        }
        Advance();
        break;
    }
    case 1:
        l_.SEND_STATE.store(SEND_IDLE);
        l_.RECEIVE_STATE.store(RECEIVE_IDLE);
        WakeSupervisor(l_);
        if (InitComPort(l_)) {
            ClearComPortInputBuffer(l_);
            ClearRcvQueue(l_);
            Advance();
        } else {
            // A port that cannot be opened at one speed cannot at the other either.
            speedsTried_ = 2;
            s_.ACTION_STEP.store(STEP_BAUDRATE);
        }
        break;
    case 2:
        if (!LinkIdle()) return;
        QLN_TRACE_INFO(l_.trace, " Send Baudrate Test ");
        if (Exchange(0, "Baudrate Test", CMD_VERSION, 0, 3) == Ex::Next) Advance();
        break;
    case 3: {
        const int32_t st = l_.SEND_STATE.load();
        if (st == SEND_REQUESTED) return;
        if (st != SEND_SENT) {
            // Each failed send moves the test on to the next rate through the restart path.
            ErrorEntry(TRACE_SND_TEXT, l_.TransmitBuffer, l_.TransmitLength.load(), st);
            errorCode_ = NOTIFY_SEND_FAILURE;
            s_.ACTION_RETRY_STEP.store(STEP_BAUDRATE);
            s_.ACTION_STEP.store(STEP_RESTART);
            return;
        }
        Exchange(1, "Baudrate Test", CMD_VERSION, 0, 3, PROBE_REPLY_TIMEOUT_MS);
        Advance();
        break;
    }
    case 4: {
        const int32_t st = l_.RECEIVE_STATE.load();
        if (st == RECEIVE_AWAITED) return;
        if (st != RECEIVE_COMPLETE || !ReplyValid(3)) {
            ErrorEntry(st == RECEIVE_COMPLETE ? TRACE_RCV_ERROR : TRACE_RCV_TEXT, l_.ReplyBuffer, 3, st);
            s_.ACTION_STEP.store(STEP_BAUDRATE);
            return;
        }
        s_.deviceInfo.ControllerFirmware = l_.ReplyBuffer[1];
        if (l_.ReplyBuffer[1] == 0) {
            // A valve that reports version 0 cannot be served; say so once and try the next rate.
            s_.LastFailure.store(LineFailure::FirmwareZero);
            if (!firmwareZeroShown_) {
                firmwareZeroShown_ = true;
                notifier_.ShowMessage(s_.texts->Get(IDS_FIRMWARE_ZERO), "");
            }
            s_.ACTION_STEP.store(STEP_BAUDRATE);
            return;
        }
        probedFirmware_ = l_.ReplyBuffer[1];
        Advance();
        break;
    }
    default:
        QLN_TRACE_INFO(l_.trace, " Baudrate Test successfull ");
        l_.FoundBaudIndex.store(l_.BaudIndex.load());
        ClearComPortInputBuffer(l_);
        ClearRcvQueue(l_);
        s_.THREAD_CMD.fetch_and(~static_cast<uint32_t>(CMD_BAUDRATE_TEST));
        s_.ACTION_STEP.store(0);
        break;
    }
}

void ActionThread(QlnState& s, INotifier& notifier) {
    ActionEngine engine(s, notifier);
    engine.Run();
}
