// The rules behind what a new user meets first: the connection field, why a command is disabled,
// where F1 finds the guide, where a restored window goes and the warning about an unusable port.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/MainFrameRules.h"
#include "app/SerialPortRules.h"
#include "engine/QlnState.h"
#include "system/Clock.h"

namespace fs = std::filesystem;

namespace {
class MapLibrary : public ITextLibrary {
public:
    explicit MapLibrary(std::map<unsigned, std::string> texts) : texts_(std::move(texts)) {}
    std::optional<std::string> Find(unsigned id) const override {
        auto it = texts_.find(id);
        return it == texts_.end() ? std::nullopt : std::optional<std::string>(it->second);
    }

private:
    std::map<unsigned, std::string> texts_;
};

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qln-first-use-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    std::string Touch(const std::string& relative, mode_t mode = 0644) {
        const fs::path p = dir_ / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "guide\n";
        ::chmod(p.c_str(), mode);
        return p.string();
    }
    fs::path dir_;
};
} // namespace

TEST(ConnectionField, NamesPortDeviceAndEachLineState) {
    ManualClock clock;
    QlnState s(clock);
    const TextSource texts;
    s.link.DevicePath[0] = "/dev/ttyUSB0";
    EXPECT_EQ(ConnectionText(texts, s), "COM1 /dev/ttyUSB0 \u2014 not connected");

    // Open at a known speed.
    s.link.PortOpen = 1;
    s.link.BaudIndex = 3;
    EXPECT_EQ(ConnectionText(texts, s), "COM1 /dev/ttyUSB0 \u2014 57600 baud");
    s.link.BaudIndex = 2;
    EXPECT_EQ(ConnectionText(texts, s), "COM1 /dev/ttyUSB0 \u2014 19200 baud");
    // The speed is being determined again (a new port was confirmed): not connected yet.
    s.link.BaudIndex = 0;
    EXPECT_EQ(ConnectionText(texts, s), "COM1 /dev/ttyUSB0 \u2014 not connected");

    // How the last exchange failed.
    s.link.BaudIndex = 3;
    s.LastFailure = LineFailure::NoAnswer;
    EXPECT_EQ(ConnectionText(texts, s), "COM1 /dev/ttyUSB0 \u2014 valve not answering");
    for (LineFailure f : {LineFailure::Refused, LineFailure::Damaged, LineFailure::FirmwareZero}) {
        s.LastFailure = f;
        EXPECT_EQ(ConnectionText(texts, s), "COM1 /dev/ttyUSB0 \u2014 valve replies unusable");
    }
    // A telegram that could not be sent says nothing about the valve.
    s.LastFailure = LineFailure::NotSent;
    EXPECT_EQ(ConnectionText(texts, s), "COM1 /dev/ttyUSB0 \u2014 57600 baud");

    // The port would not open at all.
    s.link.PortOpen = 0;
    s.LastFailure = LineFailure::None;
    s.link.LastOpenErrno = EACCES;
    s.link.PortIndex = 2;
    EXPECT_EQ(ConnectionText(texts, s), "COM3 /dev/ttyS2 \u2014 cannot be opened");

    // The built-in valve stands in for the device.
    s.link.LastOpenErrno = 0;
    s.link.uTestMode = 1;
    s.link.PortOpen = 1;
    s.link.BaudIndex = 2;
    EXPECT_EQ(ConnectionText(texts, s), "COM3 simulated valve \u2014 19200 baud");
}

TEST(ConnectionField, TakesALibrarysWordsAndNeverReportsTheirLack) {
    ManualClock clock;
    QlnState s(clock);
    MapLibrary german({{410, "{0} ({1}): nicht verbunden"}});
    int reports = 0;
    const TextSource texts(&german, [&](const std::string&, const std::string&) { ++reports; });
    s.link.DevicePath[0] = "/dev/qln-no-such-port";
    EXPECT_EQ(ConnectionText(texts, s), "COM1 (/dev/qln-no-such-port): nicht verbunden");
    s.link.PortLost = 1;
    // A library of an older version lacks the text: the program's own, without a box a second.
    EXPECT_EQ(ConnectionText(texts, s), "COM1 /dev/qln-no-such-port \u2014 device gone");
    EXPECT_EQ(reports, 0);
}

TEST(DisabledCommands, SayWhyByTheirRule) {
    const TextSource texts;
    EXPECT_EQ(DisabledReason(texts, ID_VALVE_INFO, CMD_READ_STATUS, false), "");
    // Read the rule from a row that is built and waits for an idle engine, whichever that is now.
    for (const CommandRow& row : COMMANDS) {
        if (row.rule != RULE_IDLE_ENGINE) continue;
        EXPECT_EQ(DisabledReason(texts, row.id, 0, false), "") << row.id;
        EXPECT_EQ(DisabledReason(texts, row.id, CMD_RAMP_MODE, false), "Stop the recording first") << row.id;
        EXPECT_EQ(DisabledReason(texts, row.id, CMD_READ_PARAMETER, false),
                  "Wait until the valve has finished the running command")
            << row.id;
    }
    for (const CommandRow& row : COMMANDS) {
        if (row.rule != RULE_CALIBRATION_MODE) continue;
        EXPECT_EQ(DisabledReason(texts, row.id, 0, false), "Start with -CAL for calibration") << row.id;
        EXPECT_EQ(DisabledReason(texts, row.id, 0, true), "") << row.id;
    }
}

