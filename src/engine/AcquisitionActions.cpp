// The scope's actions of the engine: roll/trigger, ramp and step recordings, the orderly stop and
// the hard stop.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/Action.h"
#include "link/ComThread.h"
#include "link/SerialPort.h"

// The configuration telegrams of a recording, sent in order before the stream starts. A value
// reply goes through `decode` into the shared set-up; `valid` is cleared before the request.
struct ScopeTelegram {
    const char* name;
    uint8_t cmd;
    uint8_t (*data)(const ScopeSetup&, bool ramp);
    void (*decode)(uint8_t, ScopeSetup&); // nullptr: the valve answers ACK
    int32_t ScopeSetup::*valid;
    bool clearFirst;          // the input is cleared before this telegram (the stream follows it)
    bool stopsStream = false; // PAS: records still on their way come before the valve's answer
};

struct RecordingKind {
    uint32_t bit;
    const char* startText;
    const char* blockName;
    const ScopeTelegram* const* telegrams;
    uint32_t telegramCount;
};
namespace {
constexpr uint32_t STEP_STOP_ACQUISITION = 0x240;
constexpr uint8_t CMD_STREAM_BLOCK = 254; // the simulated valve's "next block" in test mode
constexpr int32_t HARD_STOP_PAUSE_MS = 500;
constexpr uint32_t RECORD_COUNTER_WRAP = 2000;
constexpr uint32_t STOP_BITS = CMD_HARD_STOP | CMD_STOP_ACQUISITION | ACQUISITION_BITS;
// Stream records still on the line when the valve takes PAS come before its ACK: at most the
// receive queue of a port and what the valve sends while PAS is on its way.
constexpr int PAS_REPLY_SKIP_LIMIT = 200 * RECORD_SIZE;

uint8_t Byte(double v) {
    return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
}

uint8_t Zero(const ScopeSetup&, bool) {
    return 0;
}

const ScopeTelegram PRS{
    "PRS",   39,      [](const ScopeSetup& s, bool) { return PeriodMilliseconds(s.SampleRateIndex); },
    nullptr, nullptr, false};
const ScopeTelegram ACS{"ACS",   42,      [](const ScopeSetup& s, bool) { return AnalogSelectByte(s); },
                        nullptr, nullptr, false};
const ScopeTelegram ACR{"ACR", 43, Zero, DecodeAnalogReport, &ScopeSetup::AnalogReportedValid, false};
const ScopeTelegram TAS{
    "TAS",   40,      [](const ScopeSetup& s, bool) { return static_cast<uint8_t>(s.MasterSlave); },
    nullptr, nullptr, false};
const ScopeTelegram ATS{
    "ATS",   33,      [](const ScopeSetup& s, bool) { return static_cast<uint8_t>(s.AcquisitionTime); },
    nullptr, nullptr, false};
const ScopeTelegram ATR{"ATR",
                        34,
                        Zero,
                        [](uint8_t b, ScopeSetup& s) {
                            s.AcquisitionTimeReported = b;
                            s.AcquisitionTimeValid = 1;
                        },
                        &ScopeSetup::AcquisitionTimeValid,
                        false};
const ScopeTelegram SBS{
    "SBS",   29,      [](const ScopeSetup& s, bool) { return Byte(s.SetpointBegin * 2.0); },
    nullptr, nullptr, false};
const ScopeTelegram SBR{"SBR",
                        30,
                        Zero,
                        [](uint8_t b, ScopeSetup& s) {
                            s.SetpointBeginReported = b * 0.5f;
                            s.SetpointBeginValid = 1;
                        },
                        &ScopeSetup::SetpointBeginValid,
                        false};
const ScopeTelegram SES{"SES",   31,      [](const ScopeSetup& s, bool) { return Byte(s.SetpointEnd * 2.0); },
                        nullptr, nullptr, false};
const ScopeTelegram SER{"SER",
                        32,
                        Zero,
                        [](uint8_t b, ScopeSetup& s) {
                            s.SetpointEndReported = b * 0.5f;
                            s.SetpointEndValid = 1;
                        },
                        &ScopeSetup::SetpointEndValid,
                        false};
const ScopeTelegram RSS{
    "RSS",   86,      [](const ScopeSetup& s, bool) { return Byte(s.RampTime * 10.0 + 0.05); },
    nullptr, nullptr, false};
const ScopeTelegram SAS{"SAS",
                        36,
                        [](const ScopeSetup& s, bool ramp) {
                            return static_cast<uint8_t>((ramp ? 1 : 0) | (s.MasterSlave == 1 ? 128 : 0));
                        },
                        nullptr,
                        nullptr,
                        true};

// A valve that still streams (after a lost block, or left so by an earlier program) is stopped
// first: its records would hide the answers to the set-up.
const ScopeTelegram PAS{"PAS", 41, Zero, nullptr, nullptr, true, true};

const ScopeTelegram* const ROLL_TELEGRAMS[] = {&PAS, &PRS, &ACS, &ACR, &TAS};
const ScopeTelegram* const RAMP_TELEGRAMS[] = {&ATS, &ATR, &SBS, &SBR, &SES, &SER, &RSS, &ACS, &ACR, &SAS};
const ScopeTelegram* const STEP_TELEGRAMS[] = {&ATS, &ATR, &SBS, &SBR, &SES, &SER, &ACS, &ACR, &SAS};

const RecordingKind ROLL{CMD_ROLL_TRIGGER, " Start Roll-Trigger Mode Acquisition ", "TAS more",
                         ROLL_TELEGRAMS, 5};
const RecordingKind RAMP{CMD_RAMP_MODE, " Start Ramp Mode Acquisition ", "SAS more", RAMP_TELEGRAMS, 10};
const RecordingKind STEP{CMD_STEP_MODE, " Start Step Mode Acquisition ", "SAS more", STEP_TELEGRAMS, 9};
} // namespace

