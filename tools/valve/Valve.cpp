#include "Valve.h"

#include <cmath>
#include <cstdio>

#include "Commands.h"
#include "StatusPanel.h"

namespace valve {

namespace {
constexpr uint8_t TEMPERATURE_BIAS = 50;
constexpr int FLOW_CONTROL_STRUCTURE = 7;
constexpr uint8_t SAS_RAMP = 0x01;
constexpr uint8_t SAS_SLAVE = 0x80;
constexpr uint8_t AUTOSAFE_BIT = 0x20; // of the CAS byte
constexpr uint8_t KEY_LOCK_BIT = 0x02; // of the CFR byte
constexpr uint8_t MAX_SETPOINT_X2 = 200;
constexpr uint8_t APS_START = 1;
constexpr uint8_t APS_CANCEL = 0;
// The recording's step or ramp starts after a tenth of the acquisition time, so the recording
// shows the flow settled at the begin value first.
constexpr int RECORDING_LEAD_DIVISOR = 10;

// What the auto-tune settles on for the bench valve's flow path.
struct TunedValue {
    uint8_t readCmd;
    uint8_t value;
};
constexpr TunedValue AUTO_TUNED[] = {{CMD_KPR, 145}, {CMD_TIR, 3}, {CMD_TDR, 2}};

Micros Tenths(uint8_t tenths) {
    return Micros{static_cast<int64_t>(tenths) * 100'000};
}
} // namespace

const std::array<Valve::Command, 256>& Valve::Table() {
    static const std::array<Command, 256> table = [] {
        std::array<Command, 256> t{};
        for (const ParameterCommand& c : ParameterStore::Commands()) {
            t[c.readCmd] = {c.readName, &Valve::ParamRead};
            if (c.writeName != nullptr) t[c.WriteCmd()] = {c.writeName, &Valve::ParamWrite};
        }
        t[CMD_CCS].handler = &Valve::ControllerConfigWrite;
        for (const RegisterDef& s : Registers::All()) {
            t[s.writeCmd] = {s.writeName, &Valve::RegisterWrite};
            if (s.readName != nullptr) t[s.readCmd] = {s.readName, &Valve::RegisterRead};
        }
        const struct {
            uint8_t cmd;
            const char* name;
            Handler handler;
        } specials[] = {
            {CMD_DIR, "DIR", &Valve::DeviceRecord},
            {CMD_VER, "VER", &Valve::Firmware},
            {CMD_OCR, "OCR", &Valve::CounterRecord},
            {CMD_VTR, "VTR", &Valve::Temperature},
            {CMD_STR, "STR", &Valve::Status},
            {CMD_LER, "LER", &Valve::Leds},
            {CMD_TAS, "TAS", &Valve::StartRoll},
            {CMD_SAS, "SAS", &Valve::StartRecording},
            {CMD_PAS, "PAS", &Valve::StopAcquisition},
            {CMD_SCS, "SCS", &Valve::StartCalibration},
            {CMD_CRR, "CRR", &Valve::CheckCalibration},
            {CMD_TCS, "TCS", &Valve::FinishCalibration},
            {CMD_ARS, "ARS", &Valve::SelectMatrixRow},
            {CMD_WAS, "WAS", &Valve::WriteMatrixRow},
            {CMD_WAR, "WAR", &Valve::ReadMatrixRow},
            {CMD_STS, "STS", &Valve::SerialSetpoint},
            {CMD_RTS, "RTS", &Valve::ResetSerialSetpoint},
            {CMD_APS, "APS", &Valve::AutoTune},
        };
        for (const auto& s : specials)
            t[s.cmd] = {s.name, s.handler};
        return t;
    }();
    return table;
}

const char* Valve::CommandName(uint8_t cmd) {
    return Table()[cmd].name;
}

Valve::Valve(ValveOptions o) : o_(std::move(o)), tx_(o_.baud), faults_(o_.faults, o_.seed), model_(o_.seed) {
    ApplyParameters();
    // Switched on with the setpoint input applied: the loop has long settled.
    model_.Settle(setpoint_.At(Micros{0}));
}

Bytes Valve::Step(std::span<const uint8_t> received, Micros now) {
    StreamSamples(now);
    model_.AdvanceTo(now, setpoint_);
    RunTimers(now);
    const std::vector<Request> requests = parser_.Feed(received, now);
    if (parser_.Discarded() != discardedLogged_) {
        Log(now, "rx", {}, std::to_string(parser_.Discarded() - discardedLogged_) + " noise byte(s) dropped");
        discardedLogged_ = parser_.Discarded();
    }
    for (const Request& r : requests)
        Handle(r, now);
    return tx_.Take(now);
}

Micros Valve::NextWake(Micros now) const {
    Micros next = now + MAX_IDLE;
    if (const auto due = tx_.NextDue()) next = std::min(next, *due);
    if (acquisition_.Streaming()) next = std::min(next, acquisition_.NextSample());
    if (autoTuneDone_) next = std::min(next, *autoTuneDone_);
    if (parser_.Pending()) next = std::min(next, parser_.SettleTime());
    return std::max(next, now);
}

void Valve::StreamSamples(Micros now) {
    const bool flowControl = params_.Bits(CMD_CCR, 0, 3) == FLOW_CONTROL_STRUCTURE;
    for (Micros t : acquisition_.Due(now)) {
        model_.AdvanceTo(t, setpoint_);
        const Bytes record = EncodeSample(model_.Sample(), registers_.Get(REG_ANALOG_SELECT), flowControl);
        if (tx_.Pending() + record.size() > TRANSMIT_BUFFER) {
            ++samplesLost_; // the line is slower than the samples come
            continue;
        }
        Send(record, t, "sample");
    }
    if (!acquisition_.Recording()) setpoint_.EndRecording();
}

void Valve::RunTimers(Micros now) {
    if (autoTuneDone_ && now >= *autoTuneDone_) {
        for (const TunedValue& v : AUTO_TUNED)
            params_.SetRaw(v.readCmd, v.value);
        ApplyParameters();
        setpoint_.EndAutoTune();
        autoTuneDone_.reset();
        Log(now, "--", {}, "auto-tune done");
    }
}

void Valve::Handle(const Request& r, Micros now) {
    const Command& c = Table()[r.cmd];
    const char* name = c.name != nullptr ? c.name : "???";
    if (o_.lineSpeedOk && !o_.lineSpeedOk()) {
        Log(now, "rx", r.raw,
            std::string(name) + "  ignored: line not at " + std::to_string(o_.baud) + " baud");
        return;
    }
    lastTraffic_ = now;
    if (r.bccOk && c.handler == nullptr) {
        Log(now, "rx", r.raw, "???  unknown command, ignored");
        return;
    }
    Log(now, "rx", r.raw, r.bccOk ? name : std::string(name) + "  BCC error");
    const Fault fault = faults_.Decide();
    Bytes reply;
    if (!r.bccOk || fault == Fault::Nak)
        reply = NakReply();
    else
        reply = (this->*c.handler)(r, now);
    if (fault == Fault::Drop) {
        Log(now, "tx", {}, std::string(name) + "  reply dropped");
        return;
    }
    Send(faults_.Shape(std::move(reply)), now + o_.replyDelay, name);
}

void Valve::Send(const Bytes& bytes, Micros at, const char* name) {
    Log(at, "tx", bytes, name);
    tx_.Queue(bytes, at);
}

void Valve::Log(Micros now, const char* direction, std::span<const uint8_t> bytes,
                const std::string& note) const {
    if (!o_.log) return;
    char head[32];
    std::snprintf(head, sizeof head, "%10.3f %s", static_cast<double>(now.count()) * 1e-6, direction);
    std::string line = head;
    for (uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
    }
    o_.log(line + "  " + note);
}

void Valve::ApplyParameters() {
    const ParameterStore& p = params_;
    ControlParams c;
    c.structure = p.Bits(CMD_CCR, 0, 3);
    c.kp = p.Value(CMD_KPR);
    c.integrationTime = p.Value(CMD_TIR);
    c.derivationMs = p.Value(CMD_TDR);
    c.deadBand = p.Value(CMD_DBR);
    c.integrationLimit = p.Value(CMD_ILR);
    c.forwardOffset = p.Value(CMD_FOR);
    c.forwardGain = p.Value(CMD_FGR);
    c.shutOff = p.Raw(CMD_SOR) == 1;
    c.shutOffLevel = p.Value(CMD_SLR);
    c.window = p.Value(CMD_PSR);
    c.limit = p.Value(CMD_LSR);
    c.limitHysteresis = p.Value(CMD_SHR);
    c.outputInverse = p.Raw(CMD_PMR) == 1;
    c.autosafe = (p.Read(CMD_CAR) & AUTOSAFE_BIT) != 0;
    c.inputPressureLimit = p.Value(CMD_IPR);
    model_.SetParams(c);
}

bool Valve::Overtemperature(Micros now) const {
    return identity_.Temperature(now) > params_.Value(CMD_TLR);
}

Micros Valve::TestSegment() const {
    return Tenths(registers_.Get(REG_RAMP_TIME));
}

// --- parameters and plain settings

Bytes Valve::ParamRead(const Request& r, Micros) {
    return ValueReply(params_.Read(r.cmd));
}

Bytes Valve::ParamWrite(const Request& r, Micros) {
    params_.Write(r.cmd, r.data[0]);
    ApplyParameters();
    return AckReply();
}

// The controller configuration also switches the valve's test function (bits 6..7).
Bytes Valve::ControllerConfigWrite(const Request& r, Micros now) {
    params_.Write(r.cmd, r.data[0]);
    ApplyParameters();
    setpoint_.SetTestFunction(params_.TestFunction(), TestSegment(), now);
    return AckReply();
}

Bytes Valve::RegisterRead(const Request& r, Micros) {
    return ValueReply(registers_.Get(Registers::OfRead(r.cmd)->writeCmd));
}

Bytes Valve::RegisterWrite(const Request& r, Micros now) {
    if (!registers_.Write(r.cmd, r.data[0])) return NakReply();
    if (r.cmd == REG_RAMP_TIME) setpoint_.SetTestFunction(params_.TestFunction(), TestSegment(), now);
    return AckReply();
}

// --- information and status

Bytes Valve::DeviceRecord(const Request&, Micros) {
    return ValueReply(identity_.Record());
}

Bytes Valve::Firmware(const Request&, Micros) {
    return ValueReply(DeviceIdentity::FIRMWARE);
}

Bytes Valve::CounterRecord(const Request&, Micros now) {
    const uint32_t minutes = identity_.OperationMinutes(now);
    const BcdDate& d = calibration_.Date();
    const uint8_t record[8] = {static_cast<uint8_t>(minutes >> 16),
                               static_cast<uint8_t>(minutes >> 8),
                               static_cast<uint8_t>(minutes),
                               calibration_.Counter(),
                               d.year,
                               d.month,
                               d.day,
                               calibration_.Status()};
    return ValueReply(record);
}

Bytes Valve::Temperature(const Request&, Micros now) {
    const long celsius = std::lround(identity_.Temperature(now));
    return ValueReply(static_cast<uint8_t>(celsius + TEMPERATURE_BIAS));
}

Bytes Valve::Status(const Request&, Micros now) {
    PanelInputs in;
    in.binary = model_.State().binary;
    in.overtemperature = Overtemperature(now);
    in.keyLock = (params_.Raw(CMD_CFR) & KEY_LOCK_BIT) != 0;
    in.manualSetpoint = setpoint_.SerialActive();
    return ValueReply(StatusByte(in));
}

Bytes Valve::Leds(const Request&, Micros now) {
    PanelInputs in;
    in.binary = model_.State().binary;
    in.overtemperature = Overtemperature(now);
    in.manualSetpoint = setpoint_.SerialActive();
    in.recentTraffic = lastTraffic_ && now - *lastTraffic_ < TRAFFIC_SHOWN;
    in.ledConfig = params_.Raw(CMD_CER);
    return ValueReply(LedByte(in));
}

// --- acquisition

Bytes Valve::StartRoll(const Request&, Micros now) {
    setpoint_.EndRecording();
    acquisition_.StartRoll(now, Micros{1000 * registers_.Get(REG_SAMPLE_PERIOD)});
    return AckReply();
}

Bytes Valve::StartRecording(const Request& r, Micros now) {
    const uint8_t mode = r.data[0];
    if ((mode & ~(SAS_RAMP | SAS_SLAVE)) != 0) return NakReply();
    const bool ramp = (mode & SAS_RAMP) != 0;
    const int seconds = registers_.Get(REG_ACQUISITION_TIME);
    RecordingProfile p;
    p.begin = registers_.Get(REG_SETPOINT_BEGIN) * 0.5;
    p.end = registers_.Get(REG_SETPOINT_END) * 0.5;
    p.start = now + Micros{std::chrono::seconds{seconds}} / RECORDING_LEAD_DIVISOR;
    p.rampTime = ramp ? TestSegment() : Micros{0};
    // The flow starts settled at the begin setpoint, as after an engineer has held it there: the
    // step's figures then depend on the valve's parameters alone, not on where the setpoint input
    // happened to stand when the recording was asked for.
    model_.Settle(p.begin);
    setpoint_.StartRecording(p);
    acquisition_.StartRecording(now, ramp, seconds);
    return AckReply();
}

// The stream stops at once: what waits in the transmit buffer is thrown away, then ACK.
Bytes Valve::StopAcquisition(const Request&, Micros now) {
    acquisition_.Stop();
    setpoint_.EndRecording();
    tx_.Drop(now);
    return AckReply();
}

// --- calibration

Bytes Valve::StartCalibration(const Request& r, Micros) {
    return calibration_.Start(r.data[0]) ? AckReply() : NakReply();
}

Bytes Valve::CheckCalibration(const Request&, Micros) {
    return ValueReply(calibration_.Check());
}

Bytes Valve::FinishCalibration(const Request&, Micros) {
    return ValueReply(calibration_.Finish(o_.today));
}

Bytes Valve::SelectMatrixRow(const Request& r, Micros) {
    return calibration_.SelectRow(r.data[0]) ? AckReply() : NakReply();
}

Bytes Valve::WriteMatrixRow(const Request& r, Micros) {
    calibration_.WriteRow(r.data);
    return AckReply();
}

Bytes Valve::ReadMatrixRow(const Request&, Micros) {
    return ValueReply(calibration_.SelectedRow());
}

// --- driving the valve

Bytes Valve::SerialSetpoint(const Request& r, Micros) {
    if (r.data[0] > MAX_SETPOINT_X2) return NakReply();
    setpoint_.SetSerial(r.data[0] * 0.5);
    return AckReply();
}

Bytes Valve::ResetSerialSetpoint(const Request&, Micros) {
    setpoint_.ClearSerial();
    return AckReply();
}

Bytes Valve::AutoTune(const Request& r, Micros now) {
    if (r.data[0] == APS_START) {
        setpoint_.StartAutoTune(now);
        autoTuneDone_ = now + AUTO_TUNE_TIME;
        return AckReply();
    }
    if (r.data[0] == APS_CANCEL) {
        setpoint_.EndAutoTune();
        autoTuneDone_.reset();
        return AckReply();
    }
    return NakReply();
}

} // namespace valve
