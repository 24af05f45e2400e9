#include "settings/ComSettings.h"

#include <gtest/gtest.h>

#include "support/EngineHarness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using qln_test::ReadWholeFile;
using qln_test::WriteWholeFile;

class ComSettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qln-com-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/QLN_com.ini";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void Write(std::string_view text) { WriteWholeFile(path_, text); }
    int PortIn(std::string_view text) {
        Write(text);
        return ReadComSettings(dir_).PortIndex;
    }
    std::string dir_;
    std::string path_;
};

const ComSettings kDefaults;

} // namespace

TEST(ComSettingsNames, PathAndPortNames) {
    EXPECT_EQ(ComSettingsPath(""), "QLN_com.ini");
    EXPECT_EQ(ComSettingsPath("/opt/qln"), "/opt/qln/QLN_com.ini");
    EXPECT_EQ(ComSettingsPath("/opt/qln/"), "/opt/qln/QLN_com.ini");
    EXPECT_EQ(ComSettingsPath("/"), "/QLN_com.ini");

    EXPECT_STREQ(ComName(0), "COM1");
    EXPECT_STREQ(ComName(7), "COM8");
    EXPECT_STREQ(ComName(-1), "COM1");
    EXPECT_STREQ(ComName(8), "COM1");

    for (int i = 0; i < kComPortCount; ++i)
        EXPECT_EQ(kDefaults.DevicePath[static_cast<size_t>(i)], DefaultDevicePath(i));
    EXPECT_EQ(kDefaults.DevicePath[0], "/dev/ttyS0");
    EXPECT_EQ(kDefaults.DevicePath[7], "/dev/ttyS7");
    EXPECT_EQ(kDefaults.PortIndex, 0);
}

// ---------------------------------------------------------------------------------------------
// Reading

TEST_F(ComSettingsFile, MissingFileSelectsCom1WithDefaultDevices) {
    std::string error;
    ComSettings s = ReadComSettings(dir_, &error);
    EXPECT_EQ(s.PortIndex, 0);
    EXPECT_EQ(s.DevicePath, kDefaults.DevicePath);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(s.warning, "") << "the first start is no fault";
}

TEST_F(ComSettingsFile, EachPortNameSelectsItsIndex) {
    for (int i = 0; i < kComPortCount; ++i)
        EXPECT_EQ(PortIn(std::string("[SERIAL-PORT]\r\nPORT=") + ComName(i) + "\r\n"), i) << ComName(i);
}

TEST_F(ComSettingsFile, OnlyTheExactUpperCaseNameCounts) {
    for (const char* bad : {"com2", "Com2", "COM2x", "COM22", "COM 2", "COM9", "COM0", "COM", "2", ""}) {
        EXPECT_EQ(PortIn(std::string("[SERIAL-PORT]\nPORT=") + bad + "\n"), 0) << '"' << bad << '"';
    }
    // A name longer than the 99 characters read is no port name either.
    EXPECT_EQ(PortIn("[SERIAL-PORT]\nPORT=COM2" + std::string(200, ' ') + "x\n"), 0);
}

TEST_F(ComSettingsFile, SectionAndKeyAreFoundWhateverTheirCaseAndSpacing) {
    EXPECT_EQ(PortIn("[serial-port]\nport=COM4\n"), 3);
    EXPECT_EQ(PortIn("; written by hand\n[ Serial-Port ]\n  Port =  COM6  \n"), 5);
    EXPECT_EQ(PortIn("[SERIAL-PORT]\nPORT=COM3"), 2); // no newline at the end
    EXPECT_EQ(PortIn("[OTHER]\nPORT=COM3\n"), 0);
}