void ActionEngine::StepRollTrigger(uint32_t offset) {
    StepRecording(offset, ROLL);
}

void ActionEngine::StepRampMode(uint32_t offset) {
    StepRecording(offset, RAMP);
}

void ActionEngine::StepStepMode(uint32_t offset) {
    StepRecording(offset, STEP);
}

// Offsets: 0 start, then three per configuration telegram, then the stream flag, three for each
// block (repeated), three for the final block of roll mode, and its end.
void ActionEngine::StepRecording(uint32_t offset, const RecordingKind& kind) {
    if (s_.THREAD_CMD.load() & CMD_STOP_ACQUISITION) {
        s_.ACTION_STEP.store(STEP_STOP_ACQUISITION);
        return;
    }
    const bool roll = kind.bit == CMD_ROLL_TRIGGER;
    const uint32_t configEnd = 1 + 3 * kind.telegramCount;
    const uint32_t blocks = configEnd + 1, finalBlock = blocks + 3, end = finalBlock + 3;
    if (offset == 0) {
        StartRecording(kind);
    } else if (offset < configEnd) {
        if (ConfigurationExchange(offset - 1, *kind.telegrams[(offset - 1) / 3], kind.bit == CMD_RAMP_MODE))
            Advance();
    } else if (offset == configEnd) {
        l_.SampleStreamMode.store(1);
        Advance();
    } else if (offset < finalBlock) {
        if (offset == blocks && LinkIdle()) rec_.block = NextBlockSize(roll);
        if (BlockExchange(offset - blocks, kind.blockName, rec_.block) != Ex::Next) return;
        if (offset < finalBlock - 1) {
            Advance();
            return;
        }
        HandleBlock(rec_.block, roll);
        if (roll) {
            const bool full = rec_.trigger.Fired() && rec_.postCount > rec_.plan.postTrigger;
            s_.ACTION_STEP.store(s_.ACTION_STEP.load() - offset + (full ? finalBlock : blocks));
            if (!full) PaceDisplay();
        } else if (rec_.fill >= rec_.plan.windowLength) {
            EndRecording(kind.bit);
        } else {
            PaceDisplay();
            s_.ACTION_STEP.store(s_.ACTION_STEP.load() - offset + blocks);
        }
    } else if (offset < end) {
        if (BlockExchange(offset - finalBlock, kind.blockName, 2) != Ex::Next) return;
        if (offset == end - 1) HandleBlock(2, false);
        Advance();
    } else {
        s_.THREAD_CMD.fetch_and(~kind.bit);
        s_.THREAD_CMD.fetch_or(CMD_STOP_ACQUISITION);
        s_.ACTION_STEP.store(STEP_STOP_ACQUISITION);
    }
}