TEST_F(TempFolder, HelpIsFoundInTheProgramFolderBesideTheProgramOrInstalled) {
    const std::string work = (dir_ / "work").string();
    const std::string bin = (dir_ / "usr/bin").string();
    fs::create_directories(work);
    fs::create_directories(bin);
    const std::vector<std::string> english = HelpFileCandidates(work, bin, "");
    const std::vector<std::string> expected = {work + "/QLN.HLP", bin + "/QLN.HLP",
                                               bin + "/../share/qln/QLN.HLP"};
    EXPECT_EQ(english, expected);
    EXPECT_EQ(FirstRegularFile(english), "");

    // Installed only.
    Touch("usr/share/qln/QLN.HLP");
    EXPECT_EQ(FirstRegularFile(english), bin + "/../share/qln/QLN.HLP");
    // The German library's guide first, in each folder's "de"; an English one in the program
    // folder does not hide it.
    Touch("usr/share/qln/de/QLN.HLP");
    Touch("work/QLN.HLP");
    EXPECT_EQ(FirstRegularFile(HelpFileCandidates(work, bin, "de")), bin + "/../share/qln/de/QLN.HLP");
    EXPECT_EQ(FirstRegularFile(english), work + "/QLN.HLP");
    // A user's own in the program folder comes before the installed one.
    Touch("work/de/QLN.HLP");
    EXPECT_EQ(FirstRegularFile(HelpFileCandidates(work, bin, "de")), work + "/de/QLN.HLP");

    // A directory of that name is no guide, and a library cannot point outside the folders.
    fs::create_directories(dir_ / "usr/bin/QLN.HLP");
    EXPECT_EQ(FirstRegularFile({bin + "/QLN.HLP"}), "");
    EXPECT_EQ(HelpFileCandidates(work, bin, "../../etc"), english);
    // Without a program folder the file name alone: the working directory.
    EXPECT_EQ(HelpFileCandidates("", "", "").front(), "QLN.HLP");
}

TEST(RestoredWindow, KeepsItsTitleBarOnTheScreen) {
    const ScreenRect screen{0, 0, 1920, 1040};
    // The maximised size kept as the normal one: 80 %, centred.
    EXPECT_EQ(RestoredGeometry({0, 0, 1920, 1040}, screen), (ScreenRect{192, 104, 1536, 832}));
    // Partly off the screen (the title bar above it).
    EXPECT_EQ(RestoredGeometry({0, -30, 1920, 1070}, screen), (ScreenRect{192, 104, 1536, 832}));
    // A window the user placed stays.
    EXPECT_EQ(RestoredGeometry({100, 50, 800, 600}, screen), (ScreenRect{100, 50, 800, 600}));
    // A window that cannot be made that small is centred at its least size, within the area.
    EXPECT_EQ(RestoredGeometry({0, 0, 800, 800}, {0, 0, 800, 800}, 750, 300), (ScreenRect{25, 80, 750, 640}));
    EXPECT_EQ(RestoredGeometry({0, 0, 800, 800}, {0, 0, 800, 800}, 900, 300), (ScreenRect{0, 80, 800, 640}));
    // A second screen to the right, with a panel on top.
    EXPECT_EQ(RestoredGeometry({1920, 0, 1280, 1024}, {1920, 24, 1280, 1000}),
              (ScreenRect{2048, 124, 1024, 800}));
}

TEST_F(TempFolder, PortWarningNamesTheDeviceWhyAndTheFix) {
    const TextSource texts;
    const UserIds user{12345, {12345}};
    const std::string missing = (dir_ / "ttyUSB9").string();
    EXPECT_EQ(DeviceOpenProblem(missing, user), ENOENT);
    const std::string gone = PortWarning(texts, 2, missing, user);
    EXPECT_EQ(gone.rfind("COM3 is stored, but it cannot be used yet.\n\n", 0), 0u) << gone;
    EXPECT_NE(gone.find(missing), std::string::npos);
    EXPECT_NE(gone.find(std::strerror(ENOENT)), std::string::npos);
    EXPECT_NE(gone.find("[DEVICES]"), std::string::npos);

    // A device nobody but its owner (root) may use; a file with mode 000 stands in for it.
    const std::string locked = Touch("ttyUSB0", 0000);
    EXPECT_EQ(DeviceOpenProblem(locked, user), EACCES);
    const std::string denied = PortWarning(texts, 0, locked, user);
    EXPECT_EQ(denied.rfind("COM1 is stored", 0), 0u) << denied;
    EXPECT_NE(denied.find(locked), std::string::npos);
    EXPECT_NE(denied.find(std::strerror(EACCES)), std::string::npos);
    EXPECT_NE(denied.find("mode 0000"), std::string::npos) << denied;
    EXPECT_NE(denied.find("udev rule"), std::string::npos);
    // Root may open it all the same.
    EXPECT_EQ(PortWarning(texts, 0, locked, UserIds{0, {0}}), "");

    // Read and write for the group: a member may, anybody else may not.
    const std::string shared = Touch("ttyACM0", 0660);
    struct stat st {};
    ASSERT_EQ(::stat(shared.c_str(), &st), 0);
    EXPECT_EQ(DeviceOpenProblem(shared, UserIds{st.st_uid + 1000, {st.st_gid}}), 0);
    EXPECT_EQ(DeviceOpenProblem(shared, UserIds{st.st_uid + 1000, {st.st_gid + 1000}}), EACCES);
    // The owner is judged by the owner's bits alone, whatever the others may.
    const std::string odd = Touch("ttyS9", 0066);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(odd.c_str(), 4242, 4343), 0);
    }
    ASSERT_EQ(::stat(odd.c_str(), &st), 0);
    EXPECT_EQ(DeviceOpenProblem(odd, UserIds{st.st_uid, {st.st_gid}}), EACCES);
    EXPECT_EQ(DeviceOpenProblem(odd, UserIds{st.st_uid + 1, {st.st_gid}}), 0);
}
