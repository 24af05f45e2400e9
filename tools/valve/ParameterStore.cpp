#include "ParameterStore.h"

namespace valve {

namespace {

struct Default {
    uint8_t readCmd;
    uint8_t factory;
    uint8_t custom;
};

// Value bytes as delivered; the custom set is the factory set after a commissioning engineer
// tuned it a little. CAR holds the flags other than bit 6 (the set choice), CCR bits 0..5.
constexpr Default DEFAULTS[] = {
    {2, 100, 120},     // KPR proportional gain 1.00 / 1.20
    {4, 5, 4},         // TIR integration time 0.25 s / 0.20 s
    {6, 0, 5},         // TDR derivation time ms
    {8, 2, 1},         // DBR dead band 0.2 % / 0.1 %
    {51, 0, 2},        // FOR forward offset %
    {53, 50, 60},      // FGR forward gain 0.50 / 0.60
    {55, 100, 80},     // ILR integration limit %
    {57, 30, 25},      // PFR PWM frequency 300 Hz / 250 Hz
    {59, 1, 1},        // CYR control cycle ms
    {101, 0x27, 0x23}, // CCR flow control / PID, auto zero on
    {18, 0, 2},        // SRR setpoint signal 0-10 V / 4-20 mA
    {97, 0x00, 0x20},  // CAR custom: autosafe on
    {24, 1, 1},        // SOR shut off on
    {49, 10, 20},      // SLR shut-off level 1.0 % / 2.0 %
    {14, 50, 50},      // OFR setpoint offset 0 %
    {16, 100, 100},    // SPR setpoint span 100 %
    {99, 0x00, 0x0C},  // CBR custom: rising + falling ramp
    {10, 0, 10},       // TRR ramp rise time s x 10
    {67, 0, 10},       // RFR ramp fall time s x 10
    {103, 0x00, 0x09}, // CDR analog out / error select
    {85, 131, 131},    // AZR auto zero of the feedback, +3
    {20, 0, 2},        // FRR analog input 2 signal
    {69, 80, 80},      // TLR overtemperature limit deg C
    {107, 0x60, 0x60}, // CFR display: flow in l/min
    {73, 100, 80},     // ASR current limit 1000 mA / 800 mA
    {75, 20, 20},      // IPR input pressure limit %
    {71, 0x00, 0x09},  // ALR delay, coil off, coil on times
    {105, 0x15, 0x15}, // CER green: digital out, yellow: communication, red: error
    {65, 0, 5},        // SDR output delay s x 10
    {26, 0, 0},        // PMR output mode
    {12, 50, 30},      // PSR window size 5.0 % / 3.0 %
    {61, 190, 180},    // LSR limit size 95 % / 90 %
    {77, 0, 20},       // IRR I-search ramp time ms
    {45, 0, 5},        // FTR I-search feedback threshold %
    {127, 126, 126},   // ZPR auto zero of the dP feedback, -2
    {63, 20, 20},      // SHR limit hysteresis 2.0 %
};

constexpr uint8_t TEST_FUNCTION_SHIFT = 6;
constexpr uint8_t PARAMETER_BITS = 0x3F;

} // namespace

ParameterStore::ParameterStore() {
    for (const Default& d : DEFAULTS) {
        sets_[FACTORY][d.readCmd] = d.factory;
        sets_[CUSTOM][d.readCmd] = d.custom;
    }
}

const ParamRow* ParameterStore::RowOfRead(uint8_t cmd) {
    for (const ParamRow& row : ParamRows())
        if (row.readCmd == cmd) return &row;
    return nullptr;
}

const ParamRow* ParameterStore::RowOfWrite(uint8_t cmd) {
    for (const ParamRow& row : ParamRows())
        if (row.writeName != nullptr && row.writeCmd == cmd) return &row;
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
    const ParamRow* row = RowOfRead(readCmd);
    const uint8_t b = Read(readCmd);
    if (row == nullptr) return b;
    switch (row->conv) {
    case Conv::Scaled:
        return b * row->readFactor;
    case Conv::Offset:
    case Conv::ReadOnly:
        return b - row->add;
    default:
        return b;
    }
}

} // namespace valve
