#include "link/ComThread.h"

#include <algorithm>
#include <cstring>

#include "link/SerialPort.h"
#include "link/SimulatedValve.h"

namespace {
constexpr uint32_t RING_CAPACITY = ReceiveRing::RING_SIZE - 1;
constexpr uint32_t RECORD = 6;

void PublishDebug(LinkState& s) {
    s.DebugVars[DBG_THREAD_STEP].store(static_cast<uint32_t>(s.THREAD_STEP.load()));
    s.DebugVars[DBG_RETRY].store(static_cast<uint32_t>(s.RETRY.load()));
    s.DebugVars[DBG_SEND_STATE].store(static_cast<uint32_t>(s.SEND_STATE.load()));
    s.DebugVars[DBG_RECEIVE_STATE].store(static_cast<uint32_t>(s.RECEIVE_STATE.load()));
}

bool StopRequested(LinkState& s, ThreadIndex t) {
    return s.RunStates[t].load() == RUN_STOP_REQUESTED;
}
} // namespace

void LinkTick(LinkState& s) {
    s.LoopsPerSecond.fetch_add(1);
    const uint32_t now = s.clock->NowMs();
    if (!s.TickStarted) {
        s.TickStarted = true;
        s.LastTickMs = now;
        return;
    }
    const uint32_t elapsed = now - s.LastTickMs; // unsigned: the clock's wrap-around is harmless
    s.LastTickMs = now;
    if (elapsed == 0) return;
    const auto step = static_cast<int32_t>(std::min<uint32_t>(elapsed, 0x7FFFFFFF));
    for (auto& timer : s.LinkTimers) {
        int32_t v = timer.load();
        // Only the tick counts down; a thread that restarts a timer meanwhile wins.
        while (v != 0 && !timer.compare_exchange_weak(v, std::max(v - step, 0))) {
        }
    }
    int32_t sec = s.OneSecondCounter.load();
    if (sec != 0) {
        sec -= step;
        if (sec <= 0) {
            sec = 1000;
            s.LoopsPerSecond.store(0);
        }
        s.OneSecondCounter.store(sec);
    }
}

bool ExtractReply(LinkState& s) {
    const auto expected = static_cast<uint32_t>(std::max<int32_t>(s.ExpectedLength.load(), 0));
    uint32_t available = s.Ring.Available();
    if (available > 0 && available < expected && !s.SampleStreamMode.load() && s.Ring.Peek(0) == NAK) {
        // A valve refuses a request with a lone NAK whatever reply was asked for: hand it over at
        // once as the (bad) reply instead of waiting ten seconds for bytes that never come.
        std::memset(s.ReplyBuffer, 0, sizeof s.ReplyBuffer);
        s.Ring.Take(s.ReplyBuffer, 1);
        s.trace.WriteBytes(s.ReplyBuffer, 1, TRACE_RCV_BYTES, __FILE__, __LINE__);
        return true;
    }
    if (available == 0 || available < expected || expected > LINK_BUFFER_SIZE) return false;
    if (s.SampleStreamMode.load()) {
        uint32_t k = 0;
        const uint32_t look = std::min<uint32_t>(available, 10);
        while (k < look && s.Ring.Peek(k) != STX)
            ++k;
        if (k < 10 && k < look) {
            if (available < expected + k) return false;
            s.Ring.Skip(k);
        } else {
            s.Ring.Skip(look);
            available -= look;
            if (available < expected) return false;
        }
    }
    std::memset(s.ReplyBuffer, 0, sizeof s.ReplyBuffer);
    s.Ring.Take(s.ReplyBuffer, expected);
    s.trace.WriteBytes(s.ReplyBuffer, expected, TRACE_RCV_BYTES, __FILE__, __LINE__);
    return true;
}

void SupervisorStep(LinkState& s) {
    switch (s.THREAD_STEP.load()) {
    case 0:
        s.THREAD_STEP.store(1);
        break;
    case 1:
        s.RETRY.store(0);
        s.THREAD_STEP.store(2);
        break;
    case 2:
        if (s.SEND_STATE.load() == SEND_REQUESTED)
            s.THREAD_STEP.store(3);
        else if (s.RECEIVE_STATE.load() == RECEIVE_AWAITED)
            s.THREAD_STEP.store(5);
        break;
    case 3:
        if (s.uTestMode.load() & 1) SimulatedValveAnswer(s);
        s.LinkTimers[0].store(SEND_TIMEOUT_MS);
        s.TransmitPending.store(1);
        s.THREAD_STEP.store(4);
        break;
    case 4: {
        const int32_t state = s.SEND_STATE.load();
        if (state == SEND_IDLE) {
            // Cancelled: withdraw the telegram, so that it is not written when the port opens later.
            s.TransmitPending.store(0);
            s.THREAD_STEP.store(0);
        } else if (s.TransmitPending.load() == 0) {
            // A failed or short write stands as the outcome; only a clean write counts as sent.
            // The writer stores its outcome just before it clears transmit-pending, possibly after
            // `state` was loaded, so only a send still requested may become "sent".
            int32_t requested = SEND_REQUESTED;
            const bool sent = s.SEND_STATE.compare_exchange_strong(requested, SEND_SENT);
            s.THREAD_STEP.store(sent ? 2 : 0);
        } else if (s.LinkTimers[0].load() == 0) {
            // The engine counts this send as failed and will build its next telegram in the same
            // buffer; a telegram still pending would be written unasked (and half rebuilt) as soon
            // as the port opens again, so it is withdrawn.
            s.TransmitPending.store(0);
            s.trace.WriteText("Send Timeout ", TRACE_SND_TEXT, __FILE__, __LINE__);
            s.SEND_STATE.store(SEND_TIMEOUT);
            s.THREAD_STEP.store(0);
        }
        break;
    }
    case 5:
        s.LinkTimers[0].store(REPLY_TIMEOUT_MS);
        s.THREAD_STEP.store(6);
        break;
    case 6:
        if (s.RECEIVE_STATE.load() == RECEIVE_IDLE) {
            s.THREAD_STEP.store(0);
        } else if (ExtractReply(s)) {
            s.RECEIVE_STATE.store(RECEIVE_COMPLETE);
            s.THREAD_STEP.store(0);
        } else if (s.LinkTimers[0].load() == 0 || s.PortLost.load()) {
            // A vanished device cannot answer: give up at once instead of after 10 s.
            s.RETRY.fetch_add(1);
            s.trace.WriteText("Receive Timeout max retry", TRACE_RCV_TEXT, __FILE__, __LINE__);
            s.RECEIVE_STATE.store(RECEIVE_TIMEOUT);
            s.THREAD_STEP.store(0);
        }
        break;
    default:
        s.THREAD_STEP.store(0);
        break;
    }
}