TEST_F(ComSettingsFile, DevicesSectionMapsPortNamesToDevices) {
    Write("[SERIAL-PORT]\r\nPORT=COM3\r\n"
          "[DEVICES]\r\n"
          "COM1=/dev/ttyUSB0\r\n"
          "com3 = /dev/ttyACM1\r\n"
          "COM2=\r\n"
          "COM8=/dev/serial/by-id/usb-adapter port0\r\n"
          "COM9=/dev/ttyUSB9\r\n");
    ComSettings s = ReadComSettings(dir_);
    EXPECT_EQ(s.PortIndex, 2);
    std::array<std::string, kComPortCount> expected = kDefaults.DevicePath;
    expected[0] = "/dev/ttyUSB0";
    expected[2] = "/dev/ttyACM1";
    expected[7] = "/dev/serial/by-id/usb-adapter port0";
    EXPECT_EQ(s.DevicePath, expected);
}

TEST_F(ComSettingsFile, UnusableDevicePathsKeepTheDefault) {
    std::string text = "[DEVICES]\nCOM1=/dev/tty";
    text += '\0';
    text += "USB0\nCOM2=/dev/" + std::string(5000, 'x') + "\nCOM3=/dev/ttyUSB3\n";
    Write(text);
    ComSettings s = ReadComSettings(dir_);
    EXPECT_EQ(s.DevicePath[0], "/dev/ttyS0");
    EXPECT_EQ(s.DevicePath[1], "/dev/ttyS1");
    EXPECT_EQ(s.DevicePath[2], "/dev/ttyUSB3");
}

TEST_F(ComSettingsFile, GarbageGivesDefaults) {
    std::string garbage;
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 256; ++c)
            garbage += static_cast<char>(c * 7 + i);
    Write(garbage);
    ComSettings s = ReadComSettings(dir_);
    EXPECT_EQ(s.PortIndex, 0);
    EXPECT_EQ(s.DevicePath, kDefaults.DevicePath);
}

