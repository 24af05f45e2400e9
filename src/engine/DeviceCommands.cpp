#include "engine/DeviceCommands.h"

#include <cmath>
#include <cstddef>

namespace {
#define OFF(field) static_cast<uint16_t>(offsetof(ParameterBlock, field))
#define G(field, shift, width)                                                                               \
    BitGroup {                                                                                               \
        OFF(field), shift, width, false                                                                      \
    }

ParamRow Plain(const char* r, uint8_t rc, const char* w, uint8_t wc, uint16_t off) {
    return {r, rc, w, wc, Conv::Plain, off, 1, 1, 0, 0, false, false, false, 0, {}};
}
ParamRow Scaled(const char* r, uint8_t rc, const char* w, uint8_t wc, uint16_t off, double rf, double wf,
                double rounding) {
    return {r, rc, w, wc, Conv::Scaled, off, rf, wf, rounding, 0, false, false, false, 0, {}};
}
ParamRow Bits(const char* r, uint8_t rc, const char* w, uint8_t wc, std::initializer_list<BitGroup> groups) {
    ParamRow row{r, rc, w, wc, Conv::Bits, 0, 1, 1, 0, 0, false, false, false, 0, {}};
    for (const BitGroup& g : groups)
        row.groups[row.groupCount++] = g;
    return row;
}
ParamRow Held(ParamRow row) {
    row.heldUntilCcr = true;
    return row;
}

const std::array<ParamRow, PARAM_ROW_COUNT> ROWS = [] {
    ParamRow ccr =
        Bits("CCR", 101, "CCS", 100,
             {G(CONTROLLER_STRUCTURE, 0, 3), G(SETPOINT_RANGE_DETECTION, 3, 2), G(AUTO_ZERO_FEEDBACK, 5, 1)});
    ccr.testFunctionBits = true;
    ParamRow srr{"SRR", 18,    "SRS", 17, Conv::Limited, OFF(SETPOINT_SIGNAL), 1, 1, 0, 2, false,
                 false, false, 0,     {}};
    ParamRow sor{"SOR", 24, "SOS", 23, Conv::Limited, OFF(SHUT_OFF), 1, 1, 0, 1, true, false, false, 0, {}};
    ParamRow ofr{"OFR", 14,    "OFS", 13, Conv::Offset, OFF(SETPOINT_OFFSET), 1, 1, 0, 50, false,
                 false, false, 0,     {}};
    ParamRow azr{"AZR", 85,    nullptr, 0, Conv::ReadOnly, OFF(AUTO_ZERO_VALUE), 1, 1, 0, 128, false,
                 false, false, 0,       {}};
    ParamRow zpr{"ZPR", 127,   nullptr, 0, Conv::ReadOnly, OFF(AUTO_ZERO_DP_VALUE), 1, 1, 0, 128, false,
                 false, false, 0,       {}};
    return std::array<ParamRow, PARAM_ROW_COUNT>{
        Scaled("KPR", 2, "KPS", 1, OFF(PROPORTIONAL_GAIN), 0.01, 100, 0.005),
        Scaled("TIR", 4, "TIS", 3, OFF(INTEGRATION_TIME), 0.05, 20, 0.05),
        Plain("TDR", 6, "TDS", 5, OFF(DERIVATION_TIME)),
        Scaled("DBR", 8, "DBS", 7, OFF(DEAD_BAND), 0.1, 10, 0.05),
        Held(Plain("FOR", 51, "FOS", 50, OFF(FORWARD_OFFSET))),
        Held(Scaled("FGR", 53, "FGS", 52, OFF(FORWARD_GAIN), 0.01, 100, 0.05)),
        Plain("ILR", 55, "ILS", 54, OFF(INTEGRATION_LIMIT)),
        Scaled("PFR", 57, "PFS", 56, OFF(PWM_FREQUENCY), 10, 0.1, 0.05),
        Plain("CYR", 59, "CYS", 58, OFF(CONTROL_CYCLE_TIME)),
        ccr,
        srr,
        Bits("CAR", 97, "CAS", 96,
             {G(OVERTEMPERATURE, 0, 1), G(FEEDBACK_SELECT, 1, 1), G(ANALOG_IN_2_DIRECTION, 2, 1),
              G(SETPOINT_SELECTION, 3, 1), G(SETPOINT_DIRECTION, 4, 1), G(AUTOSAFE, 5, 1),
              BitGroup{OFF(PARAMETER_SET), 6, 1, true}, G(SETPOINT_ADJUSTMENT, 7, 1)}),
        sor,
        Scaled("SLR", 49, "SLS", 48, OFF(SHUT_OFF_LEVEL), 0.1, 10, 0.05),
        ofr,
        Plain("SPR", 16, "SPS", 15, OFF(SETPOINT_SPAN)),
        Bits("CBR", 99, "CBS", 98,
             {G(PRESSURE_SWITCH_OUTPUT_SOURCE, 0, 2), G(RAMP_FUNCTION, 2, 2), G(SELECT_POLARITY, 4, 1),
              G(SELECT_FUNCTION, 5, 3)}),
        Scaled("TRR", 10, "TRS", 9, OFF(RAMP_RISE_TIME), 0.1, 10, 0.05),
        Scaled("RFR", 67, "RFS", 66, OFF(RAMP_FALL_TIME), 0.1, 10, 0.05),
        Bits("CDR", 103, "CDS", 102,
             {G(ANALOG_OUT_SELECT, 0, 3), G(ERROR_SELECT, 3, 3), G(OPTION_INPUT_PRESSURE_SENSOR, 6, 2)}),
        azr,
        Plain("FRR", 20, "FRS", 19, OFF(ANALOG_IN_2_SIGNAL)),
        Plain("TLR", 69, "TLS", 68, OFF(OVERTEMPERATURE_LIMIT)),
        Bits("CFR", 107, "CFS", 106,
             {G(AUTOSAFE_SOURCE, 0, 1), G(KEY_LOCK, 1, 1), G(I_VALUE, 2, 1), G(I_SEARCH, 3, 1),
              G(AUTO_ZERO_DP_FEEDBACK, 4, 1), G(DISPLAY_SELECT, 5, 3)}),
        Scaled("ASR", 73, "ASS", 72, OFF(CURRENT_LIMIT_LEVEL), 10, 0.1, 0.05),
        Plain("IPR", 75, "IPS", 74, OFF(INPUT_PRESSURE_LIMIT)),
        Bits("ALR", 71, "ALS", 70, {G(DELAY_TIME, 0, 3), G(COIL_OFF_TIME, 3, 3), G(COIL_ON_TIME, 6, 2)}),
        Bits("CER", 105, "CES", 104,
             {G(LED_GREEN, 0, 2), G(LED_YELLOW, 2, 2), G(LED_RED, 4, 2), G(KEY_FUNCTION, 6, 2)}),
        Scaled("SDR", 65, "SDS", 64, OFF(OUTPUT_DELAY), 0.1, 10, 0.05),
        Plain("PMR", 26, "PMS", 25, OFF(OUTPUT_MODE)),
        Scaled("PSR", 12, "PSS", 11, OFF(WINDOW_SIZE), 0.1, 10, 0.05),
        Scaled("LSR", 61, "LSS", 60, OFF(LIMIT_SIZE), 0.5, 2, 0.05),
        Plain("IRR", 77, "IRS", 76, OFF(I_SEARCH_RAMPTIME)),
        Plain("FTR", 45, "FTS", 44, OFF(I_SEARCH_FEEDBACK_THRESHOLD)),
        zpr,
        Scaled("SHR", 63, "SHS", 62, OFF(LIMIT_HYSTERESIS), 0.1, 10, 0.05),
    };
}();
#undef G
#undef OFF

const ParameterField& FieldAt(uint16_t offset) {
    for (const auto& f : ParameterFields())
        if (f.offset == offset) return f;
    return ParameterFields()[0];
}

bool IsFloat(uint16_t offset) {
    return FieldAt(offset).type == FieldType::Float;
}

double FieldValue(const ParameterBlock& b, uint16_t offset) {
    return IsFloat(offset) ? static_cast<double>(GetFloat(b, offset)) : GetInt(b, offset);
}

void StoreValue(ParameterBlock& b, uint16_t offset, double v) {
    if (IsFloat(offset))
        SetFloat(b, offset, static_cast<float>(v));
    else
        SetInt(b, offset, static_cast<int32_t>(std::lround(v)));
}

uint8_t LowByte(int64_t v) {
    return static_cast<uint8_t>(static_cast<uint64_t>(v) & 0xFF);
}
} // namespace

