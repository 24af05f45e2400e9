#include "settings/ParameterIni.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

#include "settings/IniFile.h"

namespace fs = std::filesystem;

namespace {
struct Loaded {
    ParameterBlock block{};
    VisibilityFlagArray flags{};
};

Loaded ReadText(const std::string& text) {
    IniFile ini;
    ini.Parse(text);
    Loaded l;
    ReadParameterIni(ini, l.block, l.flags);
    return l;
}

int RowOf(const char* key) {
    for (size_t i = 0; i < IniParameters().size(); ++i)
        if (std::string(IniParameters()[i].name) == key) return static_cast<int>(i);
    return -1;
}

// Reads `text`, writes the result back and returns VALUE_key of the rewritten file.
std::string RoundTrip(const std::string& section, const std::string& key, const std::string& value) {
    Loaded l = ReadText("[" + section + "]\nVALUE_" + key + "=" + value + "\n");
    IniFile out;
    StoreParameterIni(out, l.block, l.flags);
    return out.Get(section, "VALUE_" + key).value_or("<missing>");
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class ParameterIniFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qln-para-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};
} // namespace

TEST(ParameterIniRows, CoverEveryParameterOnceInEightSections) {
    std::set<std::string> keys, sections;
    for (const ParameterDescription& r : IniParameters()) {
        EXPECT_TRUE(keys.insert(r.name).second) << r.name;
        sections.insert(PageSection(r.page));
        EXPECT_NE(r.ini, IniConv::NotInFile) << r.name;
    }
    EXPECT_EQ(keys.size(), 57u);
    EXPECT_EQ(sections.size(), 8u);
}

TEST(ParameterIniRead, MissingKeysGiveTheDefaultsAndShowEverything) {
    Loaded l = ReadText("");
    for (uint8_t f : l.flags)
        EXPECT_EQ(f, 1);
    EXPECT_FLOAT_EQ(l.block.PROPORTIONAL_GAIN, 1.0f);
    EXPECT_FLOAT_EQ(l.block.INTEGRATION_TIME, 0.1f);
    EXPECT_FLOAT_EQ(l.block.DEAD_BAND, 0.1f);
    EXPECT_EQ(l.block.SETPOINT_OFFSET, -50);
    EXPECT_EQ(l.block.SETPOINT_SPAN, 50);
    EXPECT_EQ(l.block.PWM_FREQUENCY, 20);
    EXPECT_EQ(l.block.AUTO_ZERO_FEEDBACK, 1);
    EXPECT_EQ(l.block.AUTO_ZERO_DP_FEEDBACK, 1);
    EXPECT_EQ(l.block.CURRENT_LIMIT_LEVEL, 100);
    EXPECT_FLOAT_EQ(l.block.WINDOW_SIZE, 3.0f);
    EXPECT_EQ(l.block.DELAY_TIME, 0);
    EXPECT_EQ(l.block.COIL_ON_TIME, 0);
    EXPECT_EQ(l.block.COIL_OFF_TIME, 0);
    EXPECT_EQ(l.block.PARAMETER_SET, 0);
}

TEST(ParameterIniRead, OnlyExactlyShowShows) {
    Loaded l = ReadText("[CONTROL_PARAMETER]\nFORWARD_OFFSET=show\nDEAD_BAND=HIDE\nPWM_FREQUENCY=SHOWN\n"
                        "I_VALUE=SHOW\n[control_parameter]\n");
    EXPECT_EQ(l.flags[RowOf("FORWARD_OFFSET")], 0);
    EXPECT_EQ(l.flags[RowOf("DEAD_BAND")], 0);
    EXPECT_EQ(l.flags[RowOf("PWM_FREQUENCY")], 0);
    EXPECT_EQ(l.flags[RowOf("I_VALUE")], 1);
    IniFile out;
    StoreParameterIni(out, l.block, l.flags);
    EXPECT_EQ(out.Get("CONTROL_PARAMETER", "FORWARD_OFFSET"), "HIDE");
    EXPECT_EQ(out.Get("CONTROL_PARAMETER", "I_VALUE"), "SHOW");
}