TEST_F(ComSettingsFile, UnreadableFileGivesDefaultsAndSaysWhy) {
    ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
    std::string error;
    ComSettings s = ReadComSettings(dir_, &error);
    EXPECT_EQ(s.PortIndex, 0);
    EXPECT_EQ(s.DevicePath, kDefaults.DevicePath);
    EXPECT_NE(error.find("QLN_com.ini"), std::string::npos) << error;
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST_F(ComSettingsFile, WriteCreatesAMissingFile) {
    std::string error;
    ASSERT_TRUE(WriteComSettings(dir_, 2, &error)) << error;
    EXPECT_EQ(ReadWholeFile(path_), "[SERIAL-PORT]\r\nPORT=COM3\r\n");
    EXPECT_EQ(ReadComSettings(dir_).PortIndex, 2);
}

TEST_F(ComSettingsFile, EveryIndexRoundTripsAndOthersBecomeCom1) {
    for (int i = 0; i < kComPortCount; ++i) {
        ASSERT_TRUE(WriteComSettings(dir_, i));
        EXPECT_EQ(ReadComSettings(dir_).PortIndex, i);
    }
    for (int bad : {-1, 8, 1000}) {
        ASSERT_TRUE(WriteComSettings(dir_, bad));
        EXPECT_EQ(ReadWholeFile(path_), "[SERIAL-PORT]\r\nPORT=COM1\r\n") << bad;
    }
}

TEST_F(ComSettingsFile, InvalidNameIsRewrittenInPlace) {
    Write("[serial-port]\nport=com2\nBAUD=legacy\n");
    ComSettings s = ReadComSettings(dir_);
    ASSERT_EQ(s.PortIndex, 0);
    ASSERT_TRUE(WriteComSettings(dir_, s.PortIndex));
    EXPECT_EQ(ReadWholeFile(path_), "[serial-port]\r\nport=COM1\r\nBAUD=legacy\r\n");
}

TEST_F(ComSettingsFile, RewriteKeepsDevicesAndEverythingElse) {
    const std::string before = "; serial settings\n"
                               "[DEVICES]\n"
                               "COM2=/dev/ttyUSB0\n"
                               "\n"
                               "[SERIAL-PORT]\n"
                               "PORT=COM1\n"
                               "\n"
                               "[VENDOR]\n"
                               "Z=1\n"
                               "A=2\n";
    Write(before);
    ASSERT_TRUE(WriteComSettings(dir_, 1));
    EXPECT_EQ(ReadWholeFile(path_), "; serial settings\r\n"
                                    "[DEVICES]\r\n"
                                    "COM2=/dev/ttyUSB0\r\n"
                                    "\r\n"
                                    "[SERIAL-PORT]\r\n"
                                    "PORT=COM2\r\n"
                                    "\r\n"
                                    "[VENDOR]\r\n"
                                    "Z=1\r\n"
                                    "A=2\r\n");
    ComSettings s = ReadComSettings(dir_);
    EXPECT_EQ(s.PortIndex, 1);
    EXPECT_EQ(s.DevicePath[1], "/dev/ttyUSB0");
}

TEST_F(ComSettingsFile, WriteAddsTheSectionToAFileWithoutIt) {
    Write("[DEVICES]\nCOM1=/dev/ttyUSB0");
    ASSERT_TRUE(WriteComSettings(dir_, 4));
    EXPECT_EQ(ReadWholeFile(path_), "[DEVICES]\r\nCOM1=/dev/ttyUSB0\r\n\r\n[SERIAL-PORT]\r\nPORT=COM5\r\n");
    ComSettings s = ReadComSettings(dir_);
    EXPECT_EQ(s.PortIndex, 4);
    EXPECT_EQ(s.DevicePath[0], "/dev/ttyUSB0");
}

TEST_F(ComSettingsFile, WriteKeepsGarbageItCannotUnderstand) {
    std::string garbage;
    for (int c = 0; c < 256; ++c)
        if (c != '\n' && c != '\r') garbage += static_cast<char>(c);
    Write(garbage);
    ASSERT_TRUE(WriteComSettings(dir_, 6));
    std::string after = ReadWholeFile(path_);
    EXPECT_EQ(after.substr(0, garbage.size()), garbage);
    EXPECT_EQ(ReadComSettings(dir_).PortIndex, 6);
}

TEST_F(ComSettingsFile, UnreadableFileIsNotOverwritten) {
    ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
    std::string error;
    EXPECT_FALSE(WriteComSettings(dir_, 1, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(path_));

    // A file that is refused for its size could be replaced, but that would lose whatever it holds.
    ASSERT_EQ(::rmdir(path_.c_str()), 0);
    Write("[DEVICES]\nCOM1=/dev/ttyUSB0\n");
    const auto size = static_cast<off_t>(32u * 1024u * 1024u);
    ASSERT_EQ(::truncate(path_.c_str(), size), 0);
    error.clear();
    EXPECT_FALSE(WriteComSettings(dir_, 1, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(fs::file_size(path_), static_cast<uintmax_t>(size));
}

TEST_F(ComSettingsFile, WriteIntoAMissingFolderFails) {
    std::string error;
    EXPECT_FALSE(WriteComSettings(dir_ + "/missing", 1, &error));
    EXPECT_FALSE(error.empty());
}

constexpr const char* kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

TEST_F(ComSettingsFile, DeviceWriteReplacesOrAddsOnlyItsEntry) {
    Write("; bench 3\n[SERIAL-PORT]\nPORT=COM2\n[DEVICES]\nCOM2 = /dev/ttyUSB0\nCOM5=/dev/ttyACM0\n");
    ASSERT_TRUE(WriteComDevice(dir_, 1, kById));
    ASSERT_TRUE(WriteComDevice(dir_, 0, "/dev/ttyUSB1"));
    const std::string written =
        "; bench 3\r\n[SERIAL-PORT]\r\nPORT=COM2\r\n[DEVICES]\r\nCOM2 = " + std::string(kById) +
        "\r\nCOM5=/dev/ttyACM0\r\nCOM1=/dev/ttyUSB1\r\n";
    EXPECT_EQ(ReadWholeFile(path_), written);
    // What could not be read back as the same path is refused, and the file stays as it was.
    for (const std::string& bad : {std::string(), std::string("/dev/tty\nUSB0"), std::string(" /dev/ttyUSB0"),
                                   std::string("/dev/tty\0USB0", 13), std::string(5000, 'a')}) {
        std::string error;
        EXPECT_FALSE(WriteComDevice(dir_, 2, bad, &error));
        EXPECT_NE(error.find("cannot be stored as the device of COM3"), std::string::npos) << error;
    }
    EXPECT_FALSE(WriteComDevice(dir_, 8, "/dev/ttyUSB0"));
    EXPECT_EQ(ReadWholeFile(path_), written);
    fs::remove(path_); // no file yet: the section is made
    ASSERT_TRUE(WriteComDevice(dir_, 7, kById));
    EXPECT_EQ(ReadComSettings(dir_).DevicePath[7], kById);
}

TEST_F(ComSettingsFile, SpeedsAreFoundByTheExactPathAndOnlyTheirEntryIsWritten) {
    const std::string byId = kById;
    Write("[SERIAL-PORT]\nPORT=COM2\n[SPEEDS]\n" + byId +
          "=57600\n/dev/ttyUSB0 = 19200\n/dev/ttyUSB1=38400\n; by hand\n[DEVICES]\nCOM2=" + byId + "\n");
    const ComSettings com = ReadComSettings(dir_);
    const std::pair<std::string, int> remembered[] = {{byId, 57600},
                                                      {"/dev/ttyUSB0", 19200},
                                                      {"/dev/ttyUSB1", 0},
                                                      {"/dev/ttyusb0", 0},
                                                      {"/dev/serial/by-id", 0}};
    for (const auto& [device, baud] : remembered)
        EXPECT_EQ(RememberedSpeed(com, device), baud) << device;
    ASSERT_TRUE(WriteRememberedSpeed(dir_, byId, 19200));
    ASSERT_TRUE(WriteRememberedSpeed(dir_, "/dev/ttyUSB1", 57600));
    ASSERT_TRUE(WriteRememberedSpeed(dir_, "/dev/ttyACM0", 57600));
    // A path the file cannot give back as the same key is not remembered, and that is no failure.
    for (const char* device : {" /dev/ttyUSB3", "/dev/a=b", ";dev", "/dev/a\nb", "/dev/TTYUSB0", ""})
        EXPECT_TRUE(WriteRememberedSpeed(dir_, device, 57600)) << device;
    EXPECT_FALSE(WriteRememberedSpeed(dir_, "/dev/ttyUSB3", 9600));
    EXPECT_EQ(ReadWholeFile(path_),
              "[SERIAL-PORT]\r\nPORT=COM2\r\n[SPEEDS]\r\n" + byId +
                  "=19200\r\n/dev/ttyUSB0 = 19200\r\n/dev/ttyUSB1=57600\r\n; by hand\r\n"
                  "/dev/ttyACM0=57600\r\n[DEVICES]\r\nCOM2=" +
                  byId + "\r\n");
    // No file: made with the port it meant anyway, so it reads without a warning.
    fs::remove(path_);
    ASSERT_TRUE(WriteRememberedSpeed(dir_, byId, 57600));
    EXPECT_EQ(ReadWholeFile(path_), "[SERIAL-PORT]\r\nPORT=COM1\r\n\r\n[SPEEDS]\r\n" + byId + "=57600\r\n");
    EXPECT_TRUE(ReadComSettings(dir_).warning.empty());
    // A file that cannot be read is left alone.
    fs::remove(path_);
    fs::create_directory(path_);
    std::string error;
    EXPECT_FALSE(WriteRememberedSpeed(dir_, byId, 57600, &error));
    EXPECT_NE(error.find("QLN_com.ini"), std::string::npos) << error;
}
