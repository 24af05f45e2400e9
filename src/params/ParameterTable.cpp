#include "params/ParameterTable.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "text/Texts.h"

namespace {
using enum ParamTelegram;
using enum Page;
using enum IniConv;

// ---- the parameter telegrams, in the order of a full read -------------------------------------
const std::array<ParamTelegramInfo, PARAM_TELEGRAM_COUNT> TELEGRAMS{{
    {"KPR", 2, "KPS", false},   {"TIR", 4, "TIS", false},     {"TDR", 6, "TDS", false},
    {"DBR", 8, "DBS", false},   {"FOR", 51, "FOS", false},    {"FGR", 53, "FGS", false},
    {"ILR", 55, "ILS", false},  {"PFR", 57, "PFS", false},    {"CYR", 59, "CYS", false},
    {"CCR", 101, "CCS", true},  {"SRR", 18, "SRS", false},    {"CAR", 97, "CAS", false},
    {"SOR", 24, "SOS", false},  {"SLR", 49, "SLS", false},    {"OFR", 14, "OFS", false},
    {"SPR", 16, "SPS", false},  {"CBR", 99, "CBS", false},    {"TRR", 10, "TRS", false},
    {"RFR", 67, "RFS", false},  {"CDR", 103, "CDS", false},   {"AZR", 85, nullptr, false},
    {"FRR", 20, "FRS", false},  {"TLR", 69, "TLS", false},    {"CFR", 107, "CFS", false},
    {"ASR", 73, "ASS", false},  {"IPR", 75, "IPS", false},    {"ALR", 71, "ALS", false},
    {"CER", 105, "CES", false}, {"SDR", 65, "SDS", false},    {"PMR", 26, "PMS", false},
    {"PSR", 12, "PSS", false},  {"LSR", 61, "LSS", false},    {"IRR", 77, "IRS", false},
    {"FTR", 45, "FTS", false},  {"ZPR", 127, nullptr, false}, {"SHR", 63, "SHS", false},
}};

// ---- choice lists ------------------------------------------------------------------------------
constexpr Choice OFF_ON[] = {{36, nullptr}, {35, nullptr}};
constexpr Choice NORMAL_INVERSE[] = {{216, nullptr}, {215, nullptr}};
constexpr Choice SIGNALS[] = {{0, "0 - 10 V"}, {0, "0 - 20 mA"}, {0, "4 - 20 mA"}};
constexpr Choice STRUCTURES[] = {{205, nullptr}, {206, nullptr}, {207, nullptr}, {208, nullptr},
                                 {209, nullptr}, {210, nullptr}, {211, nullptr}, {212, nullptr}};
constexpr Choice I_VALUES[] = {{346, nullptr}, {347, nullptr}};
constexpr Choice I_SEARCHES[] = {{359, nullptr}, {360, nullptr}}; // 0 is On
constexpr Choice ADJUSTMENTS[] = {{216, nullptr}, {130, nullptr}};
constexpr Choice SELECTIONS[] = {{224, nullptr}, {225, nullptr}};
constexpr Choice RAMPS[] = {{230, nullptr}, {227, nullptr}, {228, nullptr}, {229, nullptr}};
constexpr Choice ANALOG_OUTS[] = {{234, nullptr}, {235, nullptr}, {236, nullptr}, {237, nullptr},
                                  {238, nullptr}, {239, nullptr}, {240, nullptr}, {241, nullptr}};
constexpr Choice FEEDBACKS[] = {{374, nullptr}, {246, nullptr}};
constexpr Choice SOURCES[] = {{255, nullptr}, {335, nullptr}};
constexpr Choice INLET_OPTIONS[] = {{181, nullptr}, {252, nullptr}, {258, nullptr}, {259, nullptr}};
constexpr Choice FUNCTIONS[] = {{181, nullptr}, {268, nullptr}, {269, nullptr}, {271, nullptr},
                                {273, nullptr}, {274, nullptr}, {275, nullptr}, {366, nullptr}};
constexpr Choice POLARITIES[] = {{277, nullptr}, {278, nullptr}};
constexpr Choice DISPLAYS[] = {{281, nullptr}, {282, nullptr}, {283, nullptr}, {284, nullptr},
                               {285, nullptr}, {286, nullptr}, {287, nullptr}, {288, nullptr}};
constexpr Choice KEY_FUNCTIONS[] = {{181, nullptr}, {302, nullptr}, {292, nullptr}, {293, nullptr}};
constexpr Choice GREEN_LEDS[] = {{181, nullptr}, {298, nullptr}, {299, nullptr}, {300, nullptr}};
constexpr Choice YELLOW_LEDS[] = {{181, nullptr}, {301, nullptr}, {302, nullptr}, {252, nullptr}};
constexpr Choice RED_LEDS[] = {{181, nullptr}, {303, nullptr}, {304, nullptr}, {305, nullptr}};
constexpr Choice SWITCH_SOURCES[] = {{307, nullptr}, {308, nullptr}, {6, nullptr}, {309, nullptr}};
constexpr Choice OUTPUT_MODES[] = {{312, nullptr}, {313, nullptr}};
constexpr Choice ERRORS[] = {{36, nullptr},  {318, nullptr}, {319, nullptr}, {185, nullptr},
                             {320, nullptr}, {321, nullptr}, {322, nullptr}, {323, nullptr}};
constexpr Choice RANGE_DETECTIONS[] = {{36, nullptr}, {0, "> 20 mA"}, {0, "< 4 mA"}, {0, "> 20 mA + < 4 mA"}};
constexpr Choice PARAMETER_SETS[] = {{130, nullptr}, {132, nullptr}};

// ---- row builders ------------------------------------------------------------------------------
#define FIELD(name)                                                                                          \
#name, static_cast < uint16_t>(offsetof(ParameterBlock, name)),                                          \
        std::is_same_v < decltype(ParameterBlock::name), float> ? FieldType::Float : FieldType::Int

// A number: label, unit, format, limits, step, default, settings-file conversion and default text.
ParameterDescription Num(const char* name, uint16_t offset, FieldType type, Page page, unsigned label,
                         const char* unit, const char* format, double min, double max, double step,
                         double def, IniConv ini, const char* iniDefault) {
    return {name,
            offset,
            type,
            page,
            label,
            unit,
            format,
            min,
            max,
            step,
            def,
            {},
            ini,
            iniDefault,
            ParamTelegram::None,
            Wire::NotSent,
            1,
            1,
            0,
            0,
            0,
            0,
            false,
            false};
}

// A selection: the choices give the limits 0..n-1; the settings file holds the index.
ParameterDescription Sel(const char* name, uint16_t offset, FieldType type, Page page, unsigned label,
                         std::span<const Choice> choices, double def = 0) {
    ParameterDescription p =
        Num(name, offset, type, page, label, "", "", 0, static_cast<double>(choices.size()) - 1, 1, def,
            page == NotEdited ? NotInFile : Int, def == 0 ? "0" : "1");
    p.choices = choices;
    return p;
}

ParameterDescription Plain(ParameterDescription p, ParamTelegram t) {
    p.telegram = t;
    p.wire = Wire::Plain;
    return p;
}
ParameterDescription Scaled(ParameterDescription p, ParamTelegram t, double readFactor, double writeFactor,
                            double rounding) {
    p.telegram = t;
    p.wire = Wire::Scaled;
    p.readFactor = readFactor;
    p.writeFactor = writeFactor;
    p.rounding = rounding;
    return p;
}
ParameterDescription Offset(ParameterDescription p, ParamTelegram t, int32_t bias) {
    p.telegram = t;
    p.wire = Wire::Offset;
    p.add = bias;
    return p;
}
ParameterDescription Limited(ParameterDescription p, ParamTelegram t, int32_t largest,
                             Wire w = Wire::Limited) {
    p.telegram = t;
    p.wire = w;
    p.add = largest;
    return p;
}
ParameterDescription Bits(ParameterDescription p, ParamTelegram t, uint8_t shift, uint8_t width,
                          Wire w = Wire::Bits) {
    p.telegram = t;
    p.wire = w;
    p.shift = shift;
    p.width = width;
    return p;
}
ParameterDescription Held(ParameterDescription p) {
    p.heldUntilCcr = true;
    return p;
}
ParameterDescription CutToStep(ParameterDescription p) {
    p.cutToStep = true;
    return p;
}

// clang-format off
const std::array<ParameterDescription, PARAMETER_COUNT> TABLE{
    // The settings file's rows, in its order.
    Scaled(Num(FIELD(PROPORTIONAL_GAIN), Control, 197, "", "%1.2f", 0.01, 2.0, 0.01, 1.0, Fixed2, "1.00"), KPR, 0.01, 100, 0.005),
    Held(Plain(Num(FIELD(FORWARD_OFFSET), Control, 194, "%", "%d", 0, 80, 1, 0, Int, "0"), FOR)),
    CutToStep(Scaled(Num(FIELD(INTEGRATION_TIME), Control, 199, "s", "%1.2f", 0.05, 10.0, 0.05, 0.1, Fixed2, "0.1"), TIR, 0.05, 20, 0.05)),
    Held(Scaled(Num(FIELD(FORWARD_GAIN), Control, 196, "", "%1.2f", 0.0, 2.5, 0.01, 1.0, Fixed2, "1.00"), FGR, 0.01, 100, 0.05)),
    Plain(Num(FIELD(DERIVATION_TIME), Control, 198, "ms", "%d", 0, 255, 1, 0, Int, "0"), TDR),
    Plain(Num(FIELD(INTEGRATION_LIMIT), Control, 200, "%", "%d", 0, 100, 1, 0, Int, "0"), ILR),
    Scaled(Num(FIELD(DEAD_BAND), Control, 201, "%", "%1.1f", 0.1, 10.0, 0.1, 0.1, Fixed1, "0.1"), DBR, 0.1, 10, 0.05),
    Scaled(Num(FIELD(PWM_FREQUENCY), Control, 202, "Hz", "%d", 20, 2000, 10, 20, Int, "20"), PFR, 10, 0.1, 0.05),
    Plain(Num(FIELD(CONTROL_CYCLE_TIME), Control, 203, "ms", "%d", 1, 100, 1, 1, Int, "1"), CYR),
    Bits(Sel(FIELD(CONTROLLER_STRUCTURE), Control, 204, STRUCTURES), CCR, 0, 3),
    Bits(Sel(FIELD(I_VALUE), Control, 351, I_VALUES), CFR, 2, 1),
    Bits(Sel(FIELD(I_SEARCH), Control, 358, I_SEARCHES), CFR, 3, 1),
    Plain(Num(FIELD(I_SEARCH_RAMPTIME), Control, 361, "ms", "%d", 0, 255, 1, 0, Int, "0"), IRR),
    Plain(Num(FIELD(I_SEARCH_FEEDBACK_THRESHOLD), Control, 362, "%", "%d", 0, 100, 1, 0, Int, "0"), FTR),

    Limited(Sel(FIELD(SETPOINT_SIGNAL), Setpoint, 213, SIGNALS), SRR, 2),
    Bits(Sel(FIELD(SETPOINT_DIRECTION), Setpoint, 217, NORMAL_INVERSE), CAR, 4, 1),
    Limited(Sel(FIELD(SHUT_OFF), Setpoint, 218, OFF_ON), SOR, 1, Wire::LimitedFlag),
    Scaled(Num(FIELD(SHUT_OFF_LEVEL), Setpoint, 219, "%", "%1.1f", 0.0, 10.0, 0.1, 0.0, Fixed1, "0.0"), SLR, 0.1, 10, 0.05),
    Bits(Sel(FIELD(SETPOINT_ADJUSTMENT), Setpoint, 220, ADJUSTMENTS), CAR, 7, 1),
    Offset(Num(FIELD(SETPOINT_OFFSET), Setpoint, 221, "%", "%d", -50, 50, 1, -50, Int, "-50"), OFR, 50),
    Plain(Num(FIELD(SETPOINT_SPAN), Setpoint, 222, "%", "%d", 10, 150, 1, 50, Int, "50"), SPR),
    Bits(Sel(FIELD(SETPOINT_SELECTION), Setpoint, 223, SELECTIONS), CAR, 3, 1),
    Bits(Sel(FIELD(RAMP_FUNCTION), Setpoint, 226, RAMPS), CBR, 2, 2),
    Scaled(Num(FIELD(RAMP_RISE_TIME), Setpoint, 231, "s", "%1.1f", 0.0, 20.0, 0.1, 0.0, Fixed1, "0.0"), TRR, 0.1, 10, 0.05),
    Scaled(Num(FIELD(RAMP_FALL_TIME), Setpoint, 232, "s", "%1.1f", 0.0, 20.0, 0.1, 0.0, Fixed1, "0.0"), RFR, 0.1, 10, 0.05),

    Bits(Sel(FIELD(ANALOG_OUT_SELECT), AnalogInOut, 233, ANALOG_OUTS), CDR, 0, 3),
    Bits(Sel(FIELD(FEEDBACK_SELECT), AnalogInOut, 244, FEEDBACKS), CAR, 1, 1),
    Bits(Sel(FIELD(AUTO_ZERO_FEEDBACK), AnalogInOut, 247, OFF_ON, 1), CCR, 5, 1),
    Bits(Sel(FIELD(AUTO_ZERO_DP_FEEDBACK), AnalogInOut, 363, OFF_ON, 1), CFR, 4, 1),
    Plain(Sel(FIELD(ANALOG_IN_2_SIGNAL), AnalogInOut, 250, SIGNALS), FRR),
    Bits(Sel(FIELD(ANALOG_IN_2_DIRECTION), AnalogInOut, 251, NORMAL_INVERSE), CAR, 2, 1),

    Bits(Sel(FIELD(AUTOSAFE), Autosafe, 252, OFF_ON), CAR, 5, 1),
    Bits(Sel(FIELD(OVERTEMPERATURE), Autosafe, 185, OFF_ON), CAR, 0, 1),
    Plain(Num(FIELD(OVERTEMPERATURE_LIMIT), Autosafe, 253, "degrees C", "%d", 50, 120, 1, 50, Int, "50"), TLR),
    Bits(Num(FIELD(DELAY_TIME), Autosafe, 262, "s", "%d", 0, 7, 1, 0, DelaySeconds, "5"), ALR, 0, 3),
    Bits(Num(FIELD(COIL_ON_TIME), Autosafe, 263, "s", "%1.1f", 0, 3, 1, 0, CoilOnSeconds, "0.5"), ALR, 6, 2),
    Bits(Num(FIELD(COIL_OFF_TIME), Autosafe, 264, "s", "%d", 0, 7, 1, 0, CoilOffSeconds, "2"), ALR, 3, 3),
    Bits(Sel(FIELD(OPTION_INPUT_PRESSURE_SENSOR), Autosafe, 257, INLET_OPTIONS), CDR, 6, 2),
    Plain(Num(FIELD(INPUT_PRESSURE_LIMIT), Autosafe, 260, "%", "%d", 0, 100, 1, 0, Int, "0"), IPR),
    Bits(Sel(FIELD(AUTOSAFE_SOURCE), Autosafe, 254, SOURCES), CFR, 0, 1),
    Scaled(Num(FIELD(CURRENT_LIMIT_LEVEL), Autosafe, 256, "mA", "%d", 100, 2000, 10, 100, Int, "100"), ASR, 10, 0.1, 0.05),

    Bits(Sel(FIELD(SELECT_FUNCTION), DigitalInput, 266, FUNCTIONS), CBR, 5, 3),
    Bits(Sel(FIELD(SELECT_POLARITY), DigitalInput, 276, POLARITIES), CBR, 4, 1),

    Bits(Sel(FIELD(DISPLAY_SELECT), DisplayKeys, 280, DISPLAYS), CFR, 5, 3),
    Bits(Sel(FIELD(KEY_LOCK), DisplayKeys, 289, OFF_ON), CFR, 1, 1),
    Bits(Sel(FIELD(KEY_FUNCTION), DisplayKeys, 290, KEY_FUNCTIONS), CER, 6, 2),
    Bits(Sel(FIELD(LED_GREEN), DisplayKeys, 295, GREEN_LEDS), CER, 0, 2),
    Bits(Sel(FIELD(LED_YELLOW), DisplayKeys, 296, YELLOW_LEDS), CER, 2, 2),
    Bits(Sel(FIELD(LED_RED), DisplayKeys, 297, RED_LEDS), CER, 4, 2),

    Bits(Sel(FIELD(PRESSURE_SWITCH_OUTPUT_SOURCE), PressureSwitch, 306, SWITCH_SOURCES), CBR, 0, 2),
    Scaled(Num(FIELD(OUTPUT_DELAY), PressureSwitch, 310, "s", "%1.1f", 0.0, 10.0, 0.1, 0.0, Fixed1, "0.0"), SDR, 0.1, 10, 0.05),
    Plain(Sel(FIELD(OUTPUT_MODE), PressureSwitch, 311, OUTPUT_MODES), PMR),
    Scaled(Num(FIELD(WINDOW_SIZE), PressureSwitch, 314, "%", "%1.1f", 3.0, 20.0, 0.1, 3.0, Fixed1, "3.0"), PSR, 0.1, 10, 0.05),
    Scaled(Num(FIELD(LIMIT_SIZE), PressureSwitch, 315, "%", "%1.1f", 0.0, 100.0, 0.5, 0.0, Fixed1, "0.0"), LSR, 0.5, 2, 0.05),
    Scaled(Num(FIELD(LIMIT_HYSTERESIS), PressureSwitch, 316, "%", "%1.1f", 0.0, 10.0, 0.1, 0.0, Fixed1, "0.0"), SHR, 0.1, 10, 0.05),

    Bits(Sel(FIELD(ERROR_SELECT), Error, 317, ERRORS), CDR, 3, 3),
    Bits(Sel(FIELD(SETPOINT_RANGE_DETECTION), Error, 324, RANGE_DETECTIONS), CCR, 3, 2),

    // Fields the settings file does not list.
    Num(FIELD(BLOCK_VALID), NotEdited, 0, "", "%d", 0, 1, 1, 0, NotInFile, ""),
    Bits(Sel(FIELD(PARAMETER_SET), NotEdited, 0, PARAMETER_SETS), CAR, 6, 1, Wire::InvertedBit),
    Offset(Num(FIELD(AUTO_ZERO_VALUE), AnalogInOut, 248, "", "%d", -128, 127, 1, 0, NotInFile, ""), AZR, 128),
    Offset(Num(FIELD(AUTO_ZERO_DP_VALUE), AnalogInOut, 364, "", "%d", -128, 127, 1, 0, NotInFile, ""), ZPR, 128),
    // Travels only in project files and stays as it was read: in cascaded control the editor shows
    // and sends FORWARD_GAIN as the slave's gain, so nothing edits this field.
    Num(FIELD(SLAVE_GAIN), Control, 350, "", "%1.2f", 0.01, 1.0, 0.01, 0.0, NotInFile, ""),
};
// clang-format on
#undef FIELD

const char* const SECTIONS[PAGE_COUNT + 1] = {
    "",
    "CONTROL_PARAMETER",
    "SETPOINT_PARAMETER",
    "ANALOG_IN_OUT_PARAMETER",
    "AUTOSAFE_PARAMETER",
    "DIGITAL_INPUT_PARAMETER",
    "DISPLAY_KEYS_PARAMETER",
    "PRESSURE_SWITCH_PARAMETER",
    "ERROR_PARAMETER",
};

uint8_t LowByte(int64_t v) {
    return static_cast<uint8_t>(static_cast<uint64_t>(v) & 0xFF);
}

bool IsSecondsList(IniConv c) {
    return c == DelaySeconds || c == CoilOnSeconds || c == CoilOffSeconds;
}

// The bits one field contributes to its telegram's data byte.
uint8_t FieldByte(const ParameterDescription& p, const ParameterBlock& b) {
    switch (p.wire) {
    case Wire::NotSent:
        return 0;
    case Wire::Plain:
        return LowByte(GetInt(b, p.offset));
    case Wire::Scaled:
        return ScaledWriteByte(GetValue(b, p), p.writeFactor, p.rounding);
    case Wire::Offset:
        return LowByte(static_cast<int64_t>(GetInt(b, p.offset)) + p.add);
    case Wire::Limited:
        return LowByte(GetInt(b, p.offset));
    case Wire::LimitedFlag:
        return GetInt(b, p.offset) == 1 ? 1 : 0;
    case Wire::Bits: {
        const int32_t v = GetInt(b, p.offset);
        const int32_t max = (1 << p.width) - 1;
        return static_cast<uint8_t>(((v >= 1 && v <= max) ? v : 0) << p.shift);
    }
    case Wire::InvertedBit:
        return static_cast<uint8_t>((GetInt(b, p.offset) == 0 ? 1 : 0) << p.shift);
    }
    return 0;
}

void DecodeField(const ParameterDescription& p, uint8_t b, ParameterBlock& valve, ParamReadHold& hold) {
    switch (p.wire) {
    case Wire::NotSent:
        return;
    case Wire::Plain:
    case Wire::Scaled: {
        const double v = b * p.readFactor;
        if (!p.heldUntilCcr) {
            SetValue(valve, p, v);
        } else if (p.type == FieldType::Float) {
            hold.forwardGain = static_cast<float>(v);
            hold.haveForwardGain = true;
        } else {
            hold.forwardOffset = static_cast<int32_t>(v);
            hold.haveForwardOffset = true;
        }
        return;
    }
    case Wire::Offset:
        SetInt(valve, p.offset, static_cast<int32_t>(b) - p.add);
        return;
    case Wire::Limited:
    case Wire::LimitedFlag:
        if (b <= p.add) SetInt(valve, p.offset, b);
        return;
    case Wire::Bits:
        SetInt(valve, p.offset, (b >> p.shift) & ((1 << p.width) - 1));
        return;
    case Wire::InvertedBit:
        SetInt(valve, p.offset, ((b >> p.shift) & 1) ? 0 : 1);
        return;
    }
}
} // namespace

