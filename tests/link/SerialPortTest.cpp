#include <gtest/gtest.h>

#include <tuple>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>

#include "link/LinkTestSupport.h"
#include "link/SerialPort.h"

using namespace linktest;

namespace {
// Real time, but counts the receiver's waits, so that a busy loop shows.
class CountingClock : public RealClock {
public:
    int Poll(pollfd* fds, size_t count, uint32_t timeoutMs) override {
        polls.fetch_add(1);
        return RealClock::Poll(fds, count, timeoutMs);
    }
    std::atomic<int> polls{0};
};

int InputQueued(int fd) {
    int n = -1;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

std::string Info(const std::string& text) {
    return "Info '" + text + "'";
}

// The system's answers about USB and low latency, as a test chooses them.
class FakeLatency : public SerialLatency {
public:
    FakeLatency(bool usb, int refusal) : usb(usb), refusal(refusal) {}
    bool OnUsb(SerialHandle) override { return usb; }
    bool RequestLowLatency(SerialHandle, int* err) override {
        ++requests;
        *err = refusal;
        return refusal == 0;
    }
    const bool usb;
    const int refusal;
    int requests = 0;
};
} // namespace

// The port driver against a pseudo-terminal standing in for COM1.
class LinkSerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        Select(s);
    }
    void Select(LinkState& state) {
        state.DevicePath[0] = pty.Slave();
        state.PortIndex.store(0);
        state.BaudIndex.store(2);
    }
    CountingClock clock;
    Pty pty;
    TracedLink link{clock};
    LinkState& s = *link.state;
};

TEST_F(LinkSerialPort, OpensRawAtTheChosenSpeed) {
    ASSERT_TRUE(InitComPort(s));
    EXPECT_EQ(s.PortOpen.load(), 1);
    const std::vector<std::string> opened{Info(" Init Com Port, Baudrate 19200"),
                                          Info(" RxQueue: 65536 bytes"), Info("ClearComPortInputBuffer: 0"),
                                          Info("ClearRcvQueue"),
                                          Info(" Init Com Port, ok with Baudrate: 19200")};
    EXPECT_EQ(link.Entries(), opened);

    termios tio{};
    ASSERT_EQ(::tcgetattr(s.PortFd.load(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
              static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP | IGNBRK | PARMRK), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    // Control characters pass untouched both ways: no CR/LF mapping, no XON/XOFF, no signals.
    const Bytes binary{0x03, 0x0D, 0x0A, 0x11, 0x13, 0x1A, 0x7F, 0xFF, 0x00};
    EXPECT_EQ(PortWrite(s, binary.data(), binary.size()), static_cast<long>(binary.size()));
    EXPECT_EQ(pty.Read(binary.size()), binary);
    pty.Write(binary);
    ASSERT_TRUE(WaitFor([&] { return PortBytesWaiting(s) == static_cast<int>(binary.size()); }));
    Bytes got(binary.size());
    EXPECT_EQ(PortRead(s, got.data(), got.size()), static_cast<long>(binary.size()));
    EXPECT_EQ(got, binary);

    EXPECT_EQ(CloseComPort(s), 0);
    EXPECT_EQ(s.PortOpen.load(), 0);
    EXPECT_EQ(s.PortFd.load(), -1);
    EXPECT_EQ(link.Entries().back(), Info(" Close Com Port"));
    const size_t entries = link.Entries().size();
    CloseComPort(s);
    EXPECT_EQ(link.Entries().size(), entries) << "closing a closed port writes nothing";
}

// DTR and RTS are held inactive once the port is open. A pseudo-terminal has no modem lines:
// Linux refuses TIOCMGET and TIOCMBIC on it with ENOTTY, and the open must go on regardless.
TEST_F(LinkSerialPort, ModemLinesAreDroppedWhereThereAreAnyAndTheirAbsenceKeepsNoPortShut) {
    ASSERT_TRUE(InitComPort(s));
    EXPECT_EQ(s.PortOpen.load(), 1);
    EXPECT_EQ(link.Entries().back(), Info(" Init Com Port, ok with Baudrate: 19200"));
    int lines = 0;
    if (::ioctl(s.PortFd.load(), TIOCMGET, &lines) == 0) {
        EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), 0);
    } else {
        EXPECT_TRUE(errno == ENOTTY || errno == EINVAL) << std::strerror(errno);
    }
}

