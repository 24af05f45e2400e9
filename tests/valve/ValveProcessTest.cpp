// The real qln-valve program on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Cli.h"
#include "link/LinkState.h"
#include "support/EngineHarness.h"
#include "support/ValveProcess.h"

extern char** environ;

using qln_test::ValveProcess;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The program's end of the line, set up as the serial port driver sets up a real port.
class Line {
public:
    explicit Line(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Line() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Open() const { return fd_ >= 0; }

    bool SetSpeed(speed_t speed) {
        termios tio{};
        tio.c_cflag = CS8 | CLOCAL | CREAD;
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        return ::tcsetattr(fd_, TCSANOW, &tio) == 0;
    }

    // Sends the request and collects the reply until `count` bytes or `limit`.
    std::vector<uint8_t> Exchange(std::vector<uint8_t> request, size_t count,
                                  std::chrono::milliseconds limit) {
        if (::write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return {};
        std::vector<uint8_t> reply;
        const auto end = Clock::now() + limit;
        while (reply.size() < count && Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            uint8_t buf[64];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) reply.insert(reply.end(), buf, buf + n);
        }
        return reply;
    }

    // Waits until the line reports a hang-up.
    bool HungUp(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                if (p.revents & (POLLHUP | POLLERR)) return true;
                uint8_t buf[64];
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n == 0 || (n < 0 && errno == EIO)) return true;
            }
        }
        return false;
    }

private:
    int fd_;
};

const std::vector<uint8_t> VER_REQUEST{STX, 35, 0, 35};

std::string TempDir() {
    char pattern[] = "/tmp/qln-valve-test-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    return dir != nullptr ? dir : "/tmp";
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(ValveProgram, AnswersOnlyAtItsLineSpeedAndEndsOnSigterm) {
    const std::string dir = TempDir();
    const std::string link = dir + "/valve";
    ValveProcess valve({"--link", link});
    ASSERT_GT(valve.Pid(), 0);
    ASSERT_EQ(valve.SlavePath().rfind("/dev/pts/", 0), 0u) << valve.SlavePath();
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(valve.SlavePath(), target);

    Line line(valve.SlavePath());
    ASSERT_TRUE(line.Open());
    ASSERT_TRUE(line.SetSpeed(B57600));
    EXPECT_TRUE(line.Exchange(VER_REQUEST, 3, 300ms).empty()) << "no answer at 57600 baud";

    ASSERT_TRUE(line.SetSpeed(B19200));
    const std::vector<uint8_t> reply = line.Exchange(VER_REQUEST, 3, 2s);
    ASSERT_EQ(reply.size(), 3u);
    EXPECT_EQ(reply[0], STX);
    EXPECT_GE(reply[1], 1);
    EXPECT_EQ(reply[2], reply[1]);

    ASSERT_EQ(::kill(valve.Pid(), SIGTERM), 0);
    EXPECT_EQ(valve.WaitExit(5s), 0);
    EXPECT_FALSE(Exists(link)) << "the link is removed on exit";
    ::rmdir(dir.c_str());
}

TEST(ValveProgram, EndsCleanlyOnEveryStopSignalAndRemovesItsLink) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string dir = TempDir();
        const std::string link = dir + "/valve";
        ValveProcess valve({"--link", link});
        ASSERT_GT(valve.Pid(), 0);
        ASSERT_TRUE(Exists(link));
        ASSERT_EQ(::kill(valve.Pid(), sig), 0);
        EXPECT_EQ(valve.WaitExit(5s), 0) << "signal " << sig;
        EXPECT_FALSE(Exists(link)) << "signal " << sig;
        ::rmdir(dir.c_str());
    }
}

TEST(ValveProgram, FaultOptionsReachTheValve) {
    ValveProcess valve({"--baud", "57600", "--nak-every", "2"});
    ASSERT_GT(valve.Pid(), 0);
    Line line(valve.SlavePath());
    ASSERT_TRUE(line.Open());
    ASSERT_TRUE(line.SetSpeed(B57600));
    EXPECT_EQ(line.Exchange(VER_REQUEST, 3, 2s).size(), 3u);
    EXPECT_EQ(line.Exchange(VER_REQUEST, 1, 2s), std::vector<uint8_t>{NAK});
    ASSERT_EQ(::kill(valve.Pid(), SIGINT), 0);
    EXPECT_EQ(valve.WaitExit(5s), 0);
}

TEST(ValveProgram, HangUpClosesTheLineAndEnds) {
    ValveProcess valve({"--hangup-after-ms", "500"});
    ASSERT_GT(valve.Pid(), 0);
    Line line(valve.SlavePath());
    ASSERT_TRUE(line.Open());
    ASSERT_TRUE(line.SetSpeed(B19200));
    EXPECT_TRUE(line.HungUp(5s));
    EXPECT_EQ(valve.WaitExit(5s), 0);
}

TEST(ValveProgram, RefusesBadOptions) {
    for (const char* bad : {"--baud", "--nak-every", "--frobnicate"}) {
        std::vector<std::string> args{bad};
        if (std::string(bad) == "--baud") args.push_back("9600");
        if (std::string(bad) == "--nak-every") args.push_back("x");
        ValveProcess valve(args);
        EXPECT_TRUE(valve.SlavePath().empty()) << bad;
        EXPECT_EQ(valve.WaitExit(5s), 2) << bad;
    }
}

// The whole program side (port driver, link threads, engine) against the virtual valve.
TEST(ValveProgram, CliReadsTheValveInformationAndStatus) {
    // qln-cli remembers the line's speed in the current folder: one of this test's own.
    qln_test::InTempFolder dir;
    ValveProcess valve({});
    ASSERT_GT(valve.Pid(), 0);
    RealClock clock;
    for (const char* command : {"info", "status"}) {
        std::ostringstream out, err;
        EXPECT_EQ(RunCli({"--device", valve.SlavePath(), "--json", command}, clock, out, err), 0)
            << command << ": " << err.str();
        if (std::string(command) == "info") {
            EXPECT_NE(out.str().find("123457"), std::string::npos) << out.str();
        }
    }
    ::kill(valve.Pid(), SIGTERM);
    EXPECT_EQ(valve.WaitExit(5s), 0);
}

} // namespace
