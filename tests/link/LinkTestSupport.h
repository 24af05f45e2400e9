#pragma once
// Helpers for the link tests: a private directory for trace files, trace entries without their
// time stamps, a pseudo-terminal standing in for the serial line, and the supervisor loop run
// by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <poll.h>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/ComThread.h"
#include "link/LinkState.h"
#include "link/SerialPort.h"

namespace linktest {

using Bytes = std::vector<uint8_t>;

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/qln-link-XXXXXX";
        if (::mkdtemp(tmpl)) path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The lines of a trace file, each still ending in "\r\n".
inline std::vector<std::string> TraceLines(const std::string& path) {
    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = text.find("\r\n", pos);
        const size_t next = end == std::string::npos ? text.size() : end + 2;
        lines.push_back(text.substr(pos, next - pos));
        pos = next;
    }
    return lines;
}

// The entries of a trace reduced to what the tests compare: the kind's head and the quoted text,
// without time and source position, e.g. "Info ' Close Com Port'". Header lines are left out.
inline std::vector<std::string> Entries(const std::string& path) {
    static const std::regex entry(
        R"(^(Snd  |Rcv  |Info |xxx  )\d\d:\d\d:\d\d: '(.*)' \t\[File: [^\]/]+, Line: \d+\] \r\n$)");
    std::vector<std::string> out;
    for (const std::string& line : TraceLines(path)) {
        std::smatch m;
        if (std::regex_match(line, m, entry)) out.push_back(m[1].str() + "'" + m[2].str() + "'");
    }
    return out;
}

// A link state whose trace is on and goes to a private debug.txt.
struct TracedLink {
    explicit TracedLink(IClock& clock, uint32_t testMode = 0) : state(std::make_unique<LinkState>(clock)) {
        state->uTestMode.store(testMode);
        state->trace.TraceEnabled.store(1);
        state->trace.OpenTrace(TracePath(), "QLN", testMode);
    }
    ~TracedLink() { CloseComPort(*state); }
    TracedLink(const TracedLink&) = delete;
    TracedLink& operator=(const TracedLink&) = delete;

    std::string TracePath() const { return dir.File("debug.txt"); }
    std::vector<std::string> Entries() const { return linktest::Entries(TracePath()); }
    bool Traced(const std::string& entry) const {
        const auto all = Entries();
        return std::find(all.begin(), all.end(), entry) != all.end();
    }

    TempDir dir;
    std::unique_ptr<LinkState> state;
};

// Polls `done` in real time; true when it became true before the deadline.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// One pass of the supervisor loop without its sleep: a step, then the tick.
inline void SupervisorPass(LinkState& s, int passes = 1) {
    for (int i = 0; i < passes; ++i) {
        SupervisorStep(s);
        LinkTick(s);
    }
}

// The engine's half of the exchange: fill the transmit buffer and ask for the send.
inline void RequestSend(LinkState& s, const Bytes& telegram) {
    std::fill(std::begin(s.TransmitBuffer), std::end(s.TransmitBuffer), 0);
    std::copy(telegram.begin(), telegram.end(), s.TransmitBuffer);
    s.TransmitLength.store(static_cast<uint32_t>(telegram.size()));
    s.SEND_STATE.store(SEND_REQUESTED);
    WakeSupervisor(s);
}

inline void RequestReply(LinkState& s, int32_t expected) {
    std::fill(std::begin(s.ReplyBuffer), std::end(s.ReplyBuffer), 0);
    s.ExpectedLength.store(expected);
    s.RECEIVE_STATE.store(RECEIVE_AWAITED);
    WakeSupervisor(s);
    WakeReceiver(s);
}

inline Bytes ReplyBytes(const LinkState& s, size_t n) {
    return Bytes(s.ReplyBuffer, s.ReplyBuffer + n);
}

// A pseudo-terminal: the slave stands in for the serial device, the test plays the valve on the
// master side.
class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
            ::ptsname_r(master_, name, sizeof name) == 0)
            slave_ = name;
    }
    ~Pty() { HangUp(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& Slave() const { return slave_; }

    void Write(const Bytes& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the device sent: up to `n` bytes, collected until they are all there or time is up.
    Bytes Read(size_t n, int timeoutMs = 3000) {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{master_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) break;
            uint8_t buf[256];
            const ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (got <= 0) break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    // Closing the master side is what an unplugged adapter looks like to the slave: a hang-up.
    void HangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_;
};

} // namespace linktest
