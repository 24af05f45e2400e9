#include "engine/DeviceCommands.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

const ParameterDescription& Field(const char* name) {
    const ParameterDescription* f = FindParameter(name);
    EXPECT_NE(f, nullptr) << name;
    return f ? *f : ParameterTable()[0];
}

void SetField(ParameterBlock& b, const char* name, double v) {
    const ParameterDescription& f = Field(name);
    if (f.type == FieldType::Float)
        SetFloat(b, f.offset, static_cast<float>(v));
    else
        SetInt(b, f.offset, static_cast<int32_t>(v));
}

ParamTelegram Row(const std::string& readName) {
    for (int i = 0; i < PARAM_TELEGRAM_COUNT; ++i)
        if (readName == ParamTelegrams()[static_cast<size_t>(i)].readName)
            return static_cast<ParamTelegram>(i);
    ADD_FAILURE() << "no telegram " << readName;
    return ParamTelegram::KPR;
}

// The one field a single-field telegram carries.
const ParameterDescription& FieldOf(ParamTelegram t) {
    for (const ParameterDescription& p : ParameterTable())
        if (p.telegram == t) return p;
    ADD_FAILURE() << "no field on telegram " << static_cast<int>(t);
    return ParameterTable()[0];
}

size_t FieldCount(ParamTelegram t) {
    size_t n = 0;
    for (const ParameterDescription& p : ParameterTable())
        n += p.telegram == t;
    return n;
}

// Decodes one read reply the way a read pass does: FOR and FGR only take effect with the CCR reply.
void Decode(ParamTelegram t, uint8_t b, ParameterBlock& valve, TestFunctionData& tf) {
    ParamReadHold hold;
    ParamDecode(t, b, valve, hold, tf);
    if (t == ParamTelegram::FOR || t == ParamTelegram::FGR) ParamDecode(Row("CCR"), 0, valve, hold, tf);
}

// One parameter row: its telegrams, and for the single-field rows a read and a write example.
struct RowCase {
    const char* read;
    int readCmd;
    const char* write;
    const char* field; // nullptr: a row of bit groups, see BIT_ROWS
    int replyByte;
    double readValue;
    double fieldValue;
    int writeByte;
};
const RowCase EXPECTED_ROWS[PARAM_TELEGRAM_COUNT] = {
    {"KPR", 2, "KPS", "PROPORTIONAL_GAIN", 123, 1.23, 1.23, 123},
    {"TIR", 4, "TIS", "INTEGRATION_TIME", 7, 0.35, 0.35, 7},
    {"TDR", 6, "TDS", "DERIVATION_TIME", 255, 255, 300, 44},
    {"DBR", 8, "DBS", "DEAD_BAND", 25, 2.5, 0.25, 2},
    {"FOR", 51, "FOS", "FORWARD_OFFSET", 80, 80, 80, 80},
    {"FGR", 53, "FGS", "FORWARD_GAIN", 250, 2.5, 1.23, 123},
    {"ILR", 55, "ILS", "INTEGRATION_LIMIT", 100, 100, -1, 255},
    {"PFR", 57, "PFS", "PWM_FREQUENCY", 200, 2000, 1995, 199},
    {"CYR", 59, "CYS", "CONTROL_CYCLE_TIME", 100, 100, 1, 1},
    {"CCR", 101, "CCS", nullptr, 0, 0, 0, 0},
    {"SRR", 18, "SRS", "SETPOINT_SIGNAL", 2, 2, 2, 2},
    {"CAR", 97, "CAS", nullptr, 0, 0, 0, 0},
    {"SOR", 24, "SOS", "SHUT_OFF", 1, 1, 1, 1},
    {"SLR", 49, "SLS", "SHUT_OFF_LEVEL", 55, 5.5, 5.5, 55},
    {"OFR", 14, "OFS", "SETPOINT_OFFSET", 0, -50, -50, 0},
    {"SPR", 16, "SPS", "SETPOINT_SPAN", 150, 150, 150, 150},
    {"CBR", 99, "CBS", nullptr, 0, 0, 0, 0},
    {"TRR", 10, "TRS", "RAMP_RISE_TIME", 200, 20.0, 0.1, 1},
    {"RFR", 67, "RFS", "RAMP_FALL_TIME", 3, 0.3, 19.9, 199},
    {"CDR", 103, "CDS", nullptr, 0, 0, 0, 0},
    {"AZR", 85, nullptr, "AUTO_ZERO_VALUE", 0, -128, 0, 0},
    {"FRR", 20, "FRS", "ANALOG_IN_2_SIGNAL", 1, 1, 2, 2},
    {"TLR", 69, "TLS", "OVERTEMPERATURE_LIMIT", 120, 120, 50, 50},
    {"CFR", 107, "CFS", nullptr, 0, 0, 0, 0},
    {"ASR", 73, "ASS", "CURRENT_LIMIT_LEVEL", 200, 2000, 105, 10},
    {"IPR", 75, "IPS", "INPUT_PRESSURE_LIMIT", 100, 100, 100, 100},
    {"ALR", 71, "ALS", nullptr, 0, 0, 0, 0},
    {"CER", 105, "CES", nullptr, 0, 0, 0, 0},
    {"SDR", 65, "SDS", "OUTPUT_DELAY", 100, 10.0, 0.7, 7},
    {"PMR", 26, "PMS", "OUTPUT_MODE", 1, 1, 1, 1},
    {"PSR", 12, "PSS", "WINDOW_SIZE", 30, 3.0, 20.0, 200},
    {"LSR", 61, "LSS", "LIMIT_SIZE", 201, 100.5, 100.5, 201},
    {"IRR", 77, "IRS", "I_SEARCH_RAMPTIME", 255, 255, 255, 255},
    {"FTR", 45, "FTS", "I_SEARCH_FEEDBACK_THRESHOLD", 100, 100, 100, 100},
    {"ZPR", 127, nullptr, "AUTO_ZERO_DP_VALUE", 255, 127, 0, 0},
    {"SHR", 63, "SHS", "LIMIT_HYSTERESIS", 1, 0.1, 10.0, 100},
};

