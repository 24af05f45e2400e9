#include "params/ParameterBlock.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <type_traits>

namespace {

struct RecordMember {
    const char* name;
    size_t offset;
    bool isFloat;
};
// The record's named fields in record order, as project files hold them.
// clang-format off
#define M(x) {#x, offsetof(ParameterBlock, x), std::is_same_v<decltype(ParameterBlock::x), float>}
const RecordMember RECORD_ORDER[] = {
    M(BLOCK_VALID), M(PARAMETER_SET), M(FORWARD_OFFSET), M(FORWARD_GAIN), M(PROPORTIONAL_GAIN),
    M(INTEGRATION_TIME), M(INTEGRATION_LIMIT), M(DEAD_BAND), M(DERIVATION_TIME), M(PWM_FREQUENCY),
    M(CONTROL_CYCLE_TIME), M(CONTROLLER_STRUCTURE), M(SETPOINT_SIGNAL), M(SETPOINT_DIRECTION),
    M(SHUT_OFF), M(SHUT_OFF_LEVEL), M(SETPOINT_ADJUSTMENT), M(SETPOINT_OFFSET), M(SETPOINT_SPAN),
    M(SETPOINT_SELECTION), M(RAMP_FUNCTION), M(RAMP_RISE_TIME), M(RAMP_FALL_TIME), M(ANALOG_OUT_SELECT),
    M(FEEDBACK_SELECT), M(AUTO_ZERO_FEEDBACK), M(AUTO_ZERO_VALUE), M(ANALOG_IN_2_SIGNAL),
    M(ANALOG_IN_2_DIRECTION), M(AUTOSAFE), M(OVERTEMPERATURE), M(OVERTEMPERATURE_LIMIT),
    M(AUTOSAFE_SOURCE), M(CURRENT_LIMIT_LEVEL), M(OPTION_INPUT_PRESSURE_SENSOR), M(INPUT_PRESSURE_LIMIT),
    M(DELAY_TIME), M(COIL_ON_TIME), M(COIL_OFF_TIME), M(SELECT_FUNCTION), M(SELECT_POLARITY),
    M(DISPLAY_SELECT), M(KEY_LOCK), M(KEY_FUNCTION), M(LED_YELLOW), M(LED_GREEN), M(LED_RED),
    M(PRESSURE_SWITCH_OUTPUT_SOURCE), M(OUTPUT_DELAY), M(OUTPUT_MODE), M(WINDOW_SIZE), M(LIMIT_SIZE),
    M(LIMIT_HYSTERESIS), M(ERROR_SELECT), M(SETPOINT_RANGE_DETECTION), M(I_VALUE), M(SLAVE_GAIN),
    M(I_SEARCH), M(I_SEARCH_RAMPTIME), M(I_SEARCH_FEEDBACK_THRESHOLD), M(AUTO_ZERO_DP_FEEDBACK),
    M(AUTO_ZERO_DP_VALUE),
};
// clang-format on
#undef M

// The float fields of the record layout; every other named field is an int32.
const std::set<std::string> FLOAT_FIELDS = {"FORWARD_GAIN",   "PROPORTIONAL_GAIN", "INTEGRATION_TIME",
                                            "DEAD_BAND",      "SHUT_OFF_LEVEL",    "RAMP_RISE_TIME",
                                            "RAMP_FALL_TIME", "OUTPUT_DELAY",      "WINDOW_SIZE",
                                            "LIMIT_SIZE",     "LIMIT_HYSTERESIS",  "SLAVE_GAIN"};

const ParameterField& Field(const char* name) {
    const ParameterField* f = FindParameterField(name);
    EXPECT_NE(f, nullptr) << name;
    return f ? *f : ParameterFields()[0];
}

TEST(ParameterBlockTest, EveryNamedFieldIsFoundByNameInRecordOrder) {
    const auto& fields = ParameterFields();
    ASSERT_EQ(std::size(RECORD_ORDER), fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        const RecordMember& m = RECORD_ORDER[i];
        EXPECT_STREQ(fields[i].name, m.name) << "index " << i;
        const ParameterField* f = FindParameterField(m.name);
        ASSERT_NE(f, nullptr) << m.name;
        EXPECT_EQ(f, &fields[i]);
        EXPECT_EQ(f->offset, m.offset) << m.name;
    }
    EXPECT_EQ(FindParameterField("RESERVED_224"), nullptr);
    EXPECT_EQ(FindParameterField(""), nullptr);
    EXPECT_EQ(FindParameterField("DEAD_BAND "), nullptr);
}

TEST(ParameterBlockTest, FieldsTileEverySlotExceptTheReservedOnes) {
    std::set<unsigned> slots;
    unsigned previous = 0;
    for (const auto& f : ParameterFields()) {
        EXPECT_EQ(f.offset % 4, 0u) << f.name;
        if (&f != &ParameterFields()[0]) {
            EXPECT_GT(f.offset, previous) << f.name << " is out of record order or overlaps";
        }
        previous = f.offset;
        slots.insert(f.offset);
    }
    for (unsigned off = 0; off < 252; off += 4)
        EXPECT_EQ(slots.count(off), off == 224 ? 0u : 1u) << "slot " << off;
    EXPECT_LT(*slots.rbegin(), 252u) << "the tail from 252 on is reserved";
}

TEST(ParameterBlockTest, FieldTypesMatchTheRecord) {
    for (const RecordMember& m : RECORD_ORDER) {
        const bool wantFloat = FLOAT_FIELDS.count(m.name) == 1;
        EXPECT_EQ(m.isFloat, wantFloat) << m.name << " has the wrong type in the record";
        EXPECT_EQ(Field(m.name).type == FieldType::Float, wantFloat)
            << m.name << " has the wrong type in the table";
    }
}

TEST(ParameterBlockTest, DefaultsBlockHoldsTheDefaultsColumn) {
    const std::map<std::string, double> nonZero = {
        {"FORWARD_GAIN", 1.0},        {"PROPORTIONAL_GAIN", 1.0},
        {"INTEGRATION_TIME", 0.1},    {"DEAD_BAND", 0.1},
        {"PWM_FREQUENCY", 20},        {"CONTROL_CYCLE_TIME", 1},
        {"SETPOINT_OFFSET", -50},     {"SETPOINT_SPAN", 50},
        {"AUTO_ZERO_FEEDBACK", 1},    {"OVERTEMPERATURE_LIMIT", 50},
        {"CURRENT_LIMIT_LEVEL", 100}, {"WINDOW_SIZE", 3.0},
        {"AUTO_ZERO_DP_FEEDBACK", 1},
    };
    const ParameterBlock b = DefaultParameterBlock();
    for (const auto& f : ParameterFields()) {
        const auto it = nonZero.find(f.name);
        const double want = it == nonZero.end() ? 0.0 : it->second;
        if (f.type == FieldType::Float)
            EXPECT_EQ(GetFloat(b, f.offset), static_cast<float>(want)) << f.name;
        else
            EXPECT_EQ(GetInt(b, f.offset), static_cast<int32_t>(want)) << f.name;
    }
    EXPECT_EQ(b.SETPOINT_OFFSET, -50);
    EXPECT_EQ(b.SETPOINT_SPAN, 50);
    EXPECT_EQ(b.RESERVED_224, 0);
    for (uint8_t byte : b.RESERVED_252)
        ASSERT_EQ(byte, 0);
    EXPECT_EQ(FormatValue(b, Field("FORWARD_GAIN")), "1.00");
    EXPECT_EQ(FormatValue(b, Field("INTEGRATION_TIME")), "0.10");
    EXPECT_EQ(FormatValue(b, Field("DEAD_BAND")), "0.1");
    EXPECT_EQ(FormatValue(b, Field("SETPOINT_OFFSET")), "-50");
}

TEST(ParameterBlockTest, NonFiniteFloatsFormatWithoutHarm) {
    ParameterBlock b{};
    for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::max()}) {
        b.LIMIT_SIZE = v;
        EXPECT_FALSE(FormatValue(b, Field("LIMIT_SIZE")).empty());
    }
}