void MainCtrlThread(LinkState& s) {
    while (!StopRequested(s, THREAD_MAINCTRL)) {
        SupervisorStep(s);
        s.clock->SleepMs(1);
        LinkTick(s);
        PublishDebug(s);
    }
    for (int t : {THREAD_ACTION, THREAD_WRITECOM, THREAD_READCOM}) {
        int32_t expected = RUN_RUNNING;
        if (!s.RunStates[t].compare_exchange_strong(expected, RUN_STOP_REQUESTED))
            s.RunStates[t].store(RUN_STOPPED);
    }
    // Waits in real time: the other threads need real time to notice, whatever the clock says.
    while (s.RunStates[THREAD_ACTION].load() != RUN_STOPPED ||
           s.RunStates[THREAD_WRITECOM].load() != RUN_STOPPED ||
           s.RunStates[THREAD_READCOM].load() != RUN_STOPPED)
        s.clock->SleepMs(100);
    s.RunStates[THREAD_MAINCTRL].store(RUN_STOPPED);
}

void WriteComThread(LinkState& s) {
    while (!StopRequested(s, THREAD_WRITECOM)) {
        if (s.PortOpen.load() == 0) {
            s.clock->SleepMs(100);
            continue;
        }
        if (s.TransmitPending.load()) {
            uint32_t len = s.TransmitLength.load();
            if (len > LINK_BUFFER_SIZE) {
                len = 19997;
                s.TransmitBuffer[19997] = 0;
            }
            s.trace.WriteBytes(s.TransmitBuffer, len, TRACE_SND_BYTES, __FILE__, __LINE__);
            if (s.PortOpen.load() && (s.uTestMode.load() & 1) == 0) {
                const long n = PortWrite(s, s.TransmitBuffer, len);
                if (n < 0)
                    s.SEND_STATE.store(SEND_WRITE_FAILED);
                else if (static_cast<uint32_t>(n) < len)
                    s.SEND_STATE.store(SEND_SHORT_WRITE);
            }
            s.TransmitPending.store(0);
        }
        s.clock->SleepMs(1);
    }
    s.RunStates[THREAD_WRITECOM].store(RUN_STOPPED);
}

void ReceiverPass(LinkState& s) {
    if ((s.uTestMode.load() & 1) || s.PortOpen.load() == 0) {
        s.clock->SleepMs(100);
        return;
    }
    const int waiting = PortBytesWaiting(s);
    if (waiting <= 0 || s.RECEIVE_STATE.load() != RECEIVE_AWAITED) return;
    uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(waiting), RING_CAPACITY);
    const uint32_t free = s.Ring.Free();
    uint8_t buf[LINK_BUFFER_SIZE];
    if (!s.SampleStreamMode.load()) {
        n = std::min(n, free);
    } else if (free >= 3 * RECORD) {
        n = std::min(n / RECORD, free / RECORD) * RECORD;
    } else {
        // Ring nearly full: drop whole records at the port, keeping record alignment.
        if (waiting < static_cast<int>(3 * RECORD)) {
            s.clock->SleepMs(10);
            return;
        }
        if (PortRead(s, buf, RECORD) != static_cast<long>(RECORD)) return;
        uint32_t k = 0;
        while (k < RECORD && buf[k] != STX)
            ++k;
        if (k < RECORD) {
            s.Ring.Append(buf, k);
            uint8_t drop[RECORD];
            PortRead(s, drop, k);
        }
        return;
    }
    if (n == 0) return;
    const long got = PortRead(s, buf, n);
    if (got > 0) s.Ring.Append(buf, static_cast<uint32_t>(got));
}

void ReadComThread(LinkState& s) {
    while (!StopRequested(s, THREAD_READCOM)) {
        ReceiverPass(s);
        s.clock->SleepMs(1);
    }
    s.RunStates[THREAD_READCOM].store(RUN_STOPPED);
}
