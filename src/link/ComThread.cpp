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

// Ends a thread: it reports stopped and lets the supervisor, who waits for that, know.
void ReportStopped(LinkState& s, ThreadIndex t) {
    s.RunStates[t].store(RUN_STOPPED);
    WakeSupervisor(s);
}

// Counts the milliseconds since the last tick off the timers. TickMutex held.
void TickLocked(LinkState& s) {
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

// In the sample stream, records that do not fit are dropped at the port, keeping alignment.
constexpr uint32_t STREAM_RESERVE = 3 * RECORD;

// Whether the supervisor could take a reply out of the ring now (see ExtractReply). A reply that
// trickles in byte by byte, or a block of sample records, wakes it once, when it can be complete.
bool ReplyMayBeThere(const LinkState& s) {
    const uint32_t available = s.Ring.Available();
    const auto expected = static_cast<uint32_t>(std::max<int32_t>(s.ExpectedLength.load(), 0));
    if (available >= expected) return true;
    return !s.SampleStreamMode.load() && available > 0 && s.Ring.Peek(0) == NAK;
}

// Moves what the port holds into the ring, at most `limit` bytes, straight into the ring's free
// space: one read, no copy.
void ReadIntoRing(LinkState& s, uint32_t limit) {
    ReceiveRing::Span spans[2];
    const int count = s.Ring.FreeSpans(limit, spans);
    if (count == 0) return;
    const long got = PortReadInto(s, spans, count);
    if (got <= 0) return;
    s.Ring.Commit(static_cast<uint32_t>(got));
    if (ReplyMayBeThere(s)) WakeSupervisor(s);
}

// Whether the receiver can take bytes from the port now. Otherwise it waits until the supervisor
// has made room in the ring, or in the sample stream until enough has come to drop records.
bool CanReceive(LinkState& s) {
    const uint32_t free = s.Ring.Free();
    if (!s.SampleStreamMode.load()) return free > 0;
    return free >= STREAM_RESERVE || PortBytesWaiting(s) >= static_cast<int>(STREAM_RESERVE);
}

void ReceiveBytes(LinkState& s) {
    const uint32_t free = s.Ring.Free();
    if (!s.SampleStreamMode.load()) {
        ReadIntoRing(s, free);
        return;
    }
    const int waiting = PortBytesWaiting(s);
    if (waiting <= 0) return;
    if (free >= STREAM_RESERVE) {
        // Whatever has come, a part of a record too: waiting for whole records would have the
        // receiver poll a ready descriptor without reading, for the ~3 ms a record takes at
        // 19200 baud. The stream stays in order, and the reply extraction finds its records.
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(waiting), RING_CAPACITY);
        ReadIntoRing(s, std::min(n, free));
        return;
    }
    // Ring nearly full: drop whole records at the port, keeping record alignment.
    if (waiting < static_cast<int>(STREAM_RESERVE)) return;
    uint8_t buf[RECORD];
    if (PortRead(s, buf, RECORD) != static_cast<long>(RECORD)) return;
    uint32_t k = 0;
    while (k < RECORD && buf[k] != STX)
        ++k;
    if (k < RECORD) {
        if (s.Ring.Append(buf, k) > 0) WakeSupervisor(s);
        uint8_t drop[RECORD];
        PortRead(s, drop, k);
    }
}
} // namespace

void LinkTick(LinkState& s) {
    s.LoopsPerSecond.fetch_add(1);
    std::lock_guard<std::mutex> lock(s.TickMutex);
    TickLocked(s);
}

void CatchUpLinkTimers(LinkState& s) {
    std::lock_guard<std::mutex> lock(s.TickMutex);
    TickLocked(s);
}

void StartLinkTimer(LinkState& s, int timer, int32_t ms) {
    std::lock_guard<std::mutex> lock(s.TickMutex);
    // The time since the last tick has passed before the timer started; it must not count.
    TickLocked(s);
    s.LinkTimers[timer].store(ms);
}

uint32_t NextLinkTimerMs(const LinkState& s, int first, int last) {
    uint32_t next = IClock::FOREVER;
    for (int t = first; t <= last; ++t) {
        const int32_t v = s.LinkTimers[t].load();
        if (v > 0) next = std::min(next, static_cast<uint32_t>(v));
    }
    return next;
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
        StartLinkTimer(s, 0, SEND_TIMEOUT_MS);
        s.TransmitPending.store(1);
        WakeTransmitter(s);
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
            WakeEngine(s);
        } else if (s.LinkTimers[0].load() == 0) {
            // The engine counts this send as failed and will build its next telegram in the same
            // buffer; a telegram still pending would be written unasked (and half rebuilt) as soon
            // as the port opens again, so it is withdrawn.
            s.TransmitPending.store(0);
            s.trace.WriteText("Send Timeout ", TRACE_SND_TEXT, __FILE__, __LINE__);
            s.SEND_STATE.store(SEND_TIMEOUT);
            s.THREAD_STEP.store(0);
            WakeEngine(s);
        }
        break;
    }
    case 5:
        StartLinkTimer(s, 0, s.ReplyTimeoutMs.load());
        s.THREAD_STEP.store(6);
        break;
    case 6:
        if (s.RECEIVE_STATE.load() == RECEIVE_IDLE) {
            s.THREAD_STEP.store(0);
        } else if (ExtractReply(s)) {
            s.RECEIVE_STATE.store(RECEIVE_COMPLETE);
            s.THREAD_STEP.store(0);
            WakeEngine(s);
        } else if (s.LinkTimers[0].load() == 0 || s.PortLost.load()) {
            // A vanished device cannot answer: give up at once instead of after 10 s.
            s.RETRY.fetch_add(1);
            s.trace.WriteText("Receive Timeout max retry", TRACE_RCV_TEXT, __FILE__, __LINE__);
            s.RECEIVE_STATE.store(RECEIVE_TIMEOUT);
            s.THREAD_STEP.store(0);
            WakeEngine(s);
        }
        break;
    default:
        s.THREAD_STEP.store(0);
        break;
    }
}

