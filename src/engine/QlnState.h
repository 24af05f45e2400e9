#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/CalibrationData.h"
#include "engine/DeviceRecords.h"
#include "link/LinkState.h"
#include "params/ParameterBlock.h"
#include "scope/SampleBuffer.h"
#include "scope/ScopeSetup.h"
#include "text/Texts.h"

// Action request bits of THREAD_CMD.
enum ThreadCmdBit : uint32_t {
    CMD_READ_PARAMETER = 0x1,
    CMD_WRITE_PARAMETER = 0x2,
    CMD_START_CALIBRATION = 0x4,
    CMD_CHECK_CALIBRATION = 0x8,
    CMD_STOP_CALIBRATION = 0x10,
    CMD_READ_MATRIX = 0x20,
    CMD_WRITE_MATRIX = 0x40,
    CMD_READ_DEVICE_INFO = 0x80,
    CMD_READ_STATUS = 0x100,
    CMD_ROLL_TRIGGER = 0x200,
    CMD_RAMP_MODE = 0x400,
    CMD_STEP_MODE = 0x800,
    CMD_STOP_ACQUISITION = 0x1000,
    CMD_SERIAL_SETPOINT = 0x2000,
    CMD_RESET_CALIBRATION_COUNTER = 0x4000,
    CMD_RESET_OPERATION_COUNTER = 0x8000,
    CMD_BAUDRATE_TEST = 0x10000,
    CMD_WRITE_TEST_FUNCTION = 0x20000,
    CMD_READ_TEST_FUNCTION = 0x40000,
    CMD_FACTORY_SET = 0x80000,
    CMD_CUSTOM_SET = 0x100000,
    CMD_RESTART_PENDING = 0x200000,
    CMD_HARD_STOP = 0x400000,
    CMD_AUTOTUNE = 0x800000,
    // The valve's serial and part number and firmware for the history (DIR, and VER unless the
    // baud-rate test of the same request has just read it); runs before every other action.
    CMD_READ_IDENTITY = 0x1000000,
};

// End notifications and error codes sent to the window.
enum Notification : uint32_t {
    NOTIFY_SEND_FAILURE = 3,
    NOTIFY_REPLY_TIMEOUT = 4,
    NOTIFY_BAD_REPLY = 6,
    NOTIFY_BAUDRATE_ERROR = 7,
    NOTIFY_HARD_STOP_FAILED = 8,
    // The request was called off (CancelRequested) before it completed; sent with value 0.
    NOTIFY_CANCELLED = 10,
    NOTIFY_CALIBRATION_STARTED = 0x20,
    NOTIFY_CALIBRATION_STOPPED = 0x21, // value: the result's high nibble
    NOTIFY_MATRIX_READ = 0x22,
    NOTIFY_MATRIX_WRITTEN = 0x23,
    NOTIFY_CALIBRATION_CHECKED = 0x26, // value: the result's high nibble
    NOTIFY_OPERATION_COUNTER_RESET = 0x24,
    NOTIFY_ACQUISITION_PROGRESS = 0x30, // value: the fill index
    NOTIFY_ACQUISITION_ENDED = 0x31,
    NOTIFY_CALIBRATION_COUNTER_RESET = 0x25,
    NOTIFY_PARAMETERS_READ = 0x40,
    NOTIFY_PARAMETERS_WRITTEN = 0x41,
    NOTIFY_SET_SWITCHED = 0x42,
    NOTIFY_DEVICE_INFO = 0x50,
    // Read Identity requested alone; followed by another action, only that one's end is told.
    NOTIFY_IDENTITY = 0x51,
    NOTIFY_SERIAL_SETPOINT = 0x60,
    NOTIFY_STATUS = 0x70,
    NOTIFY_TEST_FUNCTION_READ = 0x80,
    NOTIFY_TEST_FUNCTION_WRITTEN = 0x81,
    NOTIFY_AUTOTUNE = 0x82,
    // A request for a recorded job while the valve history refuses every job; nothing was sent.
    NOTIFY_HISTORY_REFUSED = 0x52,
};

// A request that ended without doing its job: a line failure (codes 1..8) or a job the valve
// history refused before anything was sent. Whoever waits for a request is free again at either.
inline bool RequestFailed(uint32_t code) {
    return (code >= 1 && code <= 8) || code == NOTIFY_HISTORY_REFUSED;
}