const char* PageSection(Page p) {
    return SECTIONS[static_cast<int>(p)];
}

const std::array<ParamTelegramInfo, PARAM_TELEGRAM_COUNT>& ParamTelegrams() {
    return TELEGRAMS;
}

const ParamTelegramInfo& TelegramInfo(ParamTelegram t) {
    return TELEGRAMS[static_cast<size_t>(t)];
}

std::span<const ParameterDescription, PARAMETER_COUNT> ParameterTable() {
    return TABLE;
}

std::span<const ParameterDescription, INI_PARAMETER_COUNT> IniParameters() {
    return std::span<const ParameterDescription, PARAMETER_COUNT>(TABLE).first<INI_PARAMETER_COUNT>();
}

const ParameterDescription* FindParameter(const std::string& name) {
    for (const auto& p : TABLE)
        if (name == p.name) return &p;
    return nullptr;
}

int IniIndex(const ParameterDescription& p) {
    const auto rows = IniParameters();
    for (size_t i = 0; i < rows.size(); ++i)
        if (&rows[i] == &p) return static_cast<int>(i);
    return -1;
}

// The record is accessed by offset through memcpy: the slots are little-endian on every target we
// build for, and memcpy keeps the compiler's aliasing rules intact.
int32_t GetInt(const ParameterBlock& b, uint16_t offset) {
    int32_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&b) + offset, 4);
    return v;
}