TEST(ParameterIniRead, TouchesNoFieldOutsideTheTable) {
    IniFile ini;
    ParameterBlock b{};
    b.BLOCK_VALID = 7;
    b.AUTO_ZERO_VALUE = 8;
    b.AUTO_ZERO_DP_VALUE = 9;
    b.SLAVE_GAIN = 2.5f;
    b.PARAMETER_SET = 1;
    VisibilityFlagArray flags{};
    ReadParameterIni(ini, b, flags);
    EXPECT_EQ(b.BLOCK_VALID, 7);
    EXPECT_EQ(b.AUTO_ZERO_VALUE, 8);
    EXPECT_EQ(b.AUTO_ZERO_DP_VALUE, 9);
    EXPECT_FLOAT_EQ(b.SLAVE_GAIN, 2.5f);
    EXPECT_EQ(b.PARAMETER_SET, 0);
}

TEST(ParameterIniValues, AreReadAndWrittenInTheirFormats) {
    EXPECT_EQ(RoundTrip("CONTROL_PARAMETER", "PROPORTIONAL_GAIN", "1.234"), "1.23");
    EXPECT_EQ(RoundTrip("CONTROL_PARAMETER", "DEAD_BAND", "0.26"), "0.3");
    EXPECT_EQ(RoundTrip("CONTROL_PARAMETER", "FORWARD_OFFSET", "abc"), "0");
    EXPECT_EQ(RoundTrip("CONTROL_PARAMETER", "FORWARD_OFFSET", "  -12xyz"), "-12");
    EXPECT_EQ(RoundTrip("CONTROL_PARAMETER", "FORWARD_OFFSET", "99999999999999999999"), "2147483647");
    EXPECT_EQ(RoundTrip("SETPOINT_PARAMETER", "SETPOINT_OFFSET", "-50"), "-50");
    // A comma is where the number ends, as in the C conversion: "1,5" is 1.
    EXPECT_EQ(RoundTrip("CONTROL_PARAMETER", "FORWARD_GAIN", "1,5"), "1.00");
    // Not numbers anybody means: they must not travel on into projects and the valve.
    EXPECT_EQ(RoundTrip("CONTROL_PARAMETER", "FORWARD_GAIN", "nan"), "0.00");
    EXPECT_EQ(RoundTrip("CONTROL_PARAMETER", "FORWARD_GAIN", "inf"), "0.00");
}

TEST(ParameterIniValues, SecondsBecomeIndicesAndBack) {
    EXPECT_EQ(RoundTrip("AUTOSAFE_PARAMETER", "DELAY_TIME", "12"), "10");
    EXPECT_EQ(RoundTrip("AUTOSAFE_PARAMETER", "DELAY_TIME", "40"), "40");
    EXPECT_EQ(RoundTrip("AUTOSAFE_PARAMETER", "DELAY_TIME", "0"), "0"); // index -1
    EXPECT_EQ(ReadText("[AUTOSAFE_PARAMETER]\nVALUE_DELAY_TIME=0\n").block.DELAY_TIME, -1);
    EXPECT_EQ(RoundTrip("AUTOSAFE_PARAMETER", "COIL_OFF_TIME", "16"), "16");
    EXPECT_EQ(ReadText("[AUTOSAFE_PARAMETER]\nVALUE_COIL_OFF_TIME=16\n").block.COIL_OFF_TIME, 7);
    EXPECT_EQ(RoundTrip("AUTOSAFE_PARAMETER", "COIL_ON_TIME", "3"), "0.5");
    EXPECT_EQ(RoundTrip("AUTOSAFE_PARAMETER", "COIL_ON_TIME", "4.0"), "4.0");
    EXPECT_EQ(ReadText("[AUTOSAFE_PARAMETER]\nVALUE_COIL_ON_TIME=2\n").block.COIL_ON_TIME, 2);
    EXPECT_EQ(ReadText("[AUTOSAFE_PARAMETER]\nVALUE_DELAY_TIME=-2147483648\n").block.DELAY_TIME, -429496730);
}