const std::array<ParamRow, PARAM_ROW_COUNT>& ParamRows() {
    return ROWS;
}

uint8_t ScaledWriteByte(double value, double factor, double rounding) {
    const double v = value * factor + rounding;
    if (!std::isfinite(v) || std::fabs(v) > 9.0e15) return 0;
    return LowByte(static_cast<int64_t>(std::trunc(v)));
}

uint8_t PackBits(const ParamRow& row, const ParameterBlock& b) {
    uint8_t byte = 0;
    for (uint8_t i = 0; i < row.groupCount; ++i) {
        const BitGroup& g = row.groups[i];
        const int32_t v = GetInt(b, g.offset);
        const int32_t max = (1 << g.width) - 1;
        int32_t bits;
        if (g.inverted)
            bits = v == 0 ? 1 : 0;
        else
            bits = (v >= 1 && v <= max) ? v : 0;
        byte = static_cast<uint8_t>(byte | (bits << g.shift));
    }
    return byte;
}

void UnpackBits(const ParamRow& row, uint8_t byte, ParameterBlock& b) {
    for (uint8_t i = 0; i < row.groupCount; ++i) {
        const BitGroup& g = row.groups[i];
        const int32_t bits = (byte >> g.shift) & ((1 << g.width) - 1);
        SetInt(b, g.offset, g.inverted ? (bits ? 0 : 1) : bits);
    }
}