float GetFloat(const ParameterBlock& b, uint16_t offset) {
    float v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&b) + offset, 4);
    return v;
}

void SetInt(ParameterBlock& b, uint16_t offset, int32_t v) {
    std::memcpy(reinterpret_cast<uint8_t*>(&b) + offset, &v, 4);
}

void SetFloat(ParameterBlock& b, uint16_t offset, float v) {
    std::memcpy(reinterpret_cast<uint8_t*>(&b) + offset, &v, 4);
}

double GetValue(const ParameterBlock& b, const ParameterDescription& p) {
    return p.type == FieldType::Float ? static_cast<double>(GetFloat(b, p.offset)) : GetInt(b, p.offset);
}

void SetValue(ParameterBlock& b, const ParameterDescription& p, double v) {
    if (p.type == FieldType::Float)
        SetFloat(b, p.offset, static_cast<float>(v));
    else
        SetInt(b, p.offset, static_cast<int32_t>(std::lround(v)));
}

std::string FormatValue(const ParameterBlock& b, const ParameterDescription& p) {
    char buf[64];
    if (p.type == FieldType::Float)
        std::snprintf(buf, sizeof buf, p.format, static_cast<double>(GetFloat(b, p.offset)));
    else
        std::snprintf(buf, sizeof buf, "%d", GetInt(b, p.offset));
    return buf;
}