TEST(ParameterBlockTest, OptionTextFollowsTheSelectionLists) {
    struct Case {
        const char* field;
        int32_t value;
        const char* text;
    };
    const Case cases[] = {
        {"I_SEARCH", 0, "On"},
        {"I_SEARCH", 1, "Off"},
        {"I_SEARCH", 2, ""},
        {"PARAMETER_SET", 0, "Custom"},
        {"PARAMETER_SET", 1, "Factory"},
        {"CONTROLLER_STRUCTURE", 1, "PI-Controller"},
        {"CONTROLLER_STRUCTURE", 7, "Flow control"},
        {"CONTROLLER_STRUCTURE", 8, ""},
        {"SETPOINT_SIGNAL", 2, "4 - 20 mA"},
        {"COIL_ON_TIME", 3, "4.0 s"},
        {"DELAY_TIME", 7, "40 s"},
        {"LED_RED", 3, "Und.-Over. Volt."},
        {"SETPOINT_RANGE_DETECTION", 0, "Off"},
        {"SHUT_OFF", -1, ""},
        {"SHUT_OFF", std::numeric_limits<int32_t>::min(), ""},
        {"SHUT_OFF", std::numeric_limits<int32_t>::max(), ""},
        {"DEAD_BAND", 0, ""}, // a number, not a selection
        {"FORWARD_OFFSET", 1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OptionText(Field(c.field), c.value), c.text) << c.field << " = " << c.value;
}

} // namespace