TEST_F(ParameterIniFile, FirstStartCreatesAllKeysWithTheDefaults) {
    Loaded l;
    std::string error;
    ASSERT_TRUE(ReadParameterIniFile(dir_.string(), l.block, l.flags, &error)) << error;
    ASSERT_TRUE(WriteParameterIniFile(dir_.string(), l.block, l.flags, &error)) << error;
    IniFile ini;
    ASSERT_TRUE(ini.Load((dir_ / "QLN_para.ini").string()));
    const std::string text = ReadAll(dir_ / "QLN_para.ini");
    size_t keys = 0, sections = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("[", 0) == 0) ++sections;
        if (line.find('=') != std::string::npos) ++keys;
    }
    EXPECT_EQ(sections, 8u);
    EXPECT_EQ(keys, 114u);
    EXPECT_EQ(ini.Get("SETPOINT_PARAMETER", "VALUE_SETPOINT_OFFSET"), "-50");
    EXPECT_EQ(ini.Get("AUTOSAFE_PARAMETER", "VALUE_COIL_ON_TIME"), "0.5");
    EXPECT_EQ(ini.Get("AUTOSAFE_PARAMETER", "VALUE_DELAY_TIME"), "5");
    EXPECT_EQ(ini.Get("CONTROL_PARAMETER", "VALUE_PROPORTIONAL_GAIN"), "1.00");
    EXPECT_EQ(ini.Get("CONTROL_PARAMETER", "VALUE_DEAD_BAND"), "0.1");
    EXPECT_EQ(ini.Get("ERROR_PARAMETER", "SETPOINT_RANGE_DETECTION"), "SHOW");
    // The writer's order is the table's.
    EXPECT_LT(text.find("[CONTROL_PARAMETER]"), text.find("[SETPOINT_PARAMETER]"));
    EXPECT_LT(text.find("VALUE_PROPORTIONAL_GAIN"), text.find("FORWARD_OFFSET"));
}

TEST_F(ParameterIniFile, KeepsTheUsersOtherLinesAndWritesDotsInAnyLocale) {
    {
        std::ofstream f(dir_ / "QLN_para.ini");
        f << "; site defaults\n[CONTROL_PARAMETER]\nVALUE_PROPORTIONAL_GAIN=2.5\nNOTE=keep "
             "me\n[OTHER]\nX=1\n";
    }
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    // Where the comma locale exists it must not change the file; where it does not, C is used.
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    Loaded l;
    ASSERT_TRUE(ReadParameterIniFile(dir_.string(), l.block, l.flags));
    ASSERT_TRUE(WriteParameterIniFile(dir_.string(), l.block, l.flags));
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_FLOAT_EQ(l.block.PROPORTIONAL_GAIN, 2.5f);
    const std::string text = ReadAll(dir_ / "QLN_para.ini");
    EXPECT_NE(text.find("; site defaults"), std::string::npos);
    EXPECT_NE(text.find("NOTE=keep me"), std::string::npos);
    EXPECT_NE(text.find("[OTHER]"), std::string::npos);
    EXPECT_NE(text.find("VALUE_PROPORTIONAL_GAIN=2.50"), std::string::npos);
    EXPECT_EQ(text.find(','), std::string::npos);
}

TEST_F(ParameterIniFile, AnUnreadableFileIsReportedAndLeftAlone) {
    // A directory where the file should be: it cannot be read, so it must not be replaced.
    fs::create_directory(dir_ / "QLN_para.ini");
    Loaded l;
    std::string error;
    EXPECT_FALSE(ReadParameterIniFile(dir_.string(), l.block, l.flags, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(l.block.SETPOINT_OFFSET, -50); // the defaults still apply
    error.clear();
    EXPECT_FALSE(WriteParameterIniFile(dir_.string(), l.block, l.flags, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(dir_ / "QLN_para.ini"));
}
