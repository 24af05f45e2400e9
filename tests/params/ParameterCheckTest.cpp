#include "params/ParameterCheck.h"

#include <gtest/gtest.h>

#include <limits>

namespace {
std::vector<std::string> Described(const ParameterBlock& b) {
    std::vector<std::string> out;
    for (const RangeProblem& p : CheckWrittenFields(b))
        out.push_back(DescribeProblem(p));
    return out;
}
} // namespace

TEST(ParameterCheck, TheDefaultsAndTheEdgesOfEveryRangeAreWritable) {
    EXPECT_TRUE(CheckWrittenFields(DefaultParameterBlock()).empty());
    ParameterBlock b = DefaultParameterBlock();
    b.PROPORTIONAL_GAIN = 0.01f; // slightly below 0.01 as a float
    b.INTEGRATION_TIME = 10.0f;
    b.SETPOINT_OFFSET = -50;
    b.CURRENT_LIMIT_LEVEL = 2000;
    b.DELAY_TIME = 7;
    b.CONTROLLER_STRUCTURE = 7;
    EXPECT_TRUE(CheckWrittenFields(b).empty());
}

TEST(ParameterCheck, ValuesOutsideLimitsOrListsAreNamedWithTheirRange) {
    ParameterBlock b = DefaultParameterBlock();
    b.CURRENT_LIMIT_LEVEL = 0;
    b.SETPOINT_OFFSET = 51;
    b.DEAD_BAND = std::numeric_limits<float>::infinity();
    b.DELAY_TIME = 8; // the list has 8 entries
    b.PARAMETER_SET = 2;
    b.LED_RED = -1;
    EXPECT_EQ(Described(b), (std::vector<std::string>{
                                "DEAD_BAND is inf, allowed 0.1 to 10.0 %",
                                "SETPOINT_OFFSET is 51, allowed -50 to 50 %",
                                "DELAY_TIME is 8, allowed 0 to 7",
                                "CURRENT_LIMIT_LEVEL is 0, allowed 100 to 2000 mA",
                                "LED_RED is -1, allowed 0 to 3",
                                "PARAMETER_SET is 2, allowed 0 to 1",
                            }));
}

TEST(ParameterCheck, FieldsThatAreNeverSentAreNotChecked) {
    ParameterBlock b = DefaultParameterBlock();
    b.SLAVE_GAIN = 0;
    b.AUTO_ZERO_VALUE = 9999;
    b.AUTO_ZERO_DP_VALUE = -9999;
    b.BLOCK_VALID = 77;
    EXPECT_TRUE(CheckWrittenFields(b).empty());
}

// What a write sends is the value rounded to the field's step, halves away from zero, as the
// decimal value the user sees: the bytes are those of the valve's protocol. (The editor's cases of
// the Parts, typed and from a project, go through the window in ParameterEditorTest.)
TEST(ParameterCheck, NumbersAreRoundedToWhatTheValveHoldsBeforeTheyAreSent) {
    const struct {
        const char* field;
        double value, rounded;
        ParamTelegram telegram;
        uint8_t sent;
    } cases[] = {
        {"SHUT_OFF_LEVEL", 2.25, 2.3, ParamTelegram::SLR, 23},
        {"RAMP_RISE_TIME", 1.15, 1.2, ParamTelegram::TRR, 12},
        {"LIMIT_SIZE", 33.3, 33.5, ParamTelegram::LSR, 67},
        // Integration Time is cut down to 0.05 s, with a tenth of a step of tolerance.
        {"INTEGRATION_TIME", 0.14, 0.10, ParamTelegram::TIR, 2},
        {"INTEGRATION_TIME", 0.146, 0.15, ParamTelegram::TIR, 3},
        // Outside the limits nothing moves: the write refuses it as it stands.
        {"CURRENT_LIMIT_LEVEL", 0, 0, ParamTelegram::ASR, 0},
        {"DEAD_BAND", 0.06, 0.06, ParamTelegram::DBR, 0},
    };
    for (const auto& c : cases) {
        const ParameterDescription& p = *FindParameter(c.field);
        ParameterBlock b = DefaultParameterBlock();
        SetValue(b, p, c.value);
        EXPECT_EQ(RoundToValveSteps(b), c.rounded != c.value) << c.field << " " << c.value;
        EXPECT_NEAR(GetValue(b, p), c.rounded, 1e-6) << c.field << " " << c.value;
        EXPECT_EQ(ParamTelegramByte(c.telegram, b), c.sent) << c.field << " " << c.value;
    }
}