struct GroupCase {
    const char* field;
    int shift, width;
    bool inverted = false;
};
const std::map<std::string, std::vector<GroupCase>> BIT_ROWS = {
    {"CCR",
     {{"CONTROLLER_STRUCTURE", 0, 3}, {"SETPOINT_RANGE_DETECTION", 3, 2}, {"AUTO_ZERO_FEEDBACK", 5, 1}}},
    {"CAR",
     {{"OVERTEMPERATURE", 0, 1},
      {"FEEDBACK_SELECT", 1, 1},
      {"ANALOG_IN_2_DIRECTION", 2, 1},
      {"SETPOINT_SELECTION", 3, 1},
      {"SETPOINT_DIRECTION", 4, 1},
      {"AUTOSAFE", 5, 1},
      {"PARAMETER_SET", 6, 1, true},
      {"SETPOINT_ADJUSTMENT", 7, 1}}},
    {"CBR",
     {{"PRESSURE_SWITCH_OUTPUT_SOURCE", 0, 2},
      {"RAMP_FUNCTION", 2, 2},
      {"SELECT_POLARITY", 4, 1},
      {"SELECT_FUNCTION", 5, 3}}},
    {"CDR", {{"ANALOG_OUT_SELECT", 0, 3}, {"ERROR_SELECT", 3, 3}, {"OPTION_INPUT_PRESSURE_SENSOR", 6, 2}}},
    {"CFR",
     {{"AUTOSAFE_SOURCE", 0, 1},
      {"KEY_LOCK", 1, 1},
      {"I_VALUE", 2, 1},
      {"I_SEARCH", 3, 1},
      {"AUTO_ZERO_DP_FEEDBACK", 4, 1},
      {"DISPLAY_SELECT", 5, 3}}},
    {"ALR", {{"DELAY_TIME", 0, 3}, {"COIL_OFF_TIME", 3, 3}, {"COIL_ON_TIME", 6, 2}}},
    {"CER", {{"LED_GREEN", 0, 2}, {"LED_YELLOW", 2, 2}, {"LED_RED", 4, 2}, {"KEY_FUNCTION", 6, 2}}},
};

