// qln-valve: the virtual valve on a pseudo-terminal. This file owns the terminal, the clock, the
// signals and the command line; the valve's behaviour is in the library.
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "UsbAdapter.h"
#include "Valve.h"

namespace {

using valve::Bytes;
using valve::Micros;

constexpr int EXIT_USAGE = 2;

const char* const USAGE =
    "usage: qln-valve [--baud 19200|57600] [--link PATH] [--log] [--silent]\n"
    "                 [--bad-bcc-every N] [--nak-every N] [--drop-every N] [--garbage-every N]\n"
    "                 [--delay-ms N] [--hangup-after-ms N] [--adapter-latency MS]\n";

const char* const HELP =
    "A virtual valve on a pseudo-terminal. Prints the terminal's path on the first line.\n"
    "\n"
    "Options:\n"
    "  --baud 19200|57600      the valve's line speed (default 19200)\n"
    "  --link PATH             a symbolic link PATH to the terminal, removed again on exit\n"
    "  --log                   one line per telegram received and sent, on stderr\n"
    "  --silent                answer nothing\n"
    "  --bad-bcc-every N       give every Nth reply with a block check a wrong one\n"
    "  --nak-every N           refuse every Nth request with NAK (and do not carry it out)\n"
    "  --drop-every N          do not send every Nth reply (the request is carried out)\n"
    "  --garbage-every N       send a few junk bytes before every Nth reply\n"
    "  --delay-ms N            answer N ms late\n"
    "  --hangup-after-ms N     hang the line up after N ms, as a pulled USB adapter does\n"
    "  --adapter-latency MS    behave as a USB serial adapter with its latency timer at MS ms: hold\n"
    "                          a reply's bytes until MS ms after the first of them, or until 62 wait\n"
    "  -h, --help              print this help\n"
    "  --version               print the version\n";

struct Options {
    int baud = 19200;
    std::string link;
    bool log = false;
    valve::FaultOptions faults;
    uint32_t delayMs = 0;
    std::optional<uint32_t> hangupAfterMs;
    uint32_t adapterLatencyMs = 0;
};

bool ParseNumber(std::string_view text, uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// Returns false on a usage error, with the reason in `error`.
bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    struct Counted {
        const char* flag;
        uint32_t* target;
    };
    uint32_t hangup = 0;
    const Counted counted[] = {
        {"--bad-bcc-every", &o.faults.badBccEvery},
        {"--nak-every", &o.faults.nakEvery},
        {"--drop-every", &o.faults.dropEvery},
        {"--garbage-every", &o.faults.garbageEvery},
        {"--delay-ms", &o.delayMs},
        {"--hangup-after-ms", &hangup},
        {"--adapter-latency", &o.adapterLatencyMs},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--log") {
            o.log = true;
        } else if (arg == "--silent") {
            o.faults.silent = true;
        } else if (arg == "--link" && hasValue) {
            o.link = argv[++i];
        } else if (arg == "--baud" && hasValue) {
            const std::string_view v = argv[++i];
            if (v != "19200" && v != "57600") {
                error = "--baud takes 19200 or 57600";
                return false;
            }
            o.baud = v == "19200" ? 19200 : 57600;
        } else {
            bool known = false;
            for (const Counted& c : counted) {
                if (arg != c.flag) continue;
                if (!hasValue || !ParseNumber(argv[++i], *c.target)) {
                    error = std::string(c.flag) + " takes a whole number";
                    return false;
                }
                if (c.target == &hangup) o.hangupAfterMs = hangup;
                known = true;
            }
            if (!known) {
                error = "unknown or incomplete option: " + std::string(arg);
                return false;
            }
        }
    }
    return true;
}

// The master side of a pseudo-terminal. The valve also keeps the slave side open itself, so
// the line stays up while the program on the other end closes and reopens the port.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal() { Close(); }

    bool Open(std::string& error) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0)
            return Fail("cannot create a pseudo-terminal", error);
        path_ = name;
        // On Linux the settings of the master are those of the slave side: start raw, without
        // echo, until the program on the other end sets up the line its way.
        termios tio{};
        if (::tcgetattr(master_, &tio) != 0) return Fail("cannot read the terminal settings", error);
        ::cfmakeraw(&tio);
        if (::tcsetattr(master_, TCSANOW, &tio) != 0) return Fail("cannot set the terminal raw", error);
        if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
            return Fail("cannot make the terminal non-blocking", error);
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave_ < 0) return Fail("cannot open the terminal's slave side", error);
        return true;
    }

    int Master() const { return master_; }
    const std::string& SlavePath() const { return path_; }

    // The speed the program on the other end has set the line to.
    bool LineAt(speed_t speed) const {
        termios tio{};
        return ::tcgetattr(master_, &tio) == 0 && ::cfgetospeed(&tio) == speed;
    }

    // Closing the master hangs the line up, as when a USB adapter is pulled.
    void Close() {
        for (int* fd : {&slave_, &master_})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
    }

