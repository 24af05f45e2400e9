#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "params/ParameterBlock.h"

class TextSource;

// The one description of every parameter: where it lies in the block, where the editor shows it,
// its limits and default, its choice texts, its settings-file key and how it travels on the line.
// The engine, QLN_para.ini, the editor pages, printing and qln-cli all read this table; adding a
// parameter means adding one row.

enum class FieldType : uint8_t { Int, Float };

// The editor page (tab) that shows a parameter; also the settings file's section of its rows.
enum class Page : uint8_t {
    NotEdited, // read-only values, the set choice, the valid flag
    Control,
    Setpoint,
    AnalogInOut,
    Autosafe,
    DigitalInput,
    DisplayKeys,
    PressureSwitch,
    Error,
};
constexpr int PAGE_COUNT = 8;
// "CONTROL_PARAMETER" ... "ERROR_PARAMETER"; "" for Page::NotEdited.
const char* PageSection(Page p);

// How QLN_para.ini holds the value.
enum class IniConv : uint8_t {
    NotInFile,      // not in the file
    Int,            // "%d"
    Fixed2,         // "%1.2f"
    Fixed1,         // "%1.1f"
    DelaySeconds,   // the block holds an index; the file 5 + 5 x index seconds, "%d"
    CoilOnSeconds,  // index; 0.5 x 2^index seconds, "%1.1f"
    CoilOffSeconds, // index; 2 + 2 x index seconds, "%d"
};

// The parameter telegrams in the order a full read sends them. Each names the read command; the
// write command is one less (none for AZR and ZPR, which the valve only reports).
enum class ParamTelegram : uint8_t {
    KPR,
    TIR,
    TDR,
    DBR,
    FOR,
    FGR,
    ILR,
    PFR,
    CYR,
    CCR,
    SRR,
    CAR,
    SOR,
    SLR,
    OFR,
    SPR,
    CBR,
    TRR,
    RFR,
    CDR,
    AZR,
    FRR,
    TLR,
    CFR,
    ASR,
    IPR,
    ALR,
    CER,
    SDR,
    PMR,
    PSR,
    LSR,
    IRR,
    FTR,
    ZPR,
    SHR,
    None,
};
constexpr int PARAM_TELEGRAM_COUNT = static_cast<int>(ParamTelegram::None);

struct ParamTelegramInfo {
    const char* readName;
    uint8_t readCmd;
    const char* writeName;    // nullptr: never written
    bool carriesTestFunction; // bits 6..7 belong to the test function, not to the block
    uint8_t WriteCmd() const { return static_cast<uint8_t>(readCmd - 1); }
};
const std::array<ParamTelegramInfo, PARAM_TELEGRAM_COUNT>& ParamTelegrams();
const ParamTelegramInfo& TelegramInfo(ParamTelegram t);

// How one field sits in its telegram's value byte b.
enum class Wire : uint8_t {
    NotSent,     // SLAVE_GAIN, the valid flag
    Plain,       // b; sends the value's low 8 bits
    Scaled,      // b x readFactor; sends value x writeFactor + rounding, truncated, low 8 bits
    Offset,      // b - add; sends value + add (read-only telegrams: never sent)
    Limited,     // b when b <= add, else the field keeps its value; sends the value
    LimitedFlag, // as Limited; sends 1 when the field is 1, else 0
    Bits,        // bits shift..shift+width-1 as an unsigned number; sent when 1..2^width-1, else 0
    InvertedBit, // one bit, set exactly when the field is 0
};

// One choice of a selection: a text of the string table, or a literal the program never translates.
struct Choice {
    unsigned textId;
    const char* literal;
};

struct ParameterDescription {
    const char* name; // the field's name, also the settings file's key
    uint16_t offset;
    FieldType type;
    Page page;
    unsigned labelText; // text id of the editor's label or group; 0 none
    const char* unit;   // "" for choices that carry none
    const char* format; // printf format of the value (of the seconds, for the seconds lists)
    double min, max, step;
    double def;
    std::span<const Choice> choices; // empty: a number (the seconds lists generate theirs)
    IniConv ini;
    const char* iniDefault; // the value text used when VALUE_<name> is missing
    ParamTelegram telegram;
    Wire wire;
    double readFactor, writeFactor, rounding;
    int32_t add;          // Offset: the bias; Limited: the largest accepted value
    uint8_t shift, width; // Bits, InvertedBit
    bool heldUntilCcr;    // FOR and FGR take effect with the CCR reply of the same read
    bool cutToStep;       // a value is cut down to its step, not rounded (Integration Time)
};

