#pragma once
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "Acquisition.h"
#include "Calibration.h"
#include "DeviceIdentity.h"
#include "FaultInjector.h"
#include "FlowModel.h"
#include "LineTransmitter.h"
#include "ParameterStore.h"
#include "Registers.h"
#include "RequestParser.h"
#include "SetpointProgram.h"
#include "ValveTypes.h"

namespace valve {

struct ValveOptions {
    int baud = 19200;
    FaultOptions faults;
    Micros replyDelay{0};
    // Asked when a request is complete: is the line at the valve's speed? Empty: always.
    std::function<bool()> lineSpeedOk;
    // One line per telegram received and sent; empty: no log.
    std::function<void(const std::string&)> log;
    BcdDate today;
    uint32_t seed = 1;
};

// The virtual valve: received bytes and the time go in, the bytes the valve puts on the line by
// then come out. Everything else (a pseudo-terminal, a test) only moves bytes and time.
class Valve {
public:
    // Longest time between two calls while nothing is due.
    static constexpr Micros MAX_IDLE{50'000};
    static constexpr Micros AUTO_TUNE_TIME{4'000'000};
    // How long the communication LED keeps blinking after a telegram.
    static constexpr Micros TRAFFIC_SHOWN{3'000'000};
    // The valve's transmit buffer; sample records that do not fit are lost.
    static constexpr size_t TRANSMIT_BUFFER = 1024;

    explicit Valve(ValveOptions o = {});

    Bytes Step(std::span<const uint8_t> received, Micros now);
    // When Step must run again at the latest (never later than now + MAX_IDLE).
    Micros NextWake(Micros now) const;

    // The three-letter name of a request, or nullptr for a command the valve does not know.
    static const char* CommandName(uint8_t cmd);

    const ParameterStore& Parameters() const { return params_; }
    const FlowModel& Model() const { return model_; }
    const Acquisition& Stream() const { return acquisition_; }

private:
    using Handler = Bytes (Valve::*)(const Request&, Micros);
    struct Command {
        const char* name = nullptr;
        Handler handler = nullptr;
    };
    static const std::array<Command, 256>& Table();

    void StreamSamples(Micros now);
    void RunTimers(Micros now);
    void Handle(const Request& r, Micros now);
    void Send(const Bytes& bytes, Micros at, const char* name);
    void Log(Micros now, const char* direction, std::span<const uint8_t> bytes,
             const std::string& note) const;
    void ApplyParameters();
    bool Overtemperature(Micros now) const;
    Micros TestSegment() const;

    Bytes ParamRead(const Request& r, Micros now);
    Bytes ParamWrite(const Request& r, Micros now);
    Bytes ControllerConfigWrite(const Request& r, Micros now);
    Bytes RegisterRead(const Request& r, Micros now);
    Bytes RegisterWrite(const Request& r, Micros now);
    Bytes DeviceRecord(const Request& r, Micros now);
    Bytes Firmware(const Request& r, Micros now);
    Bytes CounterRecord(const Request& r, Micros now);
    Bytes Temperature(const Request& r, Micros now);
    Bytes Status(const Request& r, Micros now);
    Bytes Leds(const Request& r, Micros now);
    Bytes StartRoll(const Request& r, Micros now);
    Bytes StartRecording(const Request& r, Micros now);
    Bytes StopAcquisition(const Request& r, Micros now);
    Bytes StartCalibration(const Request& r, Micros now);
    Bytes CheckCalibration(const Request& r, Micros now);
    Bytes FinishCalibration(const Request& r, Micros now);
    Bytes SelectMatrixRow(const Request& r, Micros now);
    Bytes WriteMatrixRow(const Request& r, Micros now);
    Bytes ReadMatrixRow(const Request& r, Micros now);
    Bytes SerialSetpoint(const Request& r, Micros now);
    Bytes ResetSerialSetpoint(const Request& r, Micros now);
    Bytes AutoTune(const Request& r, Micros now);

    ValveOptions o_;
    RequestParser parser_;
    LineTransmitter tx_;
    FaultInjector faults_;
    ParameterStore params_;
    Registers registers_;
    DeviceIdentity identity_;
    Calibration calibration_;
    SetpointProgram setpoint_;
    FlowModel model_;
    Acquisition acquisition_;
    std::optional<Micros> autoTuneDone_;
    std::optional<Micros> lastTraffic_;
    size_t discardedLogged_ = 0;
    size_t samplesLost_ = 0;
};

} // namespace valve