TEST(DeviceCommandsTest, ParameterTelegramsFollowTheTable) {
    int writes = 0;
    for (int i = 0; i < PARAM_TELEGRAM_COUNT; ++i) {
        const auto t = static_cast<ParamTelegram>(i);
        const ParamTelegramInfo& row = TelegramInfo(t);
        const RowCase& want = EXPECTED_ROWS[i];
        EXPECT_STREQ(row.readName, want.read) << "row " << i + 1;
        EXPECT_EQ(row.readCmd, want.readCmd) << want.read;
        if (want.write) {
            ASSERT_NE(row.writeName, nullptr) << want.read;
            EXPECT_STREQ(row.writeName, want.write);
            EXPECT_EQ(row.WriteCmd(), want.readCmd - 1) << want.write;
            ++writes;
        } else {
            EXPECT_EQ(row.writeName, nullptr) << want.read << " is never written";
        }
        if (want.field) {
            EXPECT_EQ(FieldCount(t), 1u) << want.read;
            EXPECT_STREQ(FieldOf(t).name, want.field) << want.read;
        } else {
            EXPECT_EQ(FieldCount(t), BIT_ROWS.at(want.read).size()) << want.read;
        }
    }
    EXPECT_EQ(writes, PARAM_WRITE_COUNT);
    EXPECT_EQ(writes, 34);
    EXPECT_EQ(CAS.cmd, TelegramInfo(Row("CAR")).WriteCmd());
}

TEST(DeviceCommandsTest, SingleFieldRowsReadAndWriteTheirField) {
    for (int i = 0; i < PARAM_TELEGRAM_COUNT; ++i) {
        const RowCase& want = EXPECTED_ROWS[i];
        if (!want.field) continue;
        const auto row = static_cast<ParamTelegram>(i);
        const ParameterDescription& f = Field(want.field);
        ParameterBlock valve{};
        TestFunctionData tf{};
        Decode(row, static_cast<uint8_t>(want.replyByte), valve, tf);
        if (f.type == FieldType::Float)
            EXPECT_FLOAT_EQ(GetFloat(valve, f.offset), static_cast<float>(want.readValue)) << want.read;
        else
            EXPECT_EQ(GetInt(valve, f.offset), static_cast<int32_t>(want.readValue)) << want.read;
        if (!want.write) continue;
        ParameterBlock edit{};
        SetField(edit, want.field, want.fieldValue);
        EXPECT_EQ(ParamWriteData(row, edit, tf), want.writeByte) << want.write << " of " << want.fieldValue;
    }
}

TEST(DeviceCommandsTest, ScaledWritesRoundWithTheirOwnTerm) {
    // x.96 steps: the gain's term 0.005 keeps x, every other term 0.05 rounds up to x + 1.
    struct Case {
        const char* read;
        double value;
        int byte;
    };
    for (const Case& c : {Case{"KPR", 0.1296, 12}, Case{"FGR", 0.1296, 13}, Case{"TIR", 0.648, 13},
                          Case{"DBR", 1.296, 13}, Case{"SHR", 1.296, 13}, Case{"LSR", 6.48, 13}}) {
        ParameterBlock edit{};
        SetFloat(edit, FieldOf(Row(c.read)).offset, static_cast<float>(c.value));
        EXPECT_EQ(ParamWriteData(Row(c.read), edit, TestFunctionData{}), c.byte) << c.read;
    }
}

TEST(DeviceCommandsTest, EveryLosslessByteSurvivesReadThenWrite) {
    const std::map<std::string, int> accepted = {{"SRR", 2}, {"SOR", 1}}; // larger replies are ignored
    for (int i = 0; i < PARAM_TELEGRAM_COUNT; ++i) {
        const auto t = static_cast<ParamTelegram>(i);
        const ParamTelegramInfo& row = TelegramInfo(t);
        if (!row.writeName) continue;
        const auto it = accepted.find(row.readName);
        const int last = it == accepted.end() ? 255 : it->second;
        for (int b = 0; b <= last; ++b) {
            ParameterBlock block{};
            TestFunctionData tf{};
            Decode(t, static_cast<uint8_t>(b), block, tf);
            tf.Selection = tf.ReadBack; // CCR bits 6..7 go out again as the selection
            ASSERT_EQ(ParamWriteData(t, block, tf), b) << row.readName << " " << row.writeName;
        }
    }
}