uint8_t ControllerConfigByte(const ParameterBlock& edit, int32_t testFunctionSelection) {
    const ParamRow& ccr = ROWS[9];
    const int32_t tf = (testFunctionSelection >= 1 && testFunctionSelection <= 3) ? testFunctionSelection : 0;
    return static_cast<uint8_t>(PackBits(ccr, edit) | (tf << 6));
}

uint8_t ConfigurationByte(const ParameterBlock& edit) {
    return PackBits(ROWS[11], edit);
}

uint8_t ParamWriteData(const ParamRow& row, const ParameterBlock& edit, const TestFunctionData& tf) {
    switch (row.conv) {
    case Conv::Plain:
        return LowByte(GetInt(edit, row.offset));
    case Conv::Scaled:
        return ScaledWriteByte(FieldValue(edit, row.offset), row.writeFactor, row.rounding);
    case Conv::Offset:
        return LowByte(static_cast<int64_t>(GetInt(edit, row.offset)) + row.add);
    case Conv::Limited:
        if (row.writeAsFlag) return GetInt(edit, row.offset) == 1 ? 1 : 0;
        return LowByte(GetInt(edit, row.offset));
    case Conv::Bits:
        return row.testFunctionBits ? ControllerConfigByte(edit, tf.Selection) : PackBits(row, edit);
    case Conv::ReadOnly:
        return 0;
    }
    return 0;
}

void ParamDecode(const ParamRow& row, uint8_t b, ParameterBlock& valve, ParamReadHold& hold,
                 TestFunctionData& tf) {
    switch (row.conv) {
    case Conv::Plain:
    case Conv::Scaled: {
        const double v = b * row.readFactor;
        if (!row.heldUntilCcr) {
            StoreValue(valve, row.offset, v);
        } else if (IsFloat(row.offset)) {
            hold.forwardGain = static_cast<float>(v);
            hold.haveForwardGain = true;
        } else {
            hold.forwardOffset = static_cast<int32_t>(v);
            hold.haveForwardOffset = true;
        }
        break;
    }
    case Conv::Offset:
    case Conv::ReadOnly:
        SetInt(valve, row.offset, static_cast<int32_t>(b) - row.add);
        break;
    case Conv::Limited:
        if (b <= row.add) SetInt(valve, row.offset, b);
        break;
    case Conv::Bits:
        UnpackBits(row, b, valve);
        if (row.testFunctionBits) {
            if (hold.haveForwardOffset) valve.FORWARD_OFFSET = hold.forwardOffset;
            if (hold.haveForwardGain) valve.FORWARD_GAIN = hold.forwardGain;
            hold = ParamReadHold{};
            tf.ReadBack = (b >> 6) & 3;
            tf.ReadBackValid = 1;
        }
        break;
    }
}

void DecodeDeviceRecord(const uint8_t* r, DeviceInfo& info) {
    for (int i = 0; i < 3; ++i) {
        info.PartNumberDigit[2 * i] = r[1 + i] >> 4;
        info.PartNumberDigit[2 * i + 1] = r[1 + i] & 0x0F;
    }
    info.PartNumberVariant = (r[4] << 8) | r[5];
    info.SerialNumber = (r[6] << 16) | (r[7] << 8) | r[8];
    info.ProductionYear = r[9];
    info.ProductionWeek = r[10];
}

void DecodeCounterRecord(const uint8_t* r, DeviceInfo& info) {
    info.OperationCounter = (r[1] << 16) | (r[2] << 8) | r[3];
    info.CalibrationCounter = r[4];
    info.CalibrationYear = r[5];
    info.CalibrationMonth = r[6];
    info.CalibrationDay = r[7];
    info.CalibrationStatus = r[8];
}

void DecodeStatusByte(uint8_t b, StatusInfo& s) {
    auto bit = [b](int n) { return (b >> n) & 1; };
    s.Overvoltage = bit(7) ? 2 : 1;
    s.Undervoltage = bit(6) ? 2 : 1;
    s.Overtemperature = bit(5) ? 2 : 1;
    s.DigitalOutput = bit(4) ? 1 : 2;
    s.Jumper = bit(3) ? 1 : 2;
    s.KeyLock = bit(2) ? 2 : 1;
    s.ManualSetpoint = bit(1) ? 2 : 1;
    s.Reserve = bit(0) ? 2 : 1;
}

void DecodeLedByte(uint8_t b, StatusInfo& s) {
    s.LedRed = (b >> 4) & 3;
    s.LedGreen = b & 3;
    s.LedYellow = (b >> 2) & 3;
}
