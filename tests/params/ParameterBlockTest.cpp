#include "params/ParameterTable.h"

#include "text/Texts.h"

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

const ParameterDescription& Field(const char* name) {
    const ParameterDescription* f = FindParameter(name);
    EXPECT_NE(f, nullptr) << name;
    return f ? *f : ParameterTable()[0];
}

TEST(ParameterBlockTest, EveryNamedFieldIsFoundByNameAtItsOffset) {
    ASSERT_EQ(std::size(RECORD_ORDER), ParameterTable().size());
    for (const RecordMember& m : RECORD_ORDER) {
        const ParameterDescription* f = FindParameter(m.name);
        ASSERT_NE(f, nullptr) << m.name;
        EXPECT_EQ(f->offset, m.offset) << m.name;
    }
    EXPECT_EQ(FindParameter("RESERVED_224"), nullptr);
    EXPECT_EQ(FindParameter(""), nullptr);
    EXPECT_EQ(FindParameter("DEAD_BAND "), nullptr);
}

TEST(ParameterTableInvariants, EveryByteOfTheFieldsIsCoveredOnce) {
    std::map<unsigned, std::string> slots;
    for (const auto& f : ParameterTable()) {
        EXPECT_EQ(f.offset % 4, 0u) << f.name;
        EXPECT_TRUE(slots.emplace(f.offset, f.name).second)
            << f.name << " shares its slot with " << slots[f.offset];
    }
    for (unsigned off = 0; off < 252; off += 4)
        EXPECT_EQ(slots.count(off), off == 224 ? 0u : 1u) << "slot " << off;
    EXPECT_LT(slots.rbegin()->first, 252u) << "the tail from 252 on is reserved";
}

TEST(ParameterTableInvariants, DefaultsLieWithinTheirLimits) {
    for (const auto& f : ParameterTable()) {
        // SLAVE_GAIN starts at 0, "not set yet"; the Control page makes it 0.01.
        if (std::string(f.name) == "SLAVE_GAIN") continue;
        EXPECT_LE(f.min, f.def) << f.name;
        EXPECT_LE(f.def, f.max) << f.name;
        EXPECT_GT(f.step, 0) << f.name;
    }
}

TEST(ParameterTableInvariants, EveryParameterOfTheFileHasExactlyOneWriteTelegram) {
    ASSERT_EQ(IniParameters().size(), 57u);
    for (const auto& f : IniParameters()) {
        ASSERT_NE(f.telegram, ParamTelegram::None) << f.name;
        EXPECT_NE(TelegramInfo(f.telegram).writeName, nullptr) << f.name;
        EXPECT_NE(f.page, Page::NotEdited) << f.name;
        EXPECT_NE(f.ini, IniConv::NotInFile) << f.name;
    }
    EXPECT_NE(TelegramInfo(Field("PARAMETER_SET").telegram).writeName, nullptr);
    for (const char* notSent : {"BLOCK_VALID", "SLAVE_GAIN"})
        EXPECT_EQ(Field(notSent).wire, Wire::NotSent) << notSent;
}

TEST(ParameterTableInvariants, BitGroupsOfATelegramDoNotOverlap) {
    std::map<ParamTelegram, unsigned> used;
    for (const auto& f : ParameterTable()) {
        if (f.wire != Wire::Bits && f.wire != Wire::InvertedBit) continue;
        ASSERT_LE(f.shift + f.width, 8) << f.name;
        const unsigned mask = ((1u << f.width) - 1) << f.shift;
        EXPECT_EQ(used[f.telegram] & mask, 0u) << f.name;
        used[f.telegram] |= mask;
    }
}

TEST(ParameterTableInvariants, ChoiceListsMatchTheirLimitsBitsAndTexts) {
    for (const auto& f : ParameterTable()) {
        if (!HasChoices(f)) continue;
        EXPECT_EQ(f.min, 0) << f.name;
        EXPECT_EQ(f.max, ChoiceCount(f) - 1) << f.name;
        if (f.wire == Wire::Bits || f.wire == Wire::InvertedBit) {
            EXPECT_EQ(ChoiceCount(f), 1 << f.width) << f.name << " offers a value its bits cannot carry";
        }
        for (const Choice& c : f.choices)
            EXPECT_TRUE(c.textId != 0 ? BuiltinText(c.textId) != nullptr : c.literal != nullptr) << f.name;
    }
    for (const auto& f : ParameterTable()) {
        if (f.labelText != 0) {
            EXPECT_NE(BuiltinText(f.labelText), nullptr) << f.name;
        }
    }
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
    for (const auto& f : ParameterTable()) {
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

TEST(ParameterBlockTest, ChoiceTextFollowsTheSelectionLists) {
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
        {"COIL_ON_TIME", 3, "4.0"},
        {"DELAY_TIME", 7, "40"},
        {"DELAY_TIME", 8, ""},
        {"COIL_OFF_TIME", 0, "2"},
        {"LED_RED", 3, "Und.-Over. Volt."},
        {"SETPOINT_RANGE_DETECTION", 0, "Off"},
        {"SHUT_OFF", -1, ""},
        {"SHUT_OFF", std::numeric_limits<int32_t>::min(), ""},
        {"SHUT_OFF", std::numeric_limits<int32_t>::max(), ""},
        {"DEAD_BAND", 0, ""}, // a number, not a selection
        {"FORWARD_OFFSET", 1, ""},
    };
    const TextSource texts;
    for (const Case& c : cases)
        EXPECT_EQ(ChoiceText(Field(c.field), c.value, texts), c.text) << c.field << " = " << c.value;
}

} // namespace
