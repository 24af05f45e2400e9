#include "JobHistory.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "CliRun.h"
#include "engine/DeviceRecords.h"
#include "engine/QlnState.h"
#include "engine/ValveInfoFormat.h"
#include "settings/ComSettings.h"

namespace {
// What an entry keeps of the job's data. A read keeps what it read only when it completed; a write
// keeps what it was sent to write, also when it did not complete.
enum class Data { None, ValveParams, WrittenParams, ReadMatrix, SetMatrix };
struct ActionData {
    const char* action;
    Data data;
};
constexpr ActionData ACTION_DATA[] = {
    {"read-params", Data::ValveParams}, {"backup", Data::ValveParams},
    {"set-switch", Data::ValveParams},  {"write-params", Data::WrittenParams},
    {"read-matrix", Data::ReadMatrix},  {"write-matrix", Data::SetMatrix},
};

template <typename T> std::vector<uint8_t> Bytes(const T& v) {
    std::vector<uint8_t> out(sizeof v);
    std::memcpy(out.data(), &v, sizeof v);
    return out;
}

void FillData(HistoryEntry& e, const QlnState& s) {
    Data data = Data::None;
    for (const ActionData& a : ACTION_DATA)
        if (e.action == a.action) data = a.data;
    const bool ok = e.result == HistoryResult::Ok;
    if (data == Data::ValveParams && ok) e.parameters = Bytes(s.params.ValveBlock);
    if (data == Data::WrittenParams) e.parameters = Bytes(s.params.EditBlock);
    if (data == Data::ReadMatrix && ok) e.matrix = Bytes(CopyCalibration(s).ReadMatrix);
    if (data == Data::SetMatrix) e.matrix = Bytes(CopyCalibration(s).SetMatrix);
}
} // namespace

std::optional<HistoryTarget> ChooseHistoryTarget(const Options& o, std::string* error) {
    if (o.history) {
        std::string why;
        std::optional<HistoryTarget> t = ParseHistoryTarget(*o.history, &why);
        if (!t)
            *error = "--history " + *o.history + ": " + why + " (use postgresql://..., sqlite:PATH or off)";
        return t;
    }
    if (o.testMode) return HistoryTarget{};
    return ConfiguredHistoryTarget(ReadComSettings("").HistoryDatabase, ".", error);
}

std::string CliOutboxPath() {
    return OutboxPath(".");
}

JobHistory::JobHistory(CommandContext& c) : c_(c) {}
JobHistory::~JobHistory() = default;

int JobHistory::Open() {
    std::string error;
    const std::optional<HistoryTarget> target = ChooseHistoryTarget(c_.o, &error);
    if (!target) {
        c_.err << "qln-cli: " << error << ". Nothing was sent to the valve.\n";
        return EXIT_HISTORY;
    }
    if (target->kind == HistoryTarget::Kind::Off) return -1;
    auto recorder = std::make_unique<HistoryRecorder>(*target, CliOutboxPath());
    HistoryOpenFailure failure = HistoryOpenFailure::None;
    if (!recorder->Open(&failure, &error)) {
        c_.err << "qln-cli: the valve history cannot be used: " << error
               << "\nNothing was sent to the valve. Use a newer qln-cli, another database (--history), or "
                  "--history off to run without a history.\n";
        return EXIT_HISTORY;
    }
    recorder_ = std::move(recorder);
    return -1;
}

void JobHistory::SetLink(const std::string& port, const std::string& device) {
    base_.port = port;
    base_.device = device;
}

void JobHistory::SetIdentity(const ValveIdentity& id) {
    base_.serial = std::to_string(id.SerialNumber);
    base_.part = FormatPartNumber(id);
    base_.firmware = std::to_string(id.ControllerFirmware);
}

void JobHistory::Record(const std::string& action, HistoryResult result, int confirmed,
                        const std::string& error, const QlnState& s) {
    if (!recorder_) return;
    // Each entry its own uid and time; the link and the identity are the job's.
    HistoryEntry e = NewHistoryEntry(action);
    e.port = base_.port;
    e.device = base_.device;
    e.serial = base_.serial;
    e.part = base_.part;
    e.firmware = base_.firmware;
    e.result = result;
    e.confirmed = confirmed;
    e.error = error;
    FillData(e, s);
    std::string notice, why;
    if (!recorder_->Record(std::move(e), &notice, &why)) {
        c_.err << "qln-cli: the " << action << " entry of this job could not be kept in the history nor in "
               << CliOutboxPath() << ": " << why << "\n";
        c_.historyLost = true;
        return;
    }
    if (!notice.empty() && !toldOutbox_) c_.err << "qln-cli: " << notice << "\n";
    toldOutbox_ = toldOutbox_ || !notice.empty();
}