void MainCtrlThread(LinkState& s) {
    for (;;) {
        // Taken before anything is looked at, the stop request included: a wake-up raised from
        // here on ends the wait below.
        const uint32_t seen = s.SupervisorWake.count.load();
        if (StopRequested(s, THREAD_MAINCTRL)) break;
        LinkTick(s);
        const int32_t step = s.THREAD_STEP.load();
        SupervisorStep(s);
        PublishDebug(s);
        if (s.THREAD_STEP.load() != step) continue;
        // Steps 4 and 6 also end when timer 0 runs out; every other step waits for the engine.
        const uint32_t deadline = (step == 4 || step == 6) ? NextLinkTimerMs(s, 0, 0) : IClock::FOREVER;
        s.clock->Wait(s.SupervisorWake, seen, deadline);
    }
    for (int t : {THREAD_ACTION, THREAD_WRITECOM, THREAD_READCOM}) {
        int32_t expected = RUN_RUNNING;
        if (!s.RunStates[t].compare_exchange_strong(expected, RUN_STOP_REQUESTED))
            s.RunStates[t].store(RUN_STOPPED);
    }
    WakeEngine(s);
    WakeTransmitter(s);
    WakeReceiver(s);
    for (;;) {
        const uint32_t seen = s.SupervisorWake.count.load();
        if (s.RunStates[THREAD_ACTION].load() == RUN_STOPPED &&
            s.RunStates[THREAD_WRITECOM].load() == RUN_STOPPED &&
            s.RunStates[THREAD_READCOM].load() == RUN_STOPPED)
            break;
        s.clock->Wait(s.SupervisorWake, seen, IClock::FOREVER);
    }
    s.RunStates[THREAD_MAINCTRL].store(RUN_STOPPED);
}

void WriteComThread(LinkState& s) {
    for (;;) {
        const uint32_t seen = s.TransmitterWake.count.load();
        if (StopRequested(s, THREAD_WRITECOM)) break;
        // A telegram waits while the port is closed; opening the port wakes this thread.
        if (s.PortOpen.load() == 0 || s.TransmitPending.load() == 0) {
            s.clock->Wait(s.TransmitterWake, seen, IClock::FOREVER);
            continue;
        }
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
        WakeSupervisor(s);
    }
    ReportStopped(s, THREAD_WRITECOM);
}

namespace {
// Only the receiver reads the monitor; the window sees the count change.
void TakePortEvents(LinkState& s) {
    const size_t n = s.PortMonitor.Take().size();
    if (n) s.PortEvents.fetch_add(static_cast<uint32_t>(n));
}
} // namespace

void ReceiverPass(LinkState& s) {
    const uint32_t closes = s.PortCloses.load();
    const SerialHandle fd = s.PortFd.load();
    const bool listening = (s.uTestMode.load() & 1) == 0 && s.PortOpen.load() != 0 && fd >= 0;
    // Bytes that arrive while no reply is awaited stay in the driver's queue; the engine drains
    // them before its next action. Without asking for input the port still reports a hang-up.
    const bool awaiting = listening && s.RECEIVE_STATE.load() == RECEIVE_AWAITED;
    const bool room = awaiting && CanReceive(s);
    // A full ring has room again once the supervisor has taken a reply out of it. Without a
    // waker (the system refused one) the receiver looks again every 100 ms.
    const uint32_t timeout = awaiting && !room ? 10 : !s.ReceiverWaker.Valid() ? 100 : IClock::FOREVER;
    const SerialWait w = WaitForSerial(*s.clock, s.ReceiverWaker, listening ? fd : NO_SERIAL_DEVICE, room,
                                       timeout, s.PortMonitor.Handle());
    if (w.watched) TakePortEvents(s);
    if (!w.ended || !listening) return;
    // The port may have been closed (and its number given to the next open) meanwhile.
    if ((!w.input && !w.hungUp) || s.PortCloses.load() != closes || s.PortOpen.load() == 0) return;
    if (w.hungUp) {
        MarkPortLost(s);
        return;
    }
    if (w.input && s.RECEIVE_STATE.load() == RECEIVE_AWAITED) ReceiveBytes(s);
}

void ReadComThread(LinkState& s) {
    while (!StopRequested(s, THREAD_READCOM))
        ReceiverPass(s);
    ReportStopped(s, THREAD_READCOM);
}
