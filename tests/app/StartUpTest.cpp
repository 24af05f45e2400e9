#include "app/StartUp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

// Found by argument-dependent lookup, so it lives beside Switches.
void PrintTo(const Switches& s, std::ostream* os) {
    *os << "{log " << s.log << ", cal " << s.cal << ", testMode " << s.testMode << "}";
}

namespace {

TEST(StartUpSwitches, FoundAsSubstringsInAnyCase) {
    EXPECT_EQ(ParseSwitches(""), (Switches{false, false, false}));
    EXPECT_EQ(ParseSwitches("project.qpj"), (Switches{false, false, false}));
    EXPECT_EQ(ParseSwitches("-LOG"), (Switches{true, false, false}));
    EXPECT_EQ(ParseSwitches("-cal"), (Switches{false, true, false}));
    EXPECT_EQ(ParseSwitches("-Cal"), (Switches{false, true, false}));
    EXPECT_EQ(ParseSwitches("-testsio"), (Switches{false, false, true}));
    // Embedded in other letters, and two written together without a blank.
    EXPECT_EQ(ParseSwitches("xx-calibrate"), (Switches{false, true, false}));
    EXPECT_EQ(ParseSwitches("-logx-cal"), (Switches{true, true, false}));
    EXPECT_EQ(ParseSwitches("-LOG-CAL-TESTSIO"), (Switches{true, true, true}));
    EXPECT_EQ(ParseSwitches("-TestSio -log"), (Switches{true, false, true}));
    // Near misses.
    EXPECT_EQ(ParseSwitches("-CA L /LOG -TEST LOG CAL"), (Switches{false, false, false}));
    EXPECT_EQ(ParseSwitches("\xC3\xA4-cal\xFF"), (Switches{false, true, false}));
}

TEST(StartUpSwitches, OnlyTheFirst199CharactersCount) {
    std::string pad(195, ' ');
    EXPECT_TRUE(ParseSwitches(pad + "-CAL").cal);          // ends at character 199
    EXPECT_FALSE(ParseSwitches(pad + " -CAL").cal);        // ends at character 200
    EXPECT_TRUE(ParseSwitches(pad + "-LOGGING -CAL").log); // the log switch still fits
    EXPECT_FALSE(ParseSwitches(std::string(300, 'x') + "-TESTSIO").testMode);
}

TEST(StartUpSwitches, CommandLineIsTheArgumentsWithoutTheProgramPath) {
    const char* argv[] = {"/opt/my-calibration/qln", "-log", "project.qpj", nullptr};
    EXPECT_EQ(CommandLineOf(3, argv), "-log project.qpj");
    EXPECT_EQ(ParseSwitches(CommandLineOf(3, argv)), (Switches{true, false, false}));
    EXPECT_EQ(CommandLineOf(1, argv), "");
    EXPECT_EQ(CommandLineOf(0, nullptr), "");
}

TEST(StartUpTexts, ARefusedLibraryIsNotCalledMissing) {
    const std::string text = RefusedLibraryText("/opt/qln/Lang_dll.DLL", "line 3: no [STRINGTABLE] section");
    EXPECT_EQ(text.find("missing"), std::string::npos) << text;
    EXPECT_NE(
        text.find("'/opt/qln/Lang_dll.DLL' is there but cannot be used: line 3: no [STRINGTABLE] section"),
        std::string::npos)
        << text;
    EXPECT_STRNE(REFUSED_LIBRARY_CAPTION, "");
}

TEST(StartUpTexts, MissingLibraryMessageAndPaths) {
    EXPECT_EQ(MissingLibraryText("/home/user/qln/Lang_dll.DLL"),
              "LANGUAGE DLL missing '/home/user/qln/Lang_dll.DLL' !");
    // A path is not a format.
    EXPECT_EQ(MissingLibraryText("/tmp/%s%n%d/Lang_dll.DLL"),
              "LANGUAGE DLL missing '/tmp/%s%n%d/Lang_dll.DLL' !");
    EXPECT_EQ(LanguageLibraryPath("/home/user/qln"), "/home/user/qln/Lang_dll.DLL");
    EXPECT_EQ(LanguageLibraryPath("/"), "/Lang_dll.DLL");
    EXPECT_EQ(LanguageLibraryPath(""), "Lang_dll.DLL");
}

class StartUpFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qln-start-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
};

std::string Stamp(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char buf[64];
    return std::string(buf, std::strftime(buf, sizeof buf, "%Y%m%d %H%M%S", &local));
}

TEST_F(StartUpFiles, BuildStampIsTheFilesCreationTimeInLocalTime) {
    std::string program = (dir_ / "qln").string();
    std::time_t before = std::time(nullptr);
    { std::ofstream(program) << "x"; }
    std::time_t after = std::time(nullptr);

    std::string stamp = BuildStamp(program);
    ASSERT_EQ(stamp.size(), 15u) << stamp;
    EXPECT_TRUE(stamp >= Stamp(before - 1) && stamp <= Stamp(after + 1)) << stamp;

    // Changing the file later does not move a creation time; where the file system keeps none,
    // the modification time stands in.
    std::tm old{};
    old.tm_year = 2001 - 1900;
    old.tm_mon = 1;
    old.tm_mday = 3;
    old.tm_hour = 4;
    old.tm_min = 5;
    old.tm_sec = 6;
    old.tm_isdst = -1;
    timespec times[2] = {{std::mktime(&old), 0}, {std::mktime(&old), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, program.c_str(), times, 0), 0);
    std::string again = BuildStamp(program);
    EXPECT_TRUE(again == stamp || again == "20010203 040506") << again;

    EXPECT_EQ(BuildStamp((dir_ / "missing").string()), "");
    EXPECT_EQ(BuildStamp(""), "");
}

TEST_F(StartUpFiles, ProgramFolderIsTheWorkingDirectory) {
    std::string saved = ProgramFolder();
    ASSERT_FALSE(saved.empty());
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
    std::string folder = ProgramFolder();
    ASSERT_EQ(::chdir(saved.c_str()), 0);
    EXPECT_EQ(fs::canonical(folder), fs::canonical(dir_));
    EXPECT_EQ(LanguageLibraryPath(folder), folder + "/Lang_dll.DLL");
}

} // namespace