private:
    bool Fail(const char* what, std::string& error) {
        error = std::string(what) + ": " + std::strerror(errno);
        Close();
        return false;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// A symbolic link to the terminal under a stable name; removed again on exit if it still points
// to this terminal. An existing file that is not a symbolic link is never replaced.
class LinkName {
public:
    LinkName() = default;
    LinkName(const LinkName&) = delete;
    LinkName& operator=(const LinkName&) = delete;
    ~LinkName() {
        if (made_ && PointsTo(target_)) ::unlink(path_.c_str());
    }

    bool Make(const std::string& path, const std::string& target, std::string& error) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = path + " exists and is not a symbolic link";
                return false;
            }
            ::unlink(path.c_str());
        }
        if (::symlink(target.c_str(), path.c_str()) != 0) {
            error = "cannot create " + path + ": " + std::strerror(errno);
            return false;
        }
        path_ = path;
        target_ = target;
        made_ = true;
        return true;
    }

private:
    bool PointsTo(const std::string& target) const {
        char buf[256];
        const ssize_t n = ::readlink(path_.c_str(), buf, sizeof buf);
        return n > 0 && std::string(buf, static_cast<size_t>(n)) == target;
    }

    std::string path_;
    std::string target_;
    bool made_ = false;
};

// SIGINT, SIGTERM and SIGHUP arrive as readable data on a descriptor, so the main loop ends them.
class StopSignals {
public:
    StopSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP); // a closed terminal ends the valve as cleanly as Ctrl+C
        ::sigprocmask(SIG_BLOCK, &set, nullptr);
        fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

valve::BcdDate Today() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return {valve::ToBcd(tm.tm_year % 100), valve::ToBcd(tm.tm_mon + 1), valve::ToBcd(tm.tm_mday)};
}

Bytes ReadAvailable(int fd) {
    Bytes rx;
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        rx.insert(rx.end(), buf, buf + n);
    }
    return rx;
}

// Bytes the other end does not take are lost, as on a real line.
void WriteLine(int fd, const Bytes& tx) {
    size_t done = 0;
    while (done < tx.size()) {
        const ssize_t n = ::write(fd, tx.data() + done, tx.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

timespec Timeout(Micros wait) {
    const auto us = std::max<int64_t>(wait.count(), 0);
    return {static_cast<time_t>(us / 1'000'000), static_cast<long>(us % 1'000'000) * 1000};
}

void LogLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

int Run(const Options& o) {
    StopSignals signals;
    PseudoTerminal pty;
    std::string error;
    if (signals.Fd() < 0 || !pty.Open(error)) {
        std::fprintf(stderr, "qln-valve: %s\n", signals.Fd() < 0 ? "cannot watch signals" : error.c_str());
        return EXIT_FAILURE;
    }
    LinkName link;
    if (!o.link.empty() && !link.Make(o.link, pty.SlavePath(), error)) {
        std::fprintf(stderr, "qln-valve: %s\n", error.c_str());
        return EXIT_FAILURE;
    }

    const speed_t speed = o.baud == 57600 ? B57600 : B19200;
    valve::ValveOptions vo;
    vo.baud = o.baud;
    vo.faults = o.faults;
    vo.replyDelay = Micros{static_cast<int64_t>(o.delayMs) * 1000};
    vo.lineSpeedOk = [&pty, speed] { return pty.LineAt(speed); };
    if (o.log) vo.log = LogLine;
    vo.today = Today();
    valve::Valve valve(vo);
    valve::UsbAdapter adapter(Micros{int64_t{o.adapterLatencyMs} * 1000});

    std::printf("%s\n", pty.SlavePath().c_str());
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    auto now = [start] {
        return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - start);
    };
    const std::optional<Micros> hangupAt =
        o.hangupAfterMs ? std::optional<Micros>(Micros{int64_t{*o.hangupAfterMs} * 1000}) : std::nullopt;
    for (;;) {
        Micros t = now();
        if (hangupAt && t >= *hangupAt) {
            pty.Close();
            if (o.log) LogLine("hang-up: the line is gone");
            return EXIT_SUCCESS;
        }
        Micros wake = valve.NextWake(t);
        if (hangupAt) wake = std::min(wake, *hangupAt);
        if (const auto due = adapter.NextDue()) wake = std::min(wake, std::max(*due, t));
        const timespec timeout = Timeout(wake - t);
        pollfd fds[2] = {{pty.Master(), POLLIN, 0}, {signals.Fd(), POLLIN, 0}};
        if (::ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR) {
            std::perror("qln-valve: poll");
            return EXIT_FAILURE;
        }
        if (fds[1].revents & POLLIN) return EXIT_SUCCESS;
        const Bytes rx = (fds[0].revents & POLLIN) ? ReadAvailable(pty.Master()) : Bytes{};
        const Micros stepped = now();
        WriteLine(pty.Master(), adapter.Pass(valve.Step(rx, stepped), stepped));
    }
}

} // namespace

int main(int argc, char** argv) {
    // A reader of stdout or stderr that has gone away must not end the valve.
    std::signal(SIGPIPE, SIG_IGN);
    Options o;
    std::string error;
    if (argc > 1 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(USAGE, stdout);
        std::fputs(HELP, stdout);
        return EXIT_SUCCESS;
    }
    if (argc > 1 && std::string_view(argv[1]) == "--version") {
        std::puts("qln-valve " QLN_VERSION);
        return EXIT_SUCCESS;
    }
    if (!ParseOptions(argc, argv, o, error)) {
        std::fprintf(stderr, "qln-valve: %s\n%s", error.c_str(), USAGE);
        return EXIT_USAGE;
    }
    return Run(o);
}