void ActionEngine::StartRecording(const RecordingKind& kind) {
    // Every attempt, the first and each restart, begins outside the stream: the set-up's answers
    // are single bytes and short values, which the stream's record reading would throw away.
    l_.SampleStreamMode.store(0);
    if (!LinkIdle()) return;
    // From here until a stop is acknowledged or the valve ends the recording by itself, the valve
    // may be streaming.
    l_.ValveMayStream.store(1);
    QLN_TRACE_INFO(l_.trace, "%s", kind.startText);
    s_.AcquisitionRunning.store(1);
    s_.DisplayUpdatePending.store(0);
    s_.DisplayTooFast.store(0);
    s_.SamplesReceived.store(0);
    // The set-up is taken once, checked, with the fixed binary channels: the window's record is
    // not written for every sample, and no value from a file can index past the buffer.
    rec_ = Recording{};
    rec_.setup = CheckedForRecording(CopyScopeSetup(s_));
    {
        std::lock_guard<std::mutex> lock(s_.scopeMutex);
        ForceFixedBinaryChannels(s_.scopeSetup);
    }
    const bool roll = kind.bit == CMD_ROLL_TRIGGER;
    rec_.roll = roll;
    rec_.plan = roll ? PlanRoll(rec_.setup) : PlanRecording(rec_.setup);
    rec_.fill = roll ? rec_.plan.windowLength : 0;
    s_.FillIndex.store(rec_.fill);
    Advance();
}

bool ActionEngine::ConfigurationExchange(uint32_t offset, const ScopeTelegram& t, bool ramp) {
    const uint32_t phase = offset % 3;
    if (phase == 0 && LinkIdle()) {
        if (t.valid) {
            std::lock_guard<std::mutex> lock(s_.scopeMutex);
            s_.scopeSetup.*t.valid = 0;
        }
        if (t.clearFirst) {
            ClearComPortInputBuffer(l_);
            ClearRcvQueue(l_);
        }
    }
    if (phase == 2 && t.stopsStream) {
        if (SkipStreamRemnant()) return false;
        // A valve that was not streaming may refuse the stop; either way it does not stream now.
        if (l_.RECEIVE_STATE.load() == RECEIVE_COMPLETE && l_.ReplyBuffer[0] == NAK) return true;
    }
    if (Exchange(phase, t.name, t.cmd, t.data(rec_.setup, ramp), t.decode ? 3 : 1) != Ex::Next) return false;
    if (phase == 2 && t.decode) {
        std::lock_guard<std::mutex> lock(s_.scopeMutex);
        t.decode(l_.ReplyBuffer[1], s_.scopeSetup);
    }
    return true;
}

int ActionEngine::NextBlockSize(bool roll) const {
    const AcquisitionPlan& p = rec_.plan;
    int n = p.blockSize;
    if (roll && rec_.trigger.Fired()) n = std::min(n, p.postTrigger - rec_.postCount + 1);
    if (!roll) n = std::min(n, p.windowLength - (rec_.fill + 2));
    return std::clamp(n, 1, p.blockSize);
}