// Why the last exchange of an action failed, so that a message can say what happened on the line.
enum class LineFailure : int32_t {
    None,
    NotSent,      // the telegram could not be sent
    NoAnswer,     // no complete reply within the time-out
    Refused,      // the valve answered NAK
    Damaged,      // a reply of the wrong form or check byte
    FirmwareZero, // the valve answered the rate test with firmware version 0
};

// The whole shared state of one running program: the link, the request word, the engine's
// variables and the records it fills. The program creates one; each test creates its own.
struct QlnState {
    explicit QlnState(IClock& clock) : link(clock) {}
    QlnState(const QlnState&) = delete;
    QlnState& operator=(const QlnState&) = delete;

    LinkState link;
    // Texts the engine shows (message captions); the program points it at its language library.
    const TextSource* texts = &builtinTexts;
    TextSource builtinTexts;

    // Set by the window (fetch_or), cleared by the engine (fetch_and); no bit is ever lost.
    std::atomic<uint32_t> THREAD_CMD{0};
    std::atomic<uint32_t> ACTION_STEP{0};
    std::atomic<uint32_t> ACTION_RETRY{0};
    std::atomic<uint32_t> ACTION_RETRY_STEP{0};
    std::atomic<uint32_t> ACTION_SUB_CMD{0};
    // Raised by the engine whenever one of its passes has changed THREAD_CMD (an action ended, a
    // stop took a recording's place) and when its thread ends: whoever waits for an action to end
    // blocks on it.
    WakeUp CommandsChanged;
    std::atomic<uint32_t> AcquisitionRunning{0};
    // Set by whoever wants the running action called off (qln-cli on a signal): the engine ends it
    // before its next telegram, never between a telegram and its reply, and clears the flag.
    std::atomic<uint32_t> CancelRequested{0};
    // How the last failed exchange failed (reset when an action starts).
    std::atomic<LineFailure> LastFailure{LineFailure::None};
    // How many write telegrams of the running (or last) parameter write the valve has acknowledged,
    // -1 until that write has sent its first one. Every attempt sends the same telegrams from the
    // first, so after restarts the valve holds the new values of the furthest attempt.
    std::atomic<int32_t> ParamsWriteAcked{-1};
    // 1 from the moment the engine takes up a serial-setpoint request until the valve has
    // acknowledged an RTS: while it is set, the valve may be following the PC's setpoint (an STS
    // whose reply was lost still took effect), so a failure must say so.
    std::atomic<int32_t> SerialSetpointMayRun{0};
    // 1 while a test function write has not yet read the valve's controller byte in its first
    // attempt: until then it has sent nothing, so a failure says that nothing was written.
    std::atomic<int32_t> TestFunctionUnsent{0};

    // The valve history, set by the window (0 while it is off). HistoryJobs: the request bits whose
    // jobs are recorded. HistoryRefused: 1 while the history cannot be used (a database newer than
    // the program, a damaged file), so that such a request ends before anything is sent.
    // FailedJob: the recorded bits of the last such request that failed, taken by the window
    // (exchange with 0) when it is told of the failure.
    std::atomic<uint32_t> HistoryJobs{0};
    std::atomic<uint32_t> HistoryRefused{0};
    std::atomic<uint32_t> FailedJob{0};
    // 1 from the editor's request of the read-back after a write until the engine takes it up: the
    // read-back is no job of its own, so the engine reads no identity for it.
    std::atomic<uint32_t> ReadBackRequested{0};

    ParameterBlocks params;
    DeviceInfo deviceInfo{};
    // Written by the engine's Read Identity only, read through CopyValveIdentity; both under
    // identityMutex.
    mutable std::mutex identityMutex;
    ValveIdentity valveIdentity{};
    StatusInfo statusInfo{};
    TestFunctionData testFunction{};

    // The scope set-up: the window edits it while no action runs; the engine takes a copy when a
    // recording starts and writes the valve's reported values into it. Both under scopeMutex.
    mutable std::mutex scopeMutex;
    ScopeSetup scopeSetup = DefaultScopeSetup();
    // The calibration record: the window (or qln-cli) commits its edits before it requests a
    // calibration action, the engine stores what it reads while the action runs; both under
    // calibrationMutex, so that no copy ever holds half a value.
    mutable std::mutex calibrationMutex;
    CalibrationData calibration{};

