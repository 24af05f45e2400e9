#pragma once
#include <cstdint>
#include <string>

#include "engine/DeviceCommands.h"
#include "engine/Notifier.h"
#include "engine/QlnState.h"
#include "scope/Acquisition.h"

struct ScopeTelegram;
struct RecordingKind;
struct CalExchange;

// The action engine: one step machine that carries out every exchange with the valve. The window
// requests an action by setting a bit of THREAD_CMD; the engine runs the highest-priority one,
// step by step, and tells the window how it ended.
class ActionEngine {
public:
    ActionEngine(QlnState& s, INotifier& notifier);

    // The thread's loop: passes until the run-state asks it to stop. Between passes that change
    // nothing it blocks until it is woken (a request, an exchange outcome, stop) or one of its
    // link timers runs out.
    void Run();
    // One pass of the loop without its wait (tests drive the engine with it).
    void Pass();

    uint32_t ErrorCode() const { return errorCode_; }
    const std::string& ErrorText() const { return errorText_; }

    // Restart pause, send and reply time-outs are link timers; a restart pause is one second.
    static constexpr int32_t RESTART_PAUSE_MS = 1000;
    static constexpr uint32_t MAX_RESTARTS = 3;
    // The baud-rate test's probe is answered within milliseconds by a valve at that speed; one at
    // another speed never answers, and the test moves on to the next speed after this long.
    static constexpr int32_t PROBE_REPLY_TIMEOUT_MS = 300;

private:
    enum class Ex { Stay, Next, Failed };
    using Handler = void (ActionEngine::*)(uint32_t offset);
    struct StepRange {
        uint32_t first;
        uint32_t last;
        Handler handler;
    };
    static const StepRange STEPS[];

    // The three steps of one exchange. `phase` 0 sends, 1 awaits the send, 2 awaits the reply.
    Ex Exchange(uint32_t phase, const char* name, uint8_t cmd, uint8_t data, uint32_t replyLength,
                int32_t replyTimeoutMs = REPLY_TIMEOUT_MS);
    // The same with the long request: STX, command, ten data bytes, BCC (the matrix row write).
    Ex ExchangeLong(uint32_t phase, const char* name, uint8_t cmd, const uint8_t (&data)[10],
                    uint32_t replyLength);
    Ex Transmit(const char* name, uint8_t cmd, const uint8_t* data, uint32_t dataLength);
    bool LinkIdle() const;
    bool ReplyValid(uint32_t replyLength) const;
    void SendFailure();
    void ReceiveFailure(bool badReply, bool valueReply);
    void Restart();
    bool RefusedByHistory();
    void KeepFailedJob();
    void Cancel();
    void ErrorEntry(int kind, const uint8_t* bytes, uint32_t len, int32_t state);
    void Finish(uint32_t bits, uint32_t code, intptr_t value = 0, bool post = false);
    void Advance() { s_.ACTION_STEP.fetch_add(1); }
    void PublishDebug();

    void StepDispatch(uint32_t offset);
    void StepReadParameter(uint32_t offset);
    void StepWriteParameter(uint32_t offset);
    void StepReadDeviceInfo(uint32_t offset);
    void StepReadIdentity(uint32_t offset);
    void EndReadIdentity();
    void StepReadStatus(uint32_t offset);
    void StepResetOperationCounter(uint32_t offset);
    void StepResetCalibrationCounter(uint32_t offset);
    void StepSetSwitch(uint32_t offset);
    // Driving the valve from the PC (DriveActions.cpp).
    void StepSerialSetpoint(uint32_t offset);
    void StepWriteTestFunction(uint32_t offset);
    void StepReadTestFunction(uint32_t offset);
    void StepAutoTune(uint32_t offset);
    // Factory calibration and the calibration matrix (CalibrationActions.cpp).
    void StepStartCalibration(uint32_t offset);
    void StepCheckCalibration(uint32_t offset);
    void StepStopCalibration(uint32_t offset);
    void StepWriteMatrix(uint32_t offset);
    void StepReadMatrix(uint32_t offset);
    bool CalibrationSequence(uint32_t offset, const CalExchange* seq, uint32_t count);
    void MatrixTransfer(uint32_t offset, bool write);
    uint32_t CalibrationEndValue();
    void StepRestart(uint32_t offset);
    void StepStop(uint32_t offset);
    void StepBaudrateTest(uint32_t offset);

    // Scope recordings (AcquisitionActions.cpp).
    void StepRollTrigger(uint32_t offset);
    void StepRampMode(uint32_t offset);
    void StepStepMode(uint32_t offset);
    void StepStopAcquisition(uint32_t offset);
    void StepHardStop(uint32_t offset);
    void StepRecording(uint32_t offset, const RecordingKind& kind);
    void StartRecording(const RecordingKind& kind);
    bool ConfigurationExchange(uint32_t offset, const ScopeTelegram& t, bool ramp);
    int NextBlockSize(bool roll) const;
    Ex BlockExchange(uint32_t phase, const char* name, int n);
    void HandleBlock(int n, bool withTrigger);
    void PaceDisplay();
    void ShowProgress();
    void EndRecording(uint32_t bit);
    bool SkipStreamRemnant();

    QlnState& s_;
    LinkState& l_;
    INotifier& notifier_;
    uint32_t retry_ = 0;
    uint32_t errorCode_ = 0;
    uint32_t currentBit_ = 0;
    uint32_t firstStep_ = 0;
    const char* exchangeName_ = "";
    bool firmwareZeroShown_ = false;
    uint32_t speedsTried_ = 0; // in this baud-rate test
    // The firmware version the baud-rate test of the running request read (0: none), which Read
    // Identity takes instead of asking VER again; forgotten by any other action and when idle.
    int32_t probedFirmware_ = 0;
    bool identityAsked_ = false; // the running request reads the identity for the history
    ValveIdentity identity_{};   // the running Read Identity's record
    bool setpointOn_ = false;    // the serial-setpoint action sends STS (else RTS)
    uint8_t setpointByte_ = 0;
    uint8_t valveController_ = 0;    // the CCR reply of the running test function write
    int matrixIndex_ = 0;            // the row of the running matrix transfer (0..25)
    uint32_t calibrationChecks_ = 0; // CRR replies since Start Calibration; test mode's result

    // The running recording: its checked set-up and plan, the fill index and its counters.
    struct Recording {
        ScopeSetup setup{};
        AcquisitionPlan plan{};
        bool roll = false;
        int fill = 0;
        int block = 0;
        int sinceDisplay = 0;
        int postCount = 0;
        int pasSkipped = 0;
        uint32_t records = 0;
        TriggerTest trigger;
    };
    Recording rec_;

    ParamReadHold hold_;
    std::string errorText_;
};

// Thread entry: runs an engine on the shared state until MainCtrlThread stops it.
void ActionThread(QlnState& s, INotifier& notifier);