bool HasChoices(const ParameterDescription& p) {
    return !p.choices.empty() || IsSecondsList(p.ini);
}

int ChoiceCount(const ParameterDescription& p) {
    if (IsSecondsList(p.ini)) return static_cast<int>(p.max) + 1;
    return static_cast<int>(p.choices.size());
}

double IndexSeconds(IniConv conv, int64_t index) {
    switch (conv) {
    case DelaySeconds:
        return static_cast<double>(5 + 5 * index);
    case CoilOffSeconds:
        return static_cast<double>(2 + 2 * index);
    case CoilOnSeconds:
        // 0.5 x 2^index; an index far outside the list must not overflow.
        return index < -60 || index > 60 ? 0.5 : std::ldexp(0.5, static_cast<int>(index));
    default:
        return 0;
    }
}

std::string ChoiceText(const ParameterDescription& p, int32_t index, const TextSource& texts) {
    if (index < 0 || index >= ChoiceCount(p)) return "";
    if (IsSecondsList(p.ini)) {
        char buf[32];
        const double s = IndexSeconds(p.ini, index);
        if (p.ini == CoilOnSeconds)
            std::snprintf(buf, sizeof buf, p.format, s);
        else
            std::snprintf(buf, sizeof buf, p.format, static_cast<int>(s));
        return buf;
    }
    const Choice& c = p.choices[static_cast<size_t>(index)];
    return c.textId != 0 ? texts.Get(c.textId) : std::string(c.literal);
}