// Low latency is asked for on a USB adapter only; a device that refuses it is used as it is.
TEST_F(LinkSerialPort, AsksAUsbAdapterForLowLatencyAndUsesOneThatRefusesAsItIs) {
    struct Case {
        bool usb;
        int refusal;
        const char* traced; // after the speed; "" for nothing
    };
    const Case cases[] = {
        {true, 0, " Low latency on"}, {true, EINVAL, " Low latency refused: 22"}, {false, 0, ""}};
    for (const Case& c : cases) {
        TracedLink other(clock);
        Select(*other.state);
        FakeLatency latency(c.usb, c.refusal);
        other.state->latency = &latency;
        ASSERT_TRUE(InitComPort(*other.state)) << c.traced;
        EXPECT_EQ(latency.requests, c.usb ? 1 : 0);
        std::vector<std::string> expected{Info(" Init Com Port, Baudrate 19200"),
                                          Info(c.traced),
                                          Info(" RxQueue: 65536 bytes"),
                                          Info("ClearComPortInputBuffer: 0"),
                                          Info("ClearRcvQueue"),
                                          Info(" Init Com Port, ok with Baudrate: 19200")};
        if (!c.usb) expected.erase(expected.begin() + 1);
        EXPECT_EQ(other.Entries(), expected);
    }
    // The system itself does not take a pseudo-terminal for a USB adapter.
    ASSERT_TRUE(InitComPort(s));
    EXPECT_FALSE(SystemSerialLatency().OnUsb(s.PortFd.load()));
}

TEST_F(LinkSerialPort, SecondOpenOfTheSameDeviceIsRefused) {
    ASSERT_TRUE(InitComPort(s));
    TracedLink other(clock);
    Select(*other.state);
    EXPECT_FALSE(InitComPort(*other.state));
    EXPECT_EQ(other.state->PortOpen.load(), 0);
    EXPECT_EQ(other.state->PortFd.load(), -1);
    EXPECT_EQ(LastOpenError(*other.state), EBUSY);
    EXPECT_EQ(other.Entries().back(), Info(" Init Com Port, Handle error: " + std::to_string(EBUSY)));
    EXPECT_NE(PortOpenAdvice(EBUSY, pty.Slave()).find("Another program"), std::string::npos);

    CloseComPort(s);
    EXPECT_TRUE(InitComPort(*other.state)) << "closing releases the device";
    CloseComPort(*other.state);
}

