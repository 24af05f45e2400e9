#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "link/ReceiveRing.h"
#include "link/Trace.h"
#include "system/Clock.h"
#include "system/SerialDevice.h"
#include "system/SerialLatency.h"
#include "system/SerialPorts.h"
#include "system/Waker.h"

constexpr uint8_t STX = 0x02;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr uint32_t LINK_BUFFER_SIZE = 20000;
constexpr int32_t SEND_TIMEOUT_MS = 500;
constexpr int32_t REPLY_TIMEOUT_MS = 10000;
constexpr int LINK_TIMER_COUNT = 10;

enum SendState : int32_t {
    SEND_IDLE = 0,
    SEND_REQUESTED = 1,
    SEND_SENT = 2,
    SEND_TIMEOUT = 3,
    SEND_WRITE_FAILED = 4,
    SEND_SHORT_WRITE = 5
};
enum ReceiveState : int32_t {
    RECEIVE_IDLE = 0,
    RECEIVE_AWAITED = 1,
    RECEIVE_COMPLETE = 2,
    RECEIVE_TIMEOUT = 3
};
enum RunState : int32_t { RUN_RUNNING = 1, RUN_STOP_REQUESTED = 2, RUN_STOPPED = 3 };
// Index of each worker thread in LinkState::RunStates.
enum ThreadIndex { THREAD_MAINCTRL = 0, THREAD_ACTION = 1, THREAD_WRITECOM = 2, THREAD_READCOM = 3 };
// Debug variables with a fixed meaning.
enum DebugVar {
    DBG_THREAD_STEP = 0,
    DBG_THREAD_CMD = 1,
    DBG_SEND_STATE = 2,
    DBG_RECEIVE_STATE = 3,
    DBG_RETRY = 4,
    DBG_ACTION_STEP = 6,
    DBG_ACTION_RETRY = 7,
    DBG_ACTION_RETRY_STEP = 8,
    DBG_ACTION_SUB_CMD = 9,
};

// Sum of the bytes modulo 256: no complement, no XOR.
inline uint8_t Bcc(const uint8_t* bytes, size_t len) {
    uint8_t sum = 0;
    for (size_t i = 0; i < len; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

// Everything the serial link shares between the supervisor, transmitter and receiver threads,
// the engine and the window. Words touched by two threads are lock-free atomics; the byte
// buffers are handed over by the exchange states (written before the state is stored, read after
// it is loaded).
struct LinkState {
    explicit LinkState(IClock& c) : clock(&c) {}
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;

    IClock* clock;
    Trace trace;

    // Exchange
    uint8_t TransmitBuffer[LINK_BUFFER_SIZE] = {};
    std::atomic<uint32_t> TransmitLength{0};
    std::atomic<int32_t> SEND_STATE{SEND_IDLE};
    std::atomic<int32_t> RECEIVE_STATE{RECEIVE_IDLE};
    std::atomic<int32_t> ExpectedLength{0};
    // How long the supervisor waits for the reply the engine asks for next.
    std::atomic<int32_t> ReplyTimeoutMs{REPLY_TIMEOUT_MS};
    uint8_t ReplyBuffer[LINK_BUFFER_SIZE] = {};
    ReceiveRing Ring;
    std::atomic<uint32_t> SampleStreamMode{0};
    // 1 from the start of a recording until the valve has acknowledged a stop, a hard stop has
    // sent its stops, or the valve has ended the recording by itself: still 1 after an action
    // failed, it says that the valve may be streaming, which only the hard stop is sure to end.
    // 2 while a hard stop runs for such a valve: one that fails is not followed by another.
    std::atomic<uint32_t> ValveMayStream{0};
    std::atomic<uint32_t> TransmitPending{0};

    // Supervisor
    std::atomic<int32_t> LinkTimers[LINK_TIMER_COUNT] = {};
    std::atomic<int32_t> OneSecondCounter{1000};
    std::atomic<int32_t> LoopsPerSecond{0};
    // The tick runs where a thread needs its timers to be current; this keeps two ticks from
    // counting the same milliseconds twice.
    std::mutex TickMutex;
    uint32_t LastTickMs = 0; // under TickMutex
    bool TickStarted = false;
    std::atomic<int32_t> THREAD_STEP{0};
    std::atomic<int32_t> RETRY{0};
    std::atomic<int32_t> RunStates[4] = {};
    std::atomic<uint32_t> DebugVars[30] = {};

    // Port
    std::atomic<int32_t> PortIndex{0};
    std::atomic<int32_t> BaudIndex{0};
    // 0: the baud-rate test tries 19200, then 57600 baud; 2 or 3: only that speed.
    std::atomic<int32_t> FixedBaudIndex{0};
    // 0, or 2 or 3: the speed the device answered at last time, which the baud-rate test tries
    // first (the other one second). Set by the window or qln-cli from QLN_com.ini [SPEEDS].
    std::atomic<int32_t> PreferredBaudIndex{0};
    // 2 or 3 once a baud-rate test has found the valve; 0 while a test runs and before any
    // succeeded. The window and qln-cli store it as the device's speed.
    std::atomic<int32_t> FoundBaudIndex{0};
    std::atomic<int32_t> PortOpen{0};
    // Set by the receiver or transmitter when the device has vanished (hang-up, EIO); the engine
    // then closes the port and ends the running action with an error.
    std::atomic<int32_t> PortLost{0};
    std::atomic<SerialHandle> PortFd{NO_SERIAL_DEVICE};
    // Counts the closes of the port: the receiver, which polls a descriptor number, can tell
    // that the number may have been given to another open meanwhile.
    std::atomic<uint32_t> PortCloses{0};
    std::atomic<int> LastOpenErrno{0};
    // How a USB adapter is asked to pass short replies on at once (a test hands in its own).
    SerialLatency* latency = &SystemSerialLatency();
    // The hot-plug monitor (open once StartPortMonitor succeeded), which the receiver waits on,
    // and the arrivals and removals of serial devices it has seen: the window compares the count.
    SerialPortMonitor PortMonitor;
    std::atomic<uint32_t> PortEvents{0};
    // COM1..COM8 mapped to device paths; changed only while the engine is idle.
    std::array<std::string, 8> DevicePath = DefaultSerialDevicePaths();

    // Test mode: bit 0 lets the simulated valve answer instead of the port.
    std::atomic<uint32_t> uTestMode{0};
    uint32_t SimSampleCounter = 0; // simulated valve, supervisor thread only

    // What each thread blocks on besides its deadline. The receiver blocks on the port and on its
    // waker, the others on their WakeUp.
    WakeUp EngineWake;
    WakeUp SupervisorWake;
    WakeUp TransmitterWake;
    Waker ReceiverWaker;
};

// Whoever changes what a thread waits for wakes it.
inline void WakeEngine(LinkState& s) {
    s.clock->Raise(s.EngineWake);
}
inline void WakeSupervisor(LinkState& s) {
    s.clock->Raise(s.SupervisorWake);
}
inline void WakeTransmitter(LinkState& s) {
    s.clock->Raise(s.TransmitterWake);
}
inline void WakeReceiver(LinkState& s) {
    s.ReceiverWaker.Raise();
}
