#include "history/JobEntry.h"

#include <cstring>
#include <vector>

#include "engine/QlnState.h"
#include "engine/ValveInfoFormat.h"
#include "history/HistoryText.h"

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

void SetJobIdentity(HistoryEntry& job, const ValveIdentity& id) {
    job.serial = id.Valid ? std::to_string(id.SerialNumber) : "";
    job.part = id.Valid ? FormatPartNumber(id) : "";
    job.firmware = id.Valid ? std::to_string(id.ControllerFirmware) : "";
}

HistoryEntry JobEntry(const HistoryEntry& job, const std::string& action, HistoryResult result, int confirmed,
                      const std::string& error, const QlnState& s) {
    // Each entry its own uid and time; the link and the identity are the job's.
    HistoryEntry e = NewHistoryEntry(action);
    // A device path is the system's bytes, which need not be UTF-8: a server refuses text that is not.
    e.port = StorableHistoryText(job.port);
    e.device = StorableHistoryText(job.device);
    e.serial = job.serial;
    e.part = job.part;
    e.firmware = job.firmware;
    e.result = result;
    e.confirmed = confirmed;
    e.error = StorableHistoryText(error);
    FillData(e, s);
    return e;
}