// Nothing is sent for a block: the valve streams, and the engine awaits n records. In test mode
// the simulated valve makes the block at once, and a link timer paces it in real time.
ActionEngine::Ex ActionEngine::BlockExchange(uint32_t phase, const char* name, int n) {
    const bool simulated = (l_.uTestMode.load() & 1) != 0;
    const auto length = static_cast<int32_t>(n * RECORD_SIZE);
    switch (phase) {
    case 0:
        if (!LinkIdle()) return Ex::Stay;
        exchangeName_ = name;
        std::memset(l_.ReplyBuffer, 0, sizeof l_.ReplyBuffer);
        l_.TransmitLength.store(0);
        l_.ExpectedLength.store(length);
        l_.ReplyTimeoutMs.store(REPLY_TIMEOUT_MS);
        if (simulated) {
            s_.ACTION_SUB_CMD.store(CMD_STREAM_BLOCK);
            l_.TransmitBuffer[1] = CMD_STREAM_BLOCK;
            l_.SEND_STATE.store(SEND_REQUESTED);
        } else {
            l_.RECEIVE_STATE.store(RECEIVE_AWAITED);
            WakeReceiver(l_);
        }
        WakeSupervisor(l_);
        return Ex::Next;
    case 1:
        if (!simulated) return Ex::Next;
        if (l_.SEND_STATE.load() == SEND_REQUESTED) return Ex::Stay;
        l_.ExpectedLength.store(length);
        StartLinkTimer(l_, 3, static_cast<int32_t>(n * rec_.plan.period * 1000.0f));
        l_.RECEIVE_STATE.store(RECEIVE_AWAITED);
        WakeSupervisor(l_);
        return Ex::Next;
    default: {
        const int32_t st = l_.RECEIVE_STATE.load();
        if (st == RECEIVE_AWAITED || (simulated && l_.LinkTimers[3].load() != 0)) return Ex::Stay;
        if (st == RECEIVE_COMPLETE && l_.ReplyBuffer[0] == STX) return Ex::Next;
        ReceiveFailure(st == RECEIVE_COMPLETE, true);
        return Ex::Failed;
    }
    }
}

void ActionEngine::HandleBlock(int n, bool withTrigger) {
    const int window = rec_.plan.windowLength;
    if (rec_.roll && rec_.fill >= window) {
        s_.samples.ShiftDown(n);
        rec_.fill -= n;
    }
    for (int k = 0; k < n; ++k) {
        rec_.records = rec_.records >= RECORD_COUNTER_WRAP ? 2 : rec_.records + 1;
        const uint8_t* record = l_.ReplyBuffer + k * RECORD_SIZE;
        const bool decoded = DecodeSampleRecord(record, rec_.setup, s_.samples, rec_.fill);
        if (decoded) s_.SamplesReceived.fetch_add(1);
        if (decoded && withTrigger) {
            const std::string fired = rec_.trigger.Test(rec_.setup, s_.samples, rec_.fill, rec_.records);
            if (!fired.empty()) QLN_TRACE_INFO(l_.trace, "%s", fired.c_str());
        }
        rec_.fill = std::min(rec_.fill + 1, window);
        ++rec_.sinceDisplay;
        if (withTrigger && rec_.trigger.Fired() && ++rec_.postCount > rec_.plan.postTrigger) break;
    }
    s_.FillIndex.store(rec_.fill);
}

// About two redraws a second: the view is told of the new samples only when it has shown the
// last ones; the curves end cleanly on the last sample.
void ActionEngine::PaceDisplay() {
    if (rec_.sinceDisplay <= rec_.plan.displayThreshold) return;
    if (s_.DisplayUpdatePending.load()) {
        QLN_TRACE_INFO(l_.trace, "Display update too fast");
        s_.DisplayTooFast.fetch_add(1);
        return;
    }
    ShowProgress();
}

void ActionEngine::ShowProgress() {
    for (int k = 0; k < 3; ++k)
        s_.samples.CopySample(rec_.fill - 1, rec_.fill + k);
    s_.DisplayUpdatePending.store(1);
    rec_.sinceDisplay = 0;
    QLN_TRACE_INFO(l_.trace, "Display update %d", rec_.fill);
    notifier_.Send(NOTIFY_ACQUISITION_PROGRESS, rec_.fill);
}

void ActionEngine::EndRecording(uint32_t bit) {
    ShowProgress();
    s_.AcquisitionRunning.store(0);
    l_.SampleStreamMode.store(0);
    l_.ValveMayStream.store(0);
    Finish(bit, NOTIFY_ACQUISITION_ENDED);
}

// ---- stopping -------------------------------------------------------------------------------

