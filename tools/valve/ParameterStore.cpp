#include "ParameterStore.h"

namespace valve {

namespace {

// The valve's parameter commands, as its firmware knows them: the read command, its name, the
// write command's name (the write command is one less; none for the two auto zero values, which
// the valve only reports), how the byte reads as a value (value = byte x factor + bias), and the
// bytes delivered in the factory and the custom set. The custom set is the factory set after a
// commissioning engineer tuned it a little. CAR holds the flags other than bit 6 (the set choice),
// CCR bits 0..5. Written from the command list, apart from the program's own table on purpose.
constexpr ParameterCommand COMMANDS[] = {
    {"KPR", 2, "KPS", 0.01, 0, 100, 120},     // proportional gain 1.00 / 1.20
    {"TIR", 4, "TIS", 0.05, 0, 5, 4},         // integration time 0.25 s / 0.20 s
    {"TDR", 6, "TDS", 1, 0, 0, 5},            // derivation time ms
    {"DBR", 8, "DBS", 0.1, 0, 2, 1},          // dead band 0.2 % / 0.1 %
    {"FOR", 51, "FOS", 1, 0, 0, 2},           // forward offset %
    {"FGR", 53, "FGS", 0.01, 0, 50, 60},      // forward gain 0.50 / 0.60
    {"ILR", 55, "ILS", 1, 0, 100, 80},        // integration limit %
    {"PFR", 57, "PFS", 10, 0, 30, 25},        // PWM frequency 300 Hz / 250 Hz
    {"CYR", 59, "CYS", 1, 0, 1, 1},           // control cycle ms
    {"CCR", 101, "CCS", 1, 0, 0x27, 0x23},    // flow control / PID, auto zero on
    {"SRR", 18, "SRS", 1, 0, 0, 2},           // setpoint signal 0-10 V / 4-20 mA
    {"CAR", 97, "CAS", 1, 0, 0x00, 0x20},     // custom: autosafe on
    {"SOR", 24, "SOS", 1, 0, 1, 1},           // shut off on
    {"SLR", 49, "SLS", 0.1, 0, 10, 20},       // shut-off level 1.0 % / 2.0 %
    {"OFR", 14, "OFS", 1, -50, 50, 50},       // setpoint offset 0 %
    {"SPR", 16, "SPS", 1, 0, 100, 100},       // setpoint span 100 %
    {"CBR", 99, "CBS", 1, 0, 0x00, 0x0C},     // custom: rising + falling ramp
    {"TRR", 10, "TRS", 0.1, 0, 0, 10},        // ramp rise time s
    {"RFR", 67, "RFS", 0.1, 0, 0, 10},        // ramp fall time s
    {"CDR", 103, "CDS", 1, 0, 0x00, 0x09},    // analog out / error select
    {"AZR", 85, nullptr, 1, -128, 131, 131},  // auto zero of the feedback, +3
    {"FRR", 20, "FRS", 1, 0, 0, 2},           // analog input 2 signal
    {"TLR", 69, "TLS", 1, 0, 80, 80},         // overtemperature limit deg C
    {"CFR", 107, "CFS", 1, 0, 0x60, 0x60},    // display: flow in l/min
    {"ASR", 73, "ASS", 10, 0, 100, 80},       // current limit 1000 mA / 800 mA
    {"IPR", 75, "IPS", 1, 0, 20, 20},         // input pressure limit %
    {"ALR", 71, "ALS", 1, 0, 0x00, 0x09},     // delay, coil off, coil on times
    {"CER", 105, "CES", 1, 0, 0x15, 0x15},    // green: digital out, yellow: communication, red: error
    {"SDR", 65, "SDS", 0.1, 0, 0, 5},         // output delay s
    {"PMR", 26, "PMS", 1, 0, 0, 0},           // output mode
    {"PSR", 12, "PSS", 0.1, 0, 50, 30},       // window size 5.0 % / 3.0 %
    {"LSR", 61, "LSS", 0.5, 0, 190, 180},     // limit size 95 % / 90 %
    {"IRR", 77, "IRS", 1, 0, 0, 20},          // I-search ramp time ms
    {"FTR", 45, "FTS", 1, 0, 0, 5},           // I-search feedback threshold %
    {"ZPR", 127, nullptr, 1, -128, 126, 126}, // auto zero of the dP feedback, -2
    {"SHR", 63, "SHS", 0.1, 0, 20, 20},       // limit hysteresis 2.0 %
};

constexpr uint8_t TEST_FUNCTION_SHIFT = 6;
constexpr uint8_t PARAMETER_BITS = 0x3F;

} // namespace

ParameterStore::ParameterStore() {
    for (const ParameterCommand& c : COMMANDS) {
        sets_[FACTORY][c.readCmd] = c.factory;
        sets_[CUSTOM][c.readCmd] = c.custom;
    }
}

std::span<const ParameterCommand> ParameterStore::Commands() {
    return COMMANDS;
}

const ParameterCommand* ParameterStore::OfRead(uint8_t cmd) {
    for (const ParameterCommand& c : COMMANDS)
        if (c.readCmd == cmd) return &c;
    return nullptr;
}

uint8_t ParameterStore::Read(uint8_t readCmd) const {
    if (readCmd == CAR_CMD)
        return static_cast<uint8_t>((Raw(CAR_CMD) & ~CUSTOM_SET_BIT) | (custom_ ? CUSTOM_SET_BIT : 0));
    if (readCmd == CCR_CMD)
        return static_cast<uint8_t>((Raw(CCR_CMD) & PARAMETER_BITS) | (testFunction_ << TEST_FUNCTION_SHIFT));
    return Raw(readCmd);
}

void ParameterStore::Write(uint8_t writeCmd, uint8_t data) {
    const uint8_t readCmd = static_cast<uint8_t>(writeCmd + 1);
    if (writeCmd == CAS_CMD) {
        // The set is switched first; the other flags belong to the set now selected.
        custom_ = (data & CUSTOM_SET_BIT) != 0;
        SetRaw(readCmd, static_cast<uint8_t>(data & ~CUSTOM_SET_BIT));
        return;
    }
    if (writeCmd == CCS_CMD) {
        testFunction_ = data >> TEST_FUNCTION_SHIFT;
        SetRaw(readCmd, static_cast<uint8_t>(data & PARAMETER_BITS));
        return;
    }
    SetRaw(readCmd, data);
}

double ParameterStore::Value(uint8_t readCmd) const {
    const ParameterCommand* c = OfRead(readCmd);
    const uint8_t b = Read(readCmd);
    return c == nullptr ? b : b * c->factor + c->bias;
}

} // namespace valve