TEST(DeviceCommandsTest, ReadingBitRowsTakesEachGroupUnsigned) {
    for (const auto& [name, groups] : BIT_ROWS) {
        for (int b = 0; b < 256; ++b) {
            ParameterBlock valve{};
            for (const GroupCase& g : groups)
                SetField(valve, g.field, 99);
            TestFunctionData tf{};
            Decode(Row(name), static_cast<uint8_t>(b), valve, tf);
            for (const GroupCase& g : groups) {
                const int bits = (b >> g.shift) & ((1 << g.width) - 1);
                ASSERT_EQ(GetInt(valve, Field(g.field).offset), g.inverted ? !bits : bits)
                    << name << " byte " << b << " " << g.field;
            }
        }
    }
}

TEST(DeviceCommandsTest, PackingKeepsOnlyValuesInTheGroupsRange) {
    for (const auto& [name, groups] : BIT_ROWS) {
        const ParamTelegram row = Row(name);
        ParameterBlock edit{};
        edit.PARAMETER_SET = 1; // a clear inverted flag, so the untouched byte is 0
        const TestFunctionData tf{};
        ASSERT_EQ(ParamWriteData(row, edit, tf), 0) << name;
        for (const GroupCase& g : groups) {
            const int32_t max = (1 << g.width) - 1;
            const int32_t saved = GetInt(edit, Field(g.field).offset);
            for (int32_t v : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 255, 256, 257,
                              std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
                SetField(edit, g.field, v);
                const int bits = g.inverted ? v == 0 : (v >= 1 && v <= max ? v : 0);
                EXPECT_EQ(ParamWriteData(row, edit, tf), bits << g.shift)
                    << name << " " << g.field << " = " << v;
            }
            SetInt(edit, Field(g.field).offset, saved);
        }
    }
}

TEST(DeviceCommandsTest, LimitedRepliesAboveTheListLeaveTheFieldAlone) {
    ParameterBlock valve{};
    TestFunctionData tf{};
    valve.SETPOINT_SIGNAL = 1;
    for (int b : {3, 5, 255})
        Decode(Row("SRR"), static_cast<uint8_t>(b), valve, tf);
    EXPECT_EQ(valve.SETPOINT_SIGNAL, 1);
    Decode(Row("SRR"), 0, valve, tf);
    EXPECT_EQ(valve.SETPOINT_SIGNAL, 0);

    valve.SHUT_OFF = 1;
    Decode(Row("SOR"), 2, valve, tf);
    EXPECT_EQ(valve.SHUT_OFF, 1);
    // SOS is a flag: anything but 1 switches shut-off off.
    for (int32_t v : {2, -1, 257}) {
        valve.SHUT_OFF = v;
        EXPECT_EQ(ParamWriteData(Row("SOR"), valve, tf), 0) << v;
    }
}

TEST(DeviceCommandsTest, OffsetFieldsOutsideTheByteSendTheirLowBits) {
    const TestFunctionData tf{};
    ParameterBlock edit{};
    for (auto [value, byte] : {std::pair{206, 0}, std::pair{-51, 255}, std::pair{0x7FFFFFFF, 0x31}}) {
        edit.SETPOINT_OFFSET = value; // the bias must not overflow
        EXPECT_EQ(ParamWriteData(Row("OFR"), edit, tf), byte) << value;
    }
    ParameterBlock valve{};
    TestFunctionData rtf{};
    Decode(Row("OFR"), 255, valve, rtf);
    EXPECT_EQ(valve.SETPOINT_OFFSET, 205);
    Decode(Row("AZR"), 128, valve, rtf);
    EXPECT_EQ(valve.AUTO_ZERO_VALUE, 0);
    Decode(Row("ZPR"), 0, valve, rtf);
    EXPECT_EQ(valve.AUTO_ZERO_DP_VALUE, -128);
}

TEST(DeviceCommandsTest, ParameterSetTravelsInvertedOnBitSix) {
    ParameterBlock valve{};
    for (const GroupCase& g : BIT_ROWS.at("CAR"))
        SetField(valve, g.field, 1);
    TestFunctionData tf{};
    Decode(Row("CAR"), 0x40, valve, tf);
    EXPECT_EQ(valve.PARAMETER_SET, 0) << "bit 6 set means the custom set";
    for (const GroupCase& g : BIT_ROWS.at("CAR")) {
        if (!g.inverted) {
            EXPECT_EQ(GetInt(valve, Field(g.field).offset), 0) << g.field;
        }
    }

    ParameterBlock edit{};
    edit.PARAMETER_SET = 1;
    EXPECT_EQ(ConfigurationByte(edit), 0x00);
    EXPECT_EQ(ParamWriteData(Row("CAR"), edit, tf), 0x00);
    edit.PARAMETER_SET = 0;
    EXPECT_EQ(ConfigurationByte(edit), 0x40);
}