    // The last recording, filled by the engine only.
    SampleBuffer samples;
    // Set by the engine with each progress notification, cleared by whoever shows the recording
    // once it has done so; while it is set no further progress is sent.
    std::atomic<uint32_t> DisplayUpdatePending{0};
    // Valid samples of the recording (the fill index), and the redraws skipped because the last
    // one had not been done yet.
    std::atomic<int32_t> FillIndex{0};
    std::atomic<uint32_t> DisplayTooFast{0};
    // Sample records decoded since the recording started.
    std::atomic<int64_t> SamplesReceived{0};
};

inline ScopeSetup CopyScopeSetup(const QlnState& s) {
    std::lock_guard<std::mutex> lock(s.scopeMutex);
    return s.scopeSetup;
}

inline void StoreScopeSetup(QlnState& s, const ScopeSetup& setup) {
    std::lock_guard<std::mutex> lock(s.scopeMutex);
    s.scopeSetup = setup;
}

inline CalibrationData CopyCalibration(const QlnState& s) {
    std::lock_guard<std::mutex> lock(s.calibrationMutex);
    return s.calibration;
}

inline void StoreCalibration(QlnState& s, const CalibrationData& c) {
    std::lock_guard<std::mutex> lock(s.calibrationMutex);
    s.calibration = c;
}

inline ValveIdentity CopyValveIdentity(const QlnState& s) {
    std::lock_guard<std::mutex> lock(s.identityMutex);
    return s.valveIdentity;
}

inline void StoreValveIdentity(QlnState& s, const ValveIdentity& identity) {
    std::lock_guard<std::mutex> lock(s.identityMutex);
    s.valveIdentity = identity;
}

constexpr uint32_t ACQUISITION_BITS = CMD_ROLL_TRIGGER | CMD_RAMP_MODE | CMD_STEP_MODE;

// Start Acquisition, in the window and in qln-cli: the request bit for the set-up's mode and its
// trace text; bit 0 for a mode that is none of step, ramp and roll/trigger (a damaged project),
// which both refuse before anything is cleared or sent.
struct AcquisitionStart {
    uint32_t bit;
    const char* traceText;
};
inline AcquisitionStart AcquisitionStartFor(int32_t mode) {
    switch (mode) {
    case 0:
        return {CMD_STEP_MODE, " Acquisition Step Mode started"};
    case 1:
        return {CMD_RAMP_MODE, " Acquisition Ramp Mode started"};
    case 2:
        return {CMD_ROLL_TRIGGER, " Acquisition Roll / Trigger Mode started"};
    default:
        return {0, ""};
    }
}

// Stop acquisition: clears the three acquisition bits and sets an orderly stop when one of them was
// set, else a hard stop; every other bit is kept. Returns true for the orderly stop. One
// read-modify-write for both changes, so the engine never sees the acquisition bits gone without
// the stop request that goes with them. The caller wakes the engine.
inline bool RequestStopAcquisition(std::atomic<uint32_t>& threadCmd) {
    uint32_t old = threadCmd.load();
    uint32_t next;
    do {
        next = (old & ~ACQUISITION_BITS) | ((old & ACQUISITION_BITS) ? CMD_STOP_ACQUISITION : CMD_HARD_STOP);
    } while (!threadCmd.compare_exchange_weak(old, next));
    return (old & ACQUISITION_BITS) != 0;
}

// Whether an orderly or a hard stop of a recording is requested and not yet done.
inline bool StopRequested(uint32_t threadCmd) {
    return (threadCmd & (CMD_STOP_ACQUISITION | CMD_HARD_STOP)) != 0;
}

// Requests an action the way the window and qln-cli do: sets its bits and wakes the engine, so
// that it starts at once. Whoever changes THREAD_CMD in another way (compare-and-swap) wakes the
// engine with WakeEngine(s.link) afterwards.
inline void RequestAction(QlnState& s, uint32_t bits) {
    s.THREAD_CMD.fetch_or(bits);
    WakeEngine(s.link);
}