ParameterBlock DefaultParameterBlock() {
    ParameterBlock b{};
    for (const auto& p : TABLE)
        SetValue(b, p, p.def);
    return b;
}

bool SentByWrite(const ParameterDescription& p) {
    return p.telegram != ParamTelegram::None && p.wire != Wire::NotSent &&
           TelegramInfo(p.telegram).writeName != nullptr;
}

double ValveValue(const ParameterDescription& p, double value) {
    // A float that stands for a decimal half may lie a little below it (1.15f is 1.1499999).
    constexpr double STEP_TOLERANCE = 1e-4;
    constexpr double CUT_TOLERANCE = 0.1;
    if (HasChoices(p) || !std::isfinite(value) || !(p.step > 0)) return value;
    const double slack = p.step / 1000;
    if (value < p.min - slack || value > p.max + slack) return value;
    const double steps = value / p.step;
    const double whole = p.cutToStep
                             ? std::floor(steps + CUT_TOLERANCE)
                             : std::copysign(std::floor(std::fabs(steps) + 0.5 + STEP_TOLERANCE), steps);
    return whole * p.step;
}

bool RoundToValveSteps(ParameterBlock& b) {
    const ParameterBlock before = b;
    for (const auto& p : TABLE) {
        if (!SentByWrite(p) || HasChoices(p)) continue;
        const double v = GetValue(b, p);
        const double r = ValveValue(p, v);
        // Only a value that moves is stored again: a NaN keeps its bits.
        if (r != v) SetValue(b, p, r);
    }
    return std::memcmp(&before, &b, sizeof b) != 0;
}

uint8_t ScaledWriteByte(double value, double factor, double rounding) {
    const double v = value * factor + rounding;
    if (!std::isfinite(v) || std::fabs(v) > 9.0e15) return 0;
    return LowByte(static_cast<int64_t>(std::trunc(v)));
}

uint8_t ParamTelegramByte(ParamTelegram t, const ParameterBlock& edit) {
    uint8_t byte = 0;
    for (const auto& p : TABLE)
        if (p.telegram == t) byte = static_cast<uint8_t>(byte | FieldByte(p, edit));
    return byte;
}

void DecodeParamTelegram(ParamTelegram t, uint8_t b, ParameterBlock& valve, ParamReadHold& hold) {
    for (const auto& p : TABLE)
        if (p.telegram == t) DecodeField(p, b, valve, hold);
    if (t == ParamTelegram::CCR) {
        if (hold.haveForwardOffset) valve.FORWARD_OFFSET = hold.forwardOffset;
        if (hold.haveForwardGain) valve.FORWARD_GAIN = hold.forwardGain;
        hold = ParamReadHold{};
    }
}