TEST(DeviceCommandsTest, ForwardValuesWaitForTheControllerConfiguration) {
    ParameterBlock valve{};
    valve.FORWARD_OFFSET = 5;
    valve.FORWARD_GAIN = 0.5f;
    TestFunctionData tf{};
    ParamReadHold hold;
    ParamDecode(Row("FOR"), 40, valve, hold, tf);
    ParamDecode(Row("FGR"), 150, valve, hold, tf);
    EXPECT_EQ(valve.FORWARD_OFFSET, 5);
    EXPECT_EQ(valve.FORWARD_GAIN, 0.5f);
    EXPECT_EQ(tf.ReadBackValid, 0);

    ParamDecode(Row("CCR"), 0xC3, valve, hold, tf);
    EXPECT_EQ(valve.FORWARD_OFFSET, 40);
    EXPECT_FLOAT_EQ(valve.FORWARD_GAIN, 1.5f);
    EXPECT_EQ(valve.CONTROLLER_STRUCTURE, 3);
    EXPECT_EQ(tf.ReadBack, 3);
    EXPECT_EQ(tf.ReadBackValid, 1);
    EXPECT_EQ(tf.Selection, 0) << "the read-back never changes the user's selection";

    // The held values are used once: a later CCR reply does not bring them back.
    valve.FORWARD_OFFSET = 7;
    ParamDecode(Row("CCR"), 0x40, valve, hold, tf);
    EXPECT_EQ(valve.FORWARD_OFFSET, 7);
    EXPECT_EQ(tf.ReadBack, 1);
}

TEST(DeviceCommandsTest, ControllerConfigurationCarriesTheTestFunctionSelection) {
    ParameterBlock edit{};
    edit.CONTROLLER_STRUCTURE = 5;
    edit.SETPOINT_RANGE_DETECTION = 2;
    edit.AUTO_ZERO_FEEDBACK = 1;
    struct Case {
        int32_t selection;
        int byte;
    };
    for (Case c : {Case{0, 0x35}, Case{1, 0x75}, Case{2, 0xB5}, Case{3, 0xF5}, Case{4, 0x35}, Case{5, 0x35},
                   Case{7, 0x35}, Case{-1, 0x35}, Case{std::numeric_limits<int32_t>::max(), 0x35}}) {
        TestFunctionData tf{};
        tf.Selection = c.selection;
        tf.ReadBack = 2;
        EXPECT_EQ(ParamWriteData(Row("CCR"), edit, tf), c.byte) << c.selection;
        EXPECT_EQ(ControllerConfigByte(edit, c.selection), c.byte) << c.selection;
    }
}

TEST(DeviceCommandsTest, UnrepresentableValuesSendZero) {
    const TestFunctionData tf{};
    for (const ParameterDescription& field : ParameterTable()) {
        if (field.wire != Wire::Scaled || field.type != FieldType::Float) continue;
        for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max(),
                        -std::numeric_limits<float>::max()}) {
            ParameterBlock edit{};
            SetFloat(edit, field.offset, v);
            EXPECT_EQ(ParamWriteData(field.telegram, edit, tf), 0) << field.name << " of " << v;
        }
    }
    EXPECT_EQ(ScaledWriteByte(1e300, 100, 0.005), 0);
    EXPECT_EQ(ScaledWriteByte(-1.5, 1, 0), 0xFF) << "truncated toward zero, low 8 bits";
    // Integer fields with a factor stay exact at their extremes.
    ParameterBlock edit{};
    edit.PWM_FREQUENCY = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(ParamWriteData(Row("PFR"), edit, tf), 0xCC); // 214748364 = 0x0CCCCCCC
    edit.CURRENT_LIMIT_LEVEL = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(ParamWriteData(Row("ASR"), edit, tf), 0x34); // -214748364
}