// Another process may keep the terminal open (the virtual valve keeps its own end open). The port
// is exclusive only while it is open here; left exclusive, the next open at the next line speed
// would be refused to anyone but root.
TEST_F(LinkSerialPort, ExclusiveOnlyWhileOpen) {
    const int holder = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    int exclusive = -1;
    ASSERT_TRUE(InitComPort(s));
    ASSERT_EQ(::ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    CloseComPort(s);
    ASSERT_EQ(::ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(holder);
}

TEST_F(LinkSerialPort, UnsupportedComOrBaudRateOpensNothing) {
    s.PortIndex.store(8);
    EXPECT_FALSE(InitComPort(s));
    s.PortIndex.store(0);
    s.BaudIndex.store(4);
    EXPECT_FALSE(InitComPort(s));
    EXPECT_EQ(link.Entries(), (std::vector<std::string>{Info(" Init Com Port, Baudrate 19200"),
                                                        Info(" Init Com Port, not supported Com: 8"),
                                                        Info(" Init Com Port, not supported Baudrate: 4")}));
    EXPECT_EQ(s.PortFd.load(), -1);
    EXPECT_EQ(s.PortOpen.load(), 0);
}

TEST_F(LinkSerialPort, UnknownBaudRateFailsAndClosesThePortAgain) {
    s.BaudIndex.store(0);
    EXPECT_FALSE(InitComPort(s));
    EXPECT_EQ(link.Entries(),
              (std::vector<std::string>{Info(" Init Com Port, unknown Baudrate"),
                                        Info(" Init Com Port, CommState error: " + std::to_string(EINVAL)),
                                        Info(" Close Com Port")}));
    EXPECT_EQ(s.PortOpen.load(), 0);
    EXPECT_EQ(s.PortFd.load(), -1);
    s.BaudIndex.store(3);
    EXPECT_TRUE(InitComPort(s)) << "the failed attempt has released the device";
    EXPECT_EQ(link.Entries().back(), Info(" Init Com Port, ok with Baudrate: 57600"));
}

TEST_F(LinkSerialPort, ClearInputBufferDrainsStaleBytes) {
    ClearComPortInputBuffer(s);
    EXPECT_TRUE(link.Entries().empty()) << "without an open port nothing is written";

    ASSERT_TRUE(InitComPort(s));
    pty.Write(Bytes(250, 0xA5));
    ASSERT_TRUE(WaitFor([&] { return InputQueued(s.PortFd.load()) == 250; }));
    ClearComPortInputBuffer(s);
    EXPECT_EQ(link.Entries().back(), Info("ClearComPortInputBuffer: 250"));
    EXPECT_EQ(InputQueued(s.PortFd.load()), 0);
}

TEST_F(LinkSerialPort, TestModeOpensNoDevice) {
    s.DevicePath[0] = link.dir.File("no-such-tty");
    EXPECT_FALSE(InitComPort(s));
    EXPECT_EQ(link.Entries().back(), Info(" Init Com Port, Handle error: " + std::to_string(ENOENT)));
    EXPECT_NE(PortOpenAdvice(LastOpenError(s), s.DevicePath[0]).find("plugged in"), std::string::npos);

    s.uTestMode.store(1);
    ASSERT_TRUE(InitComPort(s));
    EXPECT_EQ(s.PortOpen.load(), 1);
    EXPECT_EQ(s.PortFd.load(), -1);
    EXPECT_EQ(link.Entries().back(), Info(" Init Com Port, ok with Baudrate: 19200"));
}

TEST_F(LinkSerialPort, HangUpMarksThePortLostWithoutSpinning) {
    ASSERT_TRUE(InitComPort(s));
    s.RECEIVE_STATE.store(RECEIVE_AWAITED);
    s.RunStates[THREAD_READCOM].store(RUN_RUNNING);
    std::thread reader(ReadComThread, std::ref(s));

    pty.HangUp();
    EXPECT_TRUE(WaitFor([&] { return s.PortLost.load() == 1; }));
    EXPECT_EQ(s.PortOpen.load(), 0);
    // A lost port leaves the receiver blocked until it is woken, not retrying the dead device.
    // Marking the loss wakes the receiver once more, which may still be under way here: one
    // poll that returns at once and the one that blocks.
    clock.polls.store(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LE(clock.polls.load(), 2);
    s.RunStates[THREAD_READCOM].store(RUN_STOP_REQUESTED);
    WakeReceiver(s);
    reader.join();
    EXPECT_EQ(s.RunStates[THREAD_READCOM].load(), RUN_STOPPED);

    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(PortBytesWaiting(s), -1);
    EXPECT_EQ(PortRead(s, buf, sizeof buf), -1);
    EXPECT_EQ(PortWrite(s, buf, sizeof buf), -1);
    const auto entries = link.Entries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), Info(" Com Port lost, device gone")), 1);
}

TEST(LinkSerialPortAdvice, JoiningAGroupIsAdvisedOnlyWhenThatGroupMayUseTheDevice) {
    // crw-rw---- root:dialout: the group may read and write.
    const std::string join = AccessAdvice("/dev/ttyUSB0", 020660, "dialout", false, "dialout");
    EXPECT_NE(join.find("sudo usermod -aG dialout $USER"), std::string::npos) << join;
    EXPECT_EQ(join.find("udev"), std::string::npos) << join;

    // crw------- root:root and crw-r----- root:dialout: no group helps; a udev rule does.
    for (const auto& [mode, group, root] :
         {std::tuple{020600u, "root", true}, std::tuple{020640u, "dialout", false},
          std::tuple{020660u, "root", true}}) {
        const std::string rule = AccessAdvice("/dev/ttyUSB0", mode, group, root, "uucp");
        EXPECT_EQ(rule.find("usermod -aG root"), std::string::npos) << rule;
        EXPECT_NE(rule.find("Only root may open it"), std::string::npos) << rule;
        EXPECT_NE(rule.find("KERNEL==\"ttyUSB0\", GROUP=\"uucp\", MODE=\"0660\""), std::string::npos) << rule;
        EXPECT_NE(rule.find("sudo usermod -aG uucp $USER"), std::string::npos) << rule;
    }
    EXPECT_NE(AccessAdvice("/dev/ttyS3", 020600, "root", true, "").find("GROUP=\"dialout\""),
              std::string::npos);
    EXPECT_NE(AccessAdvice("/dev/ttyS3", 020600, "root", true, "").find("mode 0600"), std::string::npos);
}
