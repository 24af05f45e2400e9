#include "dialogs/ParameterPageRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "engine/QlnState.h"
#include "system/Clock.h"
#include "text/Texts.h"

namespace {

const ParameterDescription& P(const char* name) {
    const ParameterDescription* p = FindParameter(name);
    EXPECT_NE(p, nullptr) << name;
    return *p;
}

const PageItem& Item(Page page, const char* field) {
    for (const PageItem& item : LayoutOf(page).items)
        if (item.field && std::string(item.field) == field) return item;
    ADD_FAILURE() << field << " is not on its page";
    return LayoutOf(page).items[0];
}

struct IntCase {
    const char* typed;
    int32_t min, max;
    int32_t value;
};

TEST(ParameterEditRulesTest, TypedIntegersAreCutAndLimited) {
    const IntCase cases[] = {
        {"12a5", 0, 80, 12},
        {"-3", 0, 80, 0},
        {"3-4", 0, 80, 3},
        {"", 0, 80, 0},
        {"", 20, 2000, 20},
        {"2005", 20, 2000, 2000},
        {"5", 20, 2000, 20},
        {"25", 20, 2000, 25},
        {"-50", -50, 50, -50},
        {"-51", -50, 50, -50},
        {"--5", -50, 50, 0},
        {"150", 100, 2000, 150},
        {"abc", -50, 50, 0},
        {" 7", 0, 80, 0},
        {"-", -50, 50, 0},
        // Only 13 characters are read: the 14th digit never makes it an overflow.
        {"99999999999999999999", 0, 255, 255},
        {"-99999999999999", -50, 50, -50},
    };
    for (const IntCase& c : cases) {
        std::string text = c.typed;
        int32_t field = 12345;
        ValidateIntEdit(text, field, c.min, c.max);
        EXPECT_EQ(field, c.value) << '"' << c.typed << '"';
        EXPECT_EQ(text, std::to_string(c.value)) << '"' << c.typed << '"';
    }
}

struct FloatCase {
    const char* typed;
    float min, max;
    float value;
    const char* shown;
};

TEST(ParameterEditRulesTest, TypedFractionsAreCutLimitedAndShownWithOneDecimal) {
    const FloatCase cases[] = {
        {"1.27", 0.0f, 10.0f, 1.27f, "1.3"},
        {"-1", 0.0f, 10.0f, 0.0f, "0.0"},
        {"2.9", 3.0f, 20.0f, 3.0f, "3.0"},
        {"25", 3.0f, 20.0f, 20.0f, "20.0"},
        {"33.3", 0.0f, 100.0f, 33.3f, "33.3"},
        {"1.2.3", 0.0f, 10.0f, 1.2f, "1.2"},
        {"1e5", 0.0f, 10.0f, 1.0f, "1.0"},
        {"", 0.05f, 10.0f, 0.05f, "0.1"},
        {".", 0.0f, 10.0f, 0.0f, "0.0"},
        {"0.5x", 0.0f, 2.5f, 0.5f, "0.5"},
        {"1,5", 0.0f, 10.0f, 1.0f, "1.0"},
        // A minus sign counts only where the minimum is below zero.
        {"-2.5", -5.0f, 5.0f, -2.5f, "-2.5"},
        {"2-5", -5.0f, 5.0f, 2.0f, "2.0"},
    };
    for (const FloatCase& c : cases) {
        std::string text = c.typed;
        float field = 99;
        ValidateFloatEdit(text, field, c.min, c.max);
        EXPECT_FLOAT_EQ(field, c.value) << '"' << c.typed << '"';
        EXPECT_EQ(text, c.shown) << '"' << c.typed << '"';
    }
}

TEST(ParameterEditRulesTest, SpinPositionsRangesAndSteps) {
    // Ranges as the pages offer them.
    const std::map<std::string, std::pair<int, int>> ranges = {
        {"FORWARD_GAIN", {0, 250}},
        {"PROPORTIONAL_GAIN", {1, 200}},
        {"INTEGRATION_TIME", {1, 200}},
        {"DEAD_BAND", {1, 100}},
        {"PWM_FREQUENCY", {2, 200}},
        {"SETPOINT_OFFSET", {-50, 50}},
        {"CURRENT_LIMIT_LEVEL", {10, 200}},
        {"WINDOW_SIZE", {30, 200}},
        {"LIMIT_SIZE", {0, 200}},
        {"OUTPUT_DELAY", {0, 100}},
        {"OVERTEMPERATURE_LIMIT", {50, 120}},
    };
    for (const auto& [name, range] : ranges) {
        const SpinRange r = SpinRangeOf(P(name.c_str()));
        EXPECT_EQ(r.low, range.first) << name;
        EXPECT_EQ(r.high, range.second) << name;
    }
    EXPECT_EQ(SpinPosition(P("SHUT_OFF_LEVEL"), 1.27f), 12);
    EXPECT_EQ(SpinPosition(P("PWM_FREQUENCY"), 25), 2);
    EXPECT_EQ(SpinPosition(P("CURRENT_LIMIT_LEVEL"), 150), 15);
    EXPECT_EQ(SpinPosition(P("LIMIT_SIZE"), 33.3f), 66);
    EXPECT_EQ(SpinPosition(P("PROPORTIONAL_GAIN"), 0.29f), 29);
    EXPECT_EQ(SpinPosition(P("INTEGRATION_TIME"), 0.35f), 7);
    EXPECT_EQ(SpinPosition(P("SETPOINT_OFFSET"), -50), -50);
    EXPECT_EQ(SpinPosition(P("FORWARD_GAIN"), std::nan("")), 0);

    // Up from the top and down from the bottom stay where they are.
    const ParameterDescription& gain = P("FORWARD_GAIN");
    SpinStep s = StepSpin(gain, SpinRangeOf(gain), 250, 1);
    EXPECT_EQ(s.position, 250);
    EXPECT_DOUBLE_EQ(s.value, 2.5);
    const ParameterDescription& kp = P("PROPORTIONAL_GAIN");
    s = StepSpin(kp, SpinRangeOf(kp), 1, -1);
    EXPECT_DOUBLE_EQ(s.value, 0.01);
    const ParameterDescription& current = P("CURRENT_LIMIT_LEVEL");
    s = StepSpin(current, SpinRangeOf(current), 15, 1);
    EXPECT_DOUBLE_EQ(s.value, 160);
    const ParameterDescription& alert = P("LIMIT_SIZE");
    s = StepSpin(alert, SpinRangeOf(alert), 0, 1);
    EXPECT_DOUBLE_EQ(s.value, 0.5);

    // The integration time is cut down to its step with a tolerance of a tenth of it.
    const ParameterDescription& ti = P("INTEGRATION_TIME");
    const std::pair<float, double> snaps[] = {{0.12f, 0.10}, {0.13f, 0.10},  {0.14f, 0.10},
                                              {0.15f, 0.15}, {0.146f, 0.15}, {10.0f, 10.0}};
    for (const auto& [typed, snapped] : snaps)
        EXPECT_NEAR(ValveValue(ti, typed), snapped, 1e-9) << typed;
    EXPECT_EQ(FormatNumber(ti, ValveValue(ti, 0.12f)), "0.10");
}

// The dependencies of the pages as the editor's users know them.
TEST(ParameterEditRulesTest, DependenciesAndFlagsDecideWhatIsEnabled) {
    ParameterBlock local = DefaultParameterBlock();
    uint8_t flags[INI_PARAMETER_COUNT];
    std::memset(flags, 1, sizeof flags);
    auto on = [&](Page page, const char* field, uint32_t cmd = 0) {
        return ControlEnabled(Item(page, field), P(field), local, flags, cmd);
    };
    const char* integral[] = {"INTEGRATION_TIME", "INTEGRATION_LIMIT", "DEAD_BAND"};
    const struct {
        int32_t structure;
        bool integralOn, derivativeOn;
    } structures[] = {{0, false, false}, {1, true, false}, {2, false, true}, {3, true, true},
                      {4, true, true},   {5, true, true},  {6, true, true},  {7, true, true}};
    for (const auto& s : structures) {
        local.CONTROLLER_STRUCTURE = s.structure;
        for (const char* f : integral)
            EXPECT_EQ(on(Page::Control, f), s.integralOn) << f << " " << s.structure;
        EXPECT_EQ(on(Page::Control, "DERIVATION_TIME"), s.derivativeOn) << s.structure;
        EXPECT_TRUE(on(Page::Control, "FORWARD_OFFSET"));
        EXPECT_EQ(on(Page::AnalogInOut, "FEEDBACK_SELECT"), s.structure != 6) << s.structure;
    }
    local.SETPOINT_ADJUSTMENT = 0;
    EXPECT_FALSE(on(Page::Setpoint, "SETPOINT_OFFSET"));
    EXPECT_FALSE(on(Page::Setpoint, "SETPOINT_SPAN"));
    local.SETPOINT_ADJUSTMENT = 1;
    EXPECT_TRUE(on(Page::Setpoint, "SETPOINT_SPAN"));
    local.RAMP_FUNCTION = 0;
    EXPECT_FALSE(on(Page::Setpoint, "RAMP_RISE_TIME"));
    local.RAMP_FUNCTION = 2; // falling only: the rise time stays usable all the same
    EXPECT_TRUE(on(Page::Setpoint, "RAMP_RISE_TIME"));
    EXPECT_FALSE(on(Page::Autosafe, "INPUT_PRESSURE_LIMIT"));
    local.OPTION_INPUT_PRESSURE_SENSOR = 3;
    EXPECT_TRUE(on(Page::Autosafe, "INPUT_PRESSURE_LIMIT"));
    // The temperature limit does not hang on over-temperature, nor the current limit on the source.
    local.OVERTEMPERATURE = 0;
    local.AUTOSAFE_SOURCE = 0;
    EXPECT_TRUE(on(Page::Autosafe, "OVERTEMPERATURE_LIMIT"));
    EXPECT_TRUE(on(Page::Autosafe, "CURRENT_LIMIT_LEVEL"));

    // A flag of 0 from the settings file wins over every rule; so do a busy engine and the
    // factory set.
    flags[IniIndex(P("FEEDBACK_SELECT"))] = 0;
    local.CONTROLLER_STRUCTURE = 3;
    EXPECT_FALSE(on(Page::AnalogInOut, "FEEDBACK_SELECT"));
    EXPECT_FALSE(on(Page::Error, "ERROR_SELECT", CMD_READ_STATUS));
    local.PARAMETER_SET = 1;
    EXPECT_FALSE(on(Page::Error, "ERROR_SELECT"));
}

TEST(ParameterEditRulesTest, MarksAndTexts) {
    // The valve has I-Search on (0), the edit says off: the valve's button is red.
    EXPECT_TRUE(ButtonMarkedRed(0, 1, 0, true));
    EXPECT_FALSE(ButtonMarkedRed(1, 1, 0, true));
    EXPECT_FALSE(ButtonMarkedRed(0, 0, 0, true));
    EXPECT_FALSE(ButtonMarkedRed(0, 1, 0, false));

    const TextSource texts;
    EXPECT_EQ(ChoiceStatusText(P("I_SEARCH"), 0, texts), "On");
    EXPECT_EQ(ChoiceStatusText(P("SETPOINT_RANGE_DETECTION"), 0, texts), "Off");
    EXPECT_EQ(ChoiceStatusText(P("SETPOINT_RANGE_DETECTION"), 3, texts), "> 20 mA + < 4 mA");
    EXPECT_EQ(ChoiceStatusText(P("ANALOG_OUT_SELECT"), 6, texts), "D-Value (yd)");
    EXPECT_EQ(ChoiceStatusText(P("KEY_FUNCTION"), 1, texts), "Manual Setpoint");
    EXPECT_EQ(ChoiceStatusText(P("OUTPUT_MODE"), 231, texts), "231 (?)");
    EXPECT_EQ(ChoiceStatusText(P("ERROR_SELECT"), -1, texts), "-1 (?)");
    EXPECT_EQ(ChoiceStatusText(P("DELAY_TIME"), 7, texts), "40");
    EXPECT_EQ(ChoiceStatusText(P("COIL_ON_TIME"), 3, texts), "4.0");
    EXPECT_EQ(ChoiceStatusText(P("COIL_OFF_TIME"), 8, texts), "8 (?)");

    ParameterBlock valve = DefaultParameterBlock();
    EXPECT_EQ(ValveText(P("PROPORTIONAL_GAIN"), valve, false, texts), " -- ");
    valve.PROPORTIONAL_GAIN = 0.64f;
    EXPECT_EQ(ValveText(P("PROPORTIONAL_GAIN"), valve, true, texts), "0.64");
    ParameterBlock local = valve;
    local.PROPORTIONAL_GAIN = 0.65f;
    EXPECT_TRUE(NumberDiffers(P("PROPORTIONAL_GAIN"), local, valve, true));
    EXPECT_FALSE(NumberDiffers(P("PROPORTIONAL_GAIN"), local, valve, false));
    local.PROPORTIONAL_GAIN = static_cast<float>(64 * 0.01); // as a read computes it
    EXPECT_FALSE(NumberDiffers(P("PROPORTIONAL_GAIN"), local, valve, true));
    local.PROPORTIONAL_GAIN = 0.6449f; // the box shows 0.64, and 64 goes out
    EXPECT_FALSE(NumberDiffers(P("PROPORTIONAL_GAIN"), local, valve, true));

    // Without a language library a button keeps the page's own caption.
    const ButtonPlace range0 = LayoutOf(Page::Error).items.back().buttons[0];
    EXPECT_EQ(ButtonCaption(range0, P("SETPOINT_RANGE_DETECTION"), texts), "Disabled");
    EXPECT_EQ(FeedbackSourceText(STRUCTURE_FLOW), 245u);
    EXPECT_EQ(TextSource::Builtin(FeedbackSourceText(3)), "internal Sensor");
}

// Every parameter of the settings file is on exactly one page, on the page the table names, and
// every value of a choice has its button.
TEST(ParameterEditRulesTest, PagesShowEveryParameterOnce) {
    std::map<std::string, int> seen;
    for (const PageLayout& layout : PageLayouts()) {
        for (const PageItem& item : layout.items) {
            if (!item.field) continue;
            const ParameterDescription& p = P(item.field);
            ++seen[item.field];
            EXPECT_EQ(p.page, layout.page) << item.field;
            if (item.dependency.on) {
                EXPECT_NE(FindParameter(item.dependency.on), nullptr) << item.field;
            }
            if (item.kind != PageItemKind::Choice) continue;
            std::vector<int> values;
            for (const ButtonPlace& b : item.buttons)
                if (b.value != HEADING) values.push_back(b.value);
            std::sort(values.begin(), values.end());
            ASSERT_EQ(values.size(), static_cast<size_t>(ChoiceCount(p))) << item.field;
            for (size_t v = 0; v < values.size(); ++v)
                EXPECT_EQ(values[v], static_cast<int>(v)) << item.field;
        }
    }
    for (const ParameterDescription& p : IniParameters())
        EXPECT_EQ(seen[p.name], 1) << p.name;
    EXPECT_EQ(seen["AUTO_ZERO_VALUE"], 1);
    EXPECT_EQ(seen["AUTO_ZERO_DP_VALUE"], 1);
}

struct ParameterEditorRules : ::testing::Test {
    ParameterEditorRules() : state(clock) {
        state.params.EditBlock = DefaultParameterBlock();
        state.params.WriteEnabled = 1;
    }
    void ValveRead() {
        state.params.ValveBlock = DefaultParameterBlock();
        state.params.ValveBlock.FORWARD_OFFSET = 10;
        PublishValid(state.params.ValveBlock.BLOCK_VALID, 1);
    }
    ManualClock clock;
    QlnState state;
};

TEST_F(ParameterEditorRules, ReadKeepsTheEditsAndSaysSo) {
    ParameterEditor e(state);
    e.Local().SETPOINT_SPAN = 77;
    EXPECT_TRUE(e.Read());
    EXPECT_EQ(state.THREAD_CMD.load(), uint32_t{CMD_READ_PARAMETER});
    EXPECT_EQ(state.params.EditBlock.SETPOINT_SPAN, 77);
    EXPECT_TRUE(e.Changed()); // else Exit, New and Open would drop the edit without asking
    EXPECT_EQ(state.params.WriteEnabled, 0);
    EXPECT_FALSE(e.Read()); // busy
    state.THREAD_CMD = 0;
    ParameterEditor unchanged(state);
    EXPECT_TRUE(unchanged.Read());
    EXPECT_FALSE(unchanged.Changed());
}

TEST_F(ParameterEditorRules, CopyNeedsACompleteRead) {
    ParameterEditor e(state);
    // Even the factory set does not copy a valve block that was never read: the zeros would
    // become the project's set (gain 0, PWM 0).
    e.Local().PARAMETER_SET = 1;
    EXPECT_FALSE(e.Buttons().copy);
    EXPECT_FALSE(e.Copy());
    EXPECT_EQ(state.params.EditBlock.FORWARD_OFFSET, 0);
    ValveRead();
    EXPECT_TRUE(e.Copy());
    EXPECT_EQ(state.params.EditBlock.FORWARD_OFFSET, 10);
    EXPECT_EQ(e.Local().FORWARD_OFFSET, 10);
    EXPECT_TRUE(e.Changed());
    EXPECT_EQ(state.params.WriteEnabled, 1);
    // A read that fails part-way leaves the flag at 0: nothing to copy again.
    PublishValid(state.params.ValveBlock.BLOCK_VALID, 0);
    EXPECT_FALSE(e.Copy());
}

TEST_F(ParameterEditorRules, ValveBlockIsLeftAloneWhileARunningReadFillsIt) {
    ValveRead();
    ParameterEditor e(state);
    EXPECT_TRUE(e.ValveValid());
    state.THREAD_CMD = CMD_READ_PARAMETER;
    state.params.ValveBlock.FORWARD_OFFSET = 99; // the engine, half-way
    PublishValid(state.params.ValveBlock.BLOCK_VALID, 0);
    e.TakeValveSnapshot();
    EXPECT_EQ(e.Valve().FORWARD_OFFSET, 10);
    EXPECT_FALSE(e.Buttons().copy);
    state.THREAD_CMD = 0;
    e.TakeValveSnapshot();
    EXPECT_FALSE(e.ValveValid());
}

TEST_F(ParameterEditorRules, CloseDuringAnActionLeavesTheSetBeingSent) {
    ParameterEditor e(state);
    e.Local().FORWARD_OFFSET = 40;
    std::vector<RangeProblem> problems;
    ASSERT_TRUE(e.Write(problems));
    const ParameterBlock sent = state.params.EditBlock;
    e.Local().FORWARD_OFFSET = 41;
    EXPECT_FALSE(e.Close());
    EXPECT_EQ(std::memcmp(&sent, &state.params.EditBlock, sizeof sent), 0);
    state.THREAD_CMD = 0;
    EXPECT_TRUE(e.Close());
    EXPECT_EQ(state.params.EditBlock.FORWARD_OFFSET, 41);
}

TEST_F(ParameterEditorRules, WriteRefusesValuesOutsideTheTable) {
    state.params.EditBlock.CURRENT_LIMIT_LEVEL = 0;
    state.params.EditBlock.OVERTEMPERATURE_LIMIT = 0;
    ParameterEditor e(state);
    std::vector<RangeProblem> problems;
    EXPECT_FALSE(e.Write(problems));
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(state.THREAD_CMD.load(), 0u);
    const std::string text = RefusalText(problems, TextSource());
    EXPECT_NE(text.find("Autosafe: CURRENT_LIMIT_LEVEL is 0, allowed 100 to 2000 mA"), std::string::npos);
    EXPECT_NE(text.find("Autosafe: OVERTEMPERATURE_LIMIT is 0, allowed 50 to 120 degrees C"),
              std::string::npos);
    // Not allowed at all: the factory set, or no copy of the valve's set after a read.
    e.Local().CURRENT_LIMIT_LEVEL = 100;
    e.Local().OVERTEMPERATURE_LIMIT = 50;
    state.params.WriteEnabled = 0;
    EXPECT_FALSE(e.Write(problems));
    EXPECT_TRUE(problems.empty());
    state.params.WriteEnabled = 1;
    EXPECT_TRUE(e.Write(problems));
    EXPECT_EQ(state.THREAD_CMD.load(), uint32_t{CMD_WRITE_PARAMETER});
    // Written: the read-back joins whatever stands in the word.
    e.OnParametersWritten();
    EXPECT_EQ(state.THREAD_CMD.load(), uint32_t{CMD_WRITE_PARAMETER | CMD_READ_PARAMETER});
}

TEST_F(ParameterEditorRules, SetChoiceSwitchesWithARead) {
    ParameterEditor e(state);
    std::vector<RangeProblem> problems;
    EXPECT_FALSE(e.ChooseSet(0, problems)); // already custom
    EXPECT_TRUE(e.ChooseSet(1, problems));
    EXPECT_EQ(state.THREAD_CMD.load(), uint32_t{CMD_FACTORY_SET | CMD_READ_PARAMETER});
    EXPECT_EQ(state.params.EditBlock.PARAMETER_SET, 1);
    EXPECT_EQ(state.params.WriteEnabled, 0);
    state.THREAD_CMD = 0;
    EXPECT_FALSE(e.Buttons().write);
    // The switch telegram carries the configuration flags: a damaged one is not sent either.
    e.Local().AUTOSAFE = 7;
    EXPECT_FALSE(e.ChooseSet(0, problems));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_STREQ(problems[0].field->name, "AUTOSAFE");
    EXPECT_EQ(state.THREAD_CMD.load(), 0u);
    // The read that follows brings the valve's choice.
    ValveRead();
    state.params.ValveBlock.PARAMETER_SET = 0;
    e.OnParametersRead();
    EXPECT_EQ(e.Local().PARAMETER_SET, 0);
}

} // namespace