TEST(DeviceCommandsTest, DeviceAndCounterRecordsDecode) {
    const uint8_t dir[12] = {0x02, 0x30, 0x12, 0x34, 0x10, 0x00, 0x00, 0x01, 0x00, 0x15, 0x22, 0x00};
    DeviceInfo d{};
    DecodeDeviceRecord(dir, d);
    EXPECT_EQ(std::vector<int32_t>(d.PartNumberDigit, d.PartNumberDigit + 6),
              (std::vector<int32_t>{3, 0, 1, 2, 3, 4}));
    EXPECT_EQ(d.PartNumberVariant, 0x1000);
    EXPECT_EQ(d.SerialNumber, 256);
    EXPECT_EQ(d.ProductionYear, 0x15);
    EXPECT_EQ(d.ProductionWeek, 0x22);

    const uint8_t high[12] = {0x02, 0xFE, 0xDC, 0xBA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x99, 0x53, 0x00};
    DecodeDeviceRecord(high, d);
    EXPECT_EQ(std::vector<int32_t>(d.PartNumberDigit, d.PartNumberDigit + 6),
              (std::vector<int32_t>{15, 14, 13, 12, 11, 10}));
    EXPECT_EQ(d.PartNumberVariant, 0xFFFF) << "unsigned 16 bits";
    EXPECT_EQ(d.SerialNumber, 0xFFFFFE) << "unsigned 24 bits";

    const uint8_t ocr[10] = {0x02, 0x00, 0x05, 0xA0, 0x07, 0x24, 0x03, 0x15, 0x01, 0x00};
    DecodeCounterRecord(ocr, d);
    EXPECT_EQ(d.OperationCounter, 1440);
    EXPECT_EQ(d.CalibrationCounter, 7);
    EXPECT_EQ(d.CalibrationYear, 0x24);
    EXPECT_EQ(d.CalibrationMonth, 0x03);
    EXPECT_EQ(d.CalibrationDay, 0x15);
    EXPECT_EQ(d.CalibrationStatus, 1);
    const uint8_t full[10] = {0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0};
    DecodeCounterRecord(full, d);
    EXPECT_EQ(d.OperationCounter, 0xFFFFFF);
    EXPECT_EQ(d.CalibrationCounter, 255);
    EXPECT_EQ(d.CalibrationStatus, 255);
    // VTR (value - 50 degrees C) is decoded by the engine where the reply arrives.
}

TEST(DeviceCommandsTest, StatusBitsDecodeToTheDialogsValues) {
    struct Case {
        int bit;
        int32_t StatusInfo::*field;
        int32_t set, clear;
    };
    const Case cases[] = {
        {7, &StatusInfo::Overvoltage, 2, 1},     {6, &StatusInfo::Undervoltage, 2, 1},
        {5, &StatusInfo::Overtemperature, 2, 1}, {4, &StatusInfo::DigitalOutput, 1, 2}, // 1 = high
        {3, &StatusInfo::Jumper, 1, 2},                                                 // 1 = on
        {2, &StatusInfo::KeyLock, 2, 1},         {1, &StatusInfo::ManualSetpoint, 2, 1},
        {0, &StatusInfo::Reserve, 2, 1},
    };
    for (const Case& c : cases) {
        StatusInfo s{};
        DecodeStatusByte(static_cast<uint8_t>(1 << c.bit), s);
        for (const Case& other : cases)
            EXPECT_EQ(s.*other.field, other.bit == c.bit ? other.set : other.clear)
                << "byte " << (1 << c.bit) << " field of bit " << other.bit;
    }
}

TEST(DeviceCommandsTest, LedStatesComeFromTheirBitPairs) {
    struct Case {
        uint8_t byte;
        int32_t red, green, yellow;
    };
    for (const Case& c : {Case{0x00, 0, 0, 0}, Case{0x27, 2, 3, 1}, Case{0x18, 1, 0, 2}, Case{0xC0, 0, 0, 0},
                          Case{0xFF, 3, 3, 3}}) {
        StatusInfo s{};
        DecodeLedByte(c.byte, s);
        EXPECT_EQ(s.LedRed, c.red) << int(c.byte);
        EXPECT_EQ(s.LedGreen, c.green) << int(c.byte);
        EXPECT_EQ(s.LedYellow, c.yellow) << int(c.byte);
    }
}

} // namespace
