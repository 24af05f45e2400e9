#include "app/JobRecording.h"

#include <utility>

#include "engine/DeviceCommands.h"
#include "engine/QlnState.h"
#include "history/JobEntry.h"
#include "settings/ComSettings.h"

namespace {
// The notifications that end a recorded job well, and the action each records. A parameter read
// ends a plain read, a backup or a set switch (ReadAction decides).
struct JobEnd {
    uint32_t code;
    const char* action;
};
constexpr JobEnd JOB_ENDS[] = {
    {NOTIFY_PARAMETERS_READ, "read-params"},
    {NOTIFY_PARAMETERS_WRITTEN, "write-params"},
    {NOTIFY_MATRIX_READ, "read-matrix"},
    {NOTIFY_MATRIX_WRITTEN, "write-matrix"},
    {NOTIFY_CALIBRATION_STOPPED, "calibration"},
    {NOTIFY_SERIAL_SETPOINT, "setpoint"},
    {NOTIFY_TEST_FUNCTION_WRITTEN, "test-function"},
    {NOTIFY_AUTOTUNE, "autotune"},
};

// The request bits of a recorded job, in the order that names a failed request's action (a set
// switch also reads, a write is not a read).
struct JobBits {
    uint32_t bits;
    const char* action;
};
constexpr JobBits JOB_BITS[] = {
    {CMD_FACTORY_SET | CMD_CUSTOM_SET, "set-switch"},
    {CMD_WRITE_PARAMETER, "write-params"},
    {CMD_READ_PARAMETER, "read-params"},
    {CMD_WRITE_MATRIX, "write-matrix"},
    {CMD_READ_MATRIX, "read-matrix"},
    {CMD_START_CALIBRATION | CMD_STOP_CALIBRATION, "calibration"},
    {CMD_SERIAL_SETPOINT, "setpoint"},
    {CMD_WRITE_TEST_FUNCTION, "test-function"},
    {CMD_AUTOTUNE, "autotune"},
};

bool IsFailure(uint32_t code) {
    return (code >= NOTIFY_SEND_FAILURE && code <= NOTIFY_HARD_STOP_FAILED) || code == NOTIFY_CANCELLED;
}

// The notifications after which no request is left running: a failure of any kind or a refusal.
bool EndsRequest(uint32_t code) {
    return IsFailure(code) || code == NOTIFY_HISTORY_REFUSED;
}

// The report on one line.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char ch : text)
        if (ch != '\n' || (!line.empty() && line.back() != ' ')) line += ch == '\n' ? ' ' : ch;
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}
} // namespace

uint32_t RecordedJobBits() {
    uint32_t all = 0;
    for (const JobBits& j : JOB_BITS)
        all |= j.bits;
    return all;
}

JobRecording::JobRecording(QlnState& s) : s_(s) {}

JobRecording::~JobRecording() {
    Stop();
}

void JobRecording::Start(const HistoryTarget& target, const std::string& outboxPath, bool required,
                         HistoryWriter::Reporter reporter) {
    Stop();
    required_ = required;
    if (target.kind == HistoryTarget::Kind::Off && !required) return;
    writer_ = std::make_unique<HistoryWriter>(target, outboxPath, required, std::move(reporter));
    s_.HistoryJobs.store(RecordedJobBits());
}

void JobRecording::Stop() {
    s_.HistoryJobs.store(0);
    s_.HistoryRefused.store(0);
    writer_.reset();
}

void JobRecording::Refuse() {
    if (writer_) s_.HistoryRefused.store(1);
}

void JobRecording::Accept() {
    s_.HistoryRefused.store(0);
}

void JobRecording::ForgetReadPurpose() {
    s_.params.ReadPurpose = ParameterBlocks::READ_PLAIN;
    switchPending_ = false;
    writeAfterBackup_ = false;
}

void JobRecording::Flush() {
    if (writer_) writer_->Flush();
}

const char* JobRecording::ReadAction() {
    const uint8_t purpose = std::exchange(s_.params.ReadPurpose, ParameterBlocks::READ_PLAIN);
    if (std::exchange(switchPending_, false)) return "set-switch";
    if (purpose == ParameterBlocks::READ_BACKUP) return "backup";
    return purpose == ParameterBlocks::READ_BACK ? nullptr : "read-params";
}

void JobRecording::Record(const char* action, HistoryResult result, int confirmed, const std::string& error,
                          bool newJob) {
    if (newJob) {
        const int port = s_.link.PortIndex.load() & 7;
        job_.port = ComName(port);
        job_.device = s_.link.DevicePath[static_cast<size_t>(port)];
        SetJobIdentity(job_, CopyValveIdentity(s_));
    }
    writer_->Submit(JobEntry(job_, action, result, confirmed, error, s_), newJob);
}

void JobRecording::OnNotification(uint32_t code, const std::string& failureReport) {
    if (!writer_) {
        // Nothing is recorded, but a purpose set while the history was on must not outlive its request.
        if (EndsRequest(code)) ForgetReadPurpose();
        return;
    }
    if (code == NOTIFY_SET_SWITCHED) switchPending_ = true;
    if (code == NOTIFY_HISTORY_REFUSED) {
        writer_->Retry();
        s_.FailedJob.store(0);
        return ForgetReadPurpose();
    }
    if (IsFailure(code)) return OnFailure(code, failureReport);
    for (const JobEnd& end : JOB_ENDS) {
        if (end.code != code) continue;
        const char* action = code == NOTIFY_PARAMETERS_READ ? ReadAction() : end.action;
        if (!action) return;
        const bool backup = std::string(action) == "backup";
        // The write after its backup is the same job: the same identity, the database opened once.
        const bool newJob = code != NOTIFY_PARAMETERS_WRITTEN || !writeAfterBackup_;
        writeAfterBackup_ = backup;
        Record(action, HistoryResult::Ok, code == NOTIFY_PARAMETERS_WRITTEN ? PARAM_WRITE_COUNT : -1, "",
               newJob);
        // The engine waits for this handler: the write follows its backup without a pause.
        if (backup) RequestAction(s_, CMD_WRITE_PARAMETER);
        return;
    }
}

// Whatever ends a request ends what its read was for: the next read is a plain one, and no write
// follows it.
void JobRecording::OnFailure(uint32_t code, const std::string& failureReport) {
    const uint32_t bits = s_.FailedJob.exchange(0);
    const char* action = nullptr;
    for (const JobBits& j : JOB_BITS)
        if (!action && (bits & j.bits)) action = j.action;
    if (action && std::string(action) == "read-params") action = ReadAction();
    const bool sameJob = action && std::string(action) == "write-params" && writeAfterBackup_;
    ForgetReadPurpose();
    if (!action) return;
    const int32_t acked = std::string(action) == "write-params" ? s_.ParamsWriteAcked.load() : -1;
    HistoryResult result = HistoryResult::Failed;
    int confirmed = -1;
    if (acked >= 0 && acked < PARAM_WRITE_COUNT) {
        result = HistoryResult::Incomplete;
        confirmed = acked;
    } else if (code == NOTIFY_CANCELLED) {
        result = HistoryResult::Incomplete;
    }
    Record(action, result, confirmed, OneLine(failureReport), !sameJob);
}