// The settings file's 57 parameters first, in the file's order (VisibilityFlags[i] belongs to row
// i), then the fields the file does not list.
constexpr int INI_PARAMETER_COUNT = 57;
constexpr int PARAMETER_COUNT = 62;
std::span<const ParameterDescription, PARAMETER_COUNT> ParameterTable();
std::span<const ParameterDescription, INI_PARAMETER_COUNT> IniParameters();
const ParameterDescription* FindParameter(const std::string& name);
// The row's index among the settings file's rows (its VisibilityFlags index), -1 for a field the
// file does not list.
int IniIndex(const ParameterDescription& p);

// ---- field access ----------------------------------------------------------------------------
int32_t GetInt(const ParameterBlock& b, uint16_t offset);
float GetFloat(const ParameterBlock& b, uint16_t offset);
void SetInt(ParameterBlock& b, uint16_t offset, int32_t v);
void SetFloat(ParameterBlock& b, uint16_t offset, float v);
double GetValue(const ParameterBlock& b, const ParameterDescription& p);
// Stores v, rounded to the nearest integer for an int field.
void SetValue(ParameterBlock& b, const ParameterDescription& p, double v);
// The value in its display format ("1.00", "-50"), without unit.
std::string FormatValue(const ParameterBlock& b, const ParameterDescription& p);

// ---- choices ---------------------------------------------------------------------------------
bool HasChoices(const ParameterDescription& p);
// How many choices the parameter offers (the seconds lists included).
int ChoiceCount(const ParameterDescription& p);
// The text of choice `index` ("PI-Controller", "10" for a delay time), "" outside the list.
std::string ChoiceText(const ParameterDescription& p, int32_t index, const TextSource& texts);
// The seconds of a seconds list's index: 5 + 5i, 0.5 x 2^i, 2 + 2i; 0 for other parameters.
double IndexSeconds(IniConv conv, int64_t index);

// A block holding every default.
ParameterBlock DefaultParameterBlock();

// ---- what the valve can hold -----------------------------------------------------------------
// Whether a parameter write sends the field (not SLAVE_GAIN, not the values the valve only reports).
bool SentByWrite(const ParameterDescription& p);
// The value of a number as the valve will hold it: the nearest whole number of the field's steps
// (0.1 for a one-decimal field, 0.01 for the gains, 10 for the PWM frequency and the current
// limit), halves away from zero. The value is scaled to steps with a ten-thousandth of a step of
// tolerance, so the decimal value counts, not its float: 2.25 gives 2.3, 1.27 gives 1.3, 25 Hz
// gives 30 Hz. Integration Time is cut down to its 0.05 s instead, with a tenth of a step of
// tolerance (0.146 gives 0.15, 0.14 gives 0.10). Choices, values outside the field's limits and
// values that are no number come back as they are: a write refuses them, it never moves them.
double ValveValue(const ParameterDescription& p, double value);
// Every number a write sends, as ValveValue gives it. Returns true when a value changed.
bool RoundToValveSteps(ParameterBlock& b);

// ---- telegrams -------------------------------------------------------------------------------
// Values of FOR and FGR waiting for the CCR reply of the same read.
struct ParamReadHold {
    bool haveForwardOffset = false;
    bool haveForwardGain = false;
    int32_t forwardOffset = 0;
    float forwardGain = 0;
};

// The data byte of a write telegram from the working block (a CCS's bits 6..7 left 0).
uint8_t ParamTelegramByte(ParamTelegram t, const ParameterBlock& edit);
// Stores a read reply's value byte into the block last read from the valve.
void DecodeParamTelegram(ParamTelegram t, uint8_t b, ParameterBlock& valve, ParamReadHold& hold);
// value x factor + rounding, truncated toward zero, low 8 bits; non-finite values send 0.
uint8_t ScaledWriteByte(double value, double factor, double rounding);