void ActionEngine::StepStopAcquisition(uint32_t offset) {
    switch (offset) {
    case 0:
        l_.SampleStreamMode.store(0);
        s_.AcquisitionRunning.store(0);
        // A block still awaited is given up: the stop telegram goes out now.
        if (l_.RECEIVE_STATE.load() == RECEIVE_AWAITED) {
            l_.RECEIVE_STATE.store(RECEIVE_IDLE);
            WakeSupervisor(l_);
        }
        if (!LinkIdle()) return;
        ClearComPortInputBuffer(l_);
        ClearRcvQueue(l_);
        QLN_TRACE_INFO(l_.trace, " Send PAS Stop Acquisition");
        rec_.pasSkipped = 0;
        Advance();
        break;
    case 1:
    case 2:
    case 3:
        if (offset == 3 && SkipStreamRemnant()) return;
        if (Exchange(offset - 1, "PAS", 41, 0, 1) == Ex::Next) Advance();
        break;
    default:
        QLN_TRACE_INFO(l_.trace, " Stop Acquisition ");
        l_.ValveMayStream.store(0);
        Finish(STOP_BITS, NOTIFY_ACQUISITION_ENDED);
        break;
    }
}

// Records the valve sent before it took PAS come ahead of its ACK. They are taken and dropped: a
// record that begins with STX is taken whole, so that one of its value bytes is never mistaken
// for the ACK.
bool ActionEngine::SkipStreamRemnant() {
    if (l_.RECEIVE_STATE.load() != RECEIVE_COMPLETE) return false;
    const int32_t got = l_.ExpectedLength.load();
    const uint8_t b = l_.ReplyBuffer[0];
    if (got == 1 && (b == ACK || b == NAK)) return false;
    if (rec_.pasSkipped >= PAS_REPLY_SKIP_LIMIT) return false;
    rec_.pasSkipped += got;
    std::memset(l_.ReplyBuffer, 0, sizeof l_.ReplyBuffer);
    l_.ExpectedLength.store(got == 1 && b == STX ? RECORD_SIZE - 1 : 1);
    l_.RECEIVE_STATE.store(RECEIVE_AWAITED);
    WakeSupervisor(l_);
    WakeReceiver(l_);
    return true;
}

void ActionEngine::StepHardStop(uint32_t offset) {
    switch (offset) {
    case 0:
        l_.SampleStreamMode.store(0);
        s_.AcquisitionRunning.store(0);
        l_.SEND_STATE.store(SEND_IDLE);
        l_.RECEIVE_STATE.store(RECEIVE_IDLE);
        WakeSupervisor(l_);
        QLN_TRACE_INFO(l_.trace, " Hard PAS Stop Acquisition");
        if (l_.ValveMayStream.load() != 0) l_.ValveMayStream.store(2);
        l_.BaudIndex.store(0);
        Advance();
        break;
    case 1: {
        CloseComPort(l_);
        const int32_t baud = l_.BaudIndex.load();
        if (baud == 3) {
            l_.BaudIndex.store(0);
            s_.THREAD_CMD.store(0);
            s_.ACTION_STEP.store(0);
            notifier_.Send(NOTIFY_HARD_STOP_FAILED, 0);
            return;
        }
        l_.BaudIndex.store(baud == 2 ? 3 : 2);
        Advance();
        break;
    }
    case 2:
        if (InitComPort(l_)) {
            Advance();
        } else {
            l_.BaudIndex.store(3);
            s_.ACTION_STEP.store(s_.ACTION_STEP.load() - 1);
        }
        break;
    case 3:
        if (!LinkIdle()) return;
        QLN_TRACE_INFO(l_.trace, " Send PAS Stop Acquisition");
        if (Exchange(0, " Hard PAS", 41, 0, 1) == Ex::Next) Advance();
        break;
    case 4: {
        const int32_t st = l_.SEND_STATE.load();
        if (st == SEND_REQUESTED) return;
        if (st != SEND_SENT) {
            SendFailure();
            return;
        }
        l_.SEND_STATE.store(SEND_IDLE);
        StartLinkTimer(l_, 4, HARD_STOP_PAUSE_MS);
        Advance();
        break;
    }
    case 5:
        if (l_.LinkTimers[4].load() != 0) return;
        if (l_.BaudIndex.load() == 3)
            Advance();
        else
            s_.ACTION_STEP.store(s_.ACTION_STEP.load() - 4);
        break;
    default:
        QLN_TRACE_INFO(l_.trace, " Hard Stop Acquisition done");
        l_.ValveMayStream.store(0);
        l_.BaudIndex.store(0);
        ClearComPortInputBuffer(l_);
        ClearRcvQueue(l_);
        Finish(STOP_BITS, NOTIFY_ACQUISITION_ENDED);
        break;
    }
}
