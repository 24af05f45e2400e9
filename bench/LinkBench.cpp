// The link at wire speed, against the real qln-valve on a pseudo-terminal (it paces its replies
// at the line speed), on the real clock. Each figure is also given as a ratio to the wire time of
// the same telegrams: 10 bits per byte at the line speed.
//
//   BM_Exchange/19200|57600        one exchange through the link threads (request 4 bytes,
//                                  reply 3), the bench thread playing the engine
//   BM_ReadParams/...              a whole read-params: threads started on a fresh state, the
//                                  rate found (or given, as qln-cli --baud does), 36 parameters
//                                  read, threads stopped
//   BM_CliProcess/...              the same as the whole qln-cli process
//   BM_IdleWakeups/...             wake-ups per second of the four threads while idle
//   BM_SampleStream                CPU of the link threads while the scope's sample stream
//                                  comes in (a 4 ms recording)
//   BM_StartStop                   starting and stopping the four threads
//   BM_Recording                   a whole 20 s step recording at 4 ms by the qln-cli process
//                                  against qln-valve: samples, skipped redraws, CPU per second
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/DeviceCommands.h"
#include "engine/EngineThreads.h"
#include "link/ComThread.h"
#include "link/SerialPort.h"
#include "settings/ComSettings.h"
#include "support/EngineHarness.h"
#include "support/ValveProcess.h"

extern char** environ;

using namespace qln_test;
using Steady = std::chrono::steady_clock;

namespace {
constexpr int BYTES_PER_EXCHANGE = 4 + 3;

double WireSeconds(double bytes, int baud) {
    return bytes * 10.0 / baud;
}

int32_t BaudIndexOf(int baud) {
    return baud == 57600 ? 3 : 2;
}

// Google Benchmark's rates divide by the CPU time of the bench thread, which mostly waits here:
// the real time per run is measured by hand.
class RealTimer {
public:
    void Report(benchmark::State& state, double wireSeconds) const {
        const double perRun = std::chrono::duration<double>(Steady::now() - start_).count() /
                              static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
        state.counters["ms_per_run"] = perRun * 1e3;
        if (wireSeconds <= 0) return;
        state.counters["wire_ms"] = wireSeconds * 1e3;
        state.counters["over_wire_ms"] = (perRun - wireSeconds) * 1e3;
        state.counters["ratio_to_wire"] = perRun / wireSeconds;
    }

private:
    Steady::time_point start_ = Steady::now();
};

// The engine's side of waiting: block until `done` holds, woken by the supervisor.
template <class Done> void AwaitOutcome(LinkState& l, Done done) {
    for (;;) {
        const uint32_t seen = l.EngineWake.count.load();
        if (done()) return;
        l.clock->Wait(l.EngineWake, seen, IClock::FOREVER);
    }
}

// The three link threads, as EngineThreads starts them, without the engine.
class LinkThreads {
public:
    explicit LinkThreads(LinkState& s) : s_(s) {
        for (int t : {THREAD_MAINCTRL, THREAD_WRITECOM, THREAD_READCOM})
            s.RunStates[t].store(RUN_RUNNING);
        threads_.emplace_back(MainCtrlThread, std::ref(s));
        threads_.emplace_back(WriteComThread, std::ref(s));
        threads_.emplace_back(ReadComThread, std::ref(s));
    }
    ~LinkThreads() {
        s_.RunStates[THREAD_MAINCTRL].store(RUN_STOP_REQUESTED);
        WakeSupervisor(s_);
        for (auto& t : threads_)
            t.join();
    }

private:
    LinkState& s_;
    std::vector<std::thread> threads_;
};

void BM_Exchange(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    ValveProcess valve({"--baud", std::to_string(baud)});
    RealClock clock;
    auto link = std::make_unique<LinkState>(clock);
    LinkState& l = *link;
    l.DevicePath[0] = valve.SlavePath();
    l.BaudIndex.store(BaudIndexOf(baud));
    if (valve.SlavePath().empty() || !InitComPort(l)) {
        state.SkipWithError("qln-valve or the port did not start");
        return;
    }
    LinkThreads threads(l);
    const uint8_t request[4] = {STX, 0x23, 0x00, 0x23};
    const RealTimer timer;
    for (auto _ : state) {
        std::copy(request, request + 4, l.TransmitBuffer);
        l.TransmitLength.store(4);
        l.SEND_STATE.store(SEND_REQUESTED);
        WakeSupervisor(l);
        AwaitOutcome(l, [&] { return l.SEND_STATE.load() != SEND_REQUESTED; });
        l.ExpectedLength.store(3);
        l.RECEIVE_STATE.store(RECEIVE_AWAITED);
        WakeSupervisor(l);
        WakeReceiver(l);
        AwaitOutcome(l, [&] { return l.RECEIVE_STATE.load() != RECEIVE_AWAITED; });
        if (l.RECEIVE_STATE.load() != RECEIVE_COMPLETE || l.ReplyBuffer[0] != STX) {
            state.SkipWithError("no reply");
            break;
        }
    }
    timer.Report(state, WireSeconds(BYTES_PER_EXCHANGE, baud));
    CloseComPort(l);
}

// read-params from a fresh start: the rate search (or the given rate), then the 36 reads.
void BM_ReadParams(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const bool given = state.range(1) != 0;
    ValveProcess valve({"--baud", std::to_string(baud)});
    if (valve.SlavePath().empty()) {
        state.SkipWithError("qln-valve did not start");
        return;
    }
    RealClock clock;
    const RealTimer timer;
    for (auto _ : state) {
        auto qln = std::make_unique<QlnState>(clock);
        QlnState& s = *qln;
        s.link.DevicePath[0] = valve.SlavePath();
        if (given) s.link.FixedBaudIndex.store(BaudIndexOf(baud));
        RecordingNotifier notifier;
        EngineThreads threads(s, notifier);
        threads.Start();
        RequestAction(s, CMD_READ_PARAMETER);
        if (!notifier.WaitForCount(1) || notifier.Codes().front() != NOTIFY_PARAMETERS_READ) {
            state.SkipWithError("the read failed");
            break;
        }
        threads.Stop();
    }
    // The probe at 19200 that goes unanswered puts its 4 bytes on the wire too.
    double wire = WireSeconds((1 + PARAM_TELEGRAM_COUNT) * BYTES_PER_EXCHANGE, baud);
    if (baud == 57600 && !given) wire += WireSeconds(4, 19200);
    timer.Report(state, wire);
}

int RunProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The whole qln-cli process. Argument 0: 0 for `--test-mode info`, else the valve's speed;
// argument 1: whether --baud gives that speed.
void BM_CliProcess(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    std::unique_ptr<ValveProcess> valve;
    // Without the valve history: CliHistoryBench measures what it adds.
    std::vector<std::string> args{QLN_CLI_PATH, "--history", "off"};
    if (baud == 0) {
        args.insert(args.end(), {"--test-mode", "info"});
    } else {
        valve = std::make_unique<ValveProcess>(std::vector<std::string>{"--baud", std::to_string(baud)});
        args.insert(args.end(), {"--device", valve->SlavePath()});
        if (state.range(1)) args.insert(args.end(), {"--baud", std::to_string(baud)});
        args.push_back("read-params");
    }
    InTempFolder folder; // qln-cli reads and writes its settings in the current folder
    const RealTimer timer;
    for (auto _ : state) {
        // Each run searches the rate as on a first start: no speed remembered from the last.
        std::remove(kComSettingsFile);
        if (RunProcess(args) != 0) {
            state.SkipWithError("qln-cli failed");
            break;
        }
    }
    double wire = 0;
    if (baud != 0) {
        wire = WireSeconds((1 + PARAM_TELEGRAM_COUNT) * BYTES_PER_EXCHANGE, baud);
        if (baud == 57600 && !state.range(1)) wire += WireSeconds(4, 19200);
    }
    timer.Report(state, wire);
}

// A 20 s step recording at 4 ms by the whole qln-cli process against qln-valve at 19200 baud.
// Reports the samples recorded (5000 expected), the redraws skipped because the last one was not
// done yet, and the CPU the process used per second of recording (user and system, all threads).
void BM_Recording(benchmark::State& state) {
    ValveProcess valve({});
    InTempFolder folder;
    std::vector<std::string> args{QLN_CLI_PATH, "--device", valve.SlavePath(), "--json", "record",
                                  "--mode",     "step",     "--time",          "20"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    double cpu = 0, seconds = 0;
    std::string out;
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "summary.json",
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const auto start = Steady::now();
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        rusage usage{};
        if (rc != 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("qln-cli record failed");
            break;
        }
        seconds += std::chrono::duration<double>(Steady::now() - start).count();
        auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
        cpu += secs(usage.ru_utime) + secs(usage.ru_stime);
        out = ReadWholeFile("summary.json");
    }
    auto field = [&out](const char* key) {
        const size_t at = out.find(key);
        return at == std::string::npos ? -1.0 : std::atof(out.c_str() + at + std::strlen(key) + 3);
    };
    state.counters["samples"] = field("\"samples");
    state.counters["too_fast"] = field("\"display_update_too_fast");
    state.counters["cpu_per_s"] = seconds > 0 ? cpu / seconds : 0;
}

// Context switches of every thread of this process but the calling one: each one is a wake-up.
long OtherThreadsSwitches(long except = 0) {
    const long self = ::syscall(SYS_gettid);
    long total = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        const long tid = std::stol(task.path().filename().string());
        if (tid == self || tid == except) continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

// The four threads idle after a status read, the port open (argument 1) or the built-in valve
// (argument 0), as the program sits between the window's requests.
void BM_IdleWakeups(benchmark::State& state) {
    const bool port = state.range(0) != 0;
    std::unique_ptr<ValveProcess> valve;
    RealClock clock;
    auto qln = std::make_unique<QlnState>(clock);
    QlnState& s = *qln;
    if (port) {
        valve = std::make_unique<ValveProcess>(std::vector<std::string>{});
        s.link.DevicePath[0] = valve->SlavePath();
    } else {
        s.link.uTestMode.store(1);
    }
    RecordingNotifier notifier;
    EngineThreads threads(s, notifier);
    threads.Start();
    RequestAction(s, CMD_READ_STATUS);
    if (!notifier.WaitFor(NOTIFY_STATUS)) {
        state.SkipWithError("the status read failed");
        return;
    }
    WaitUntil([&] { return s.THREAD_CMD.load() == 0; });
    double seconds = 0;
    long wakeups = 0;
    for (auto _ : state) {
        const long before = OtherThreadsSwitches();
        const auto start = Steady::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        seconds += std::chrono::duration<double>(Steady::now() - start).count();
        wakeups += OtherThreadsSwitches() - before;
    }
    threads.Stop();
    state.counters["wakeups_per_s"] = static_cast<double>(wakeups) / seconds;
}

// CPU time the threads of this process but the calling one and `except` have run, in ns.
int64_t OtherThreadsCpuNs(long except) {
    const long self = ::syscall(SYS_gettid);
    int64_t total = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        const long tid = std::stol(task.path().filename().string());
        if (tid == self || tid == except) continue;
        std::ifstream schedstat(task.path() / "schedstat");
        int64_t ns = 0;
        if (schedstat >> ns) total += ns;
    }
    return total;
}

// The scope's sample stream: 6-byte records every 4 ms for 5 s on a pseudo-terminal, taken in
// blocks of 49 records as a 4 ms recording takes them, through the link threads. Reports the CPU
// the link threads spend per second of recording, and how often they wake.
void BM_SampleStream(benchmark::State& state) {
    constexpr int RECORDS_PER_BLOCK = 49;
    constexpr auto PERIOD = std::chrono::milliseconds(4);
    constexpr int RECORDS = 1250;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    RealClock clock;
    auto link = std::make_unique<LinkState>(clock);
    LinkState& l = *link;
    l.DevicePath[0] = name;
    l.BaudIndex.store(3);
    if (!InitComPort(l)) {
        state.SkipWithError("the port did not open");
        return;
    }
    l.SampleStreamMode.store(1);
    LinkThreads threads(l);
    double cpuMsPerSecond = 0, wakeupsPerSecond = 0;
    for (auto _ : state) {
        std::atomic<long> writerTid{0};
        std::thread writer([&] {
            writerTid.store(::syscall(SYS_gettid));
            auto next = Steady::now();
            for (int i = 0; i < RECORDS; ++i) {
                const uint8_t record[6] = {STX, uint8_t(i), 0x80, 0x80, 0xC0, 0x01};
                [[maybe_unused]] const ssize_t n = ::write(master, record, sizeof record);
                next += PERIOD;
                std::this_thread::sleep_until(next);
            }
        });
        while (writerTid.load() == 0)
            std::this_thread::yield();
        const int64_t cpuBefore = OtherThreadsCpuNs(writerTid.load());
        const long switchesBefore = OtherThreadsSwitches(writerTid.load());
        const auto start = Steady::now();
        int records = 0;
        while (records + RECORDS_PER_BLOCK <= RECORDS) {
            l.ExpectedLength.store(RECORDS_PER_BLOCK * 6);
            l.RECEIVE_STATE.store(RECEIVE_AWAITED);
            WakeSupervisor(l);
            WakeReceiver(l);
            AwaitOutcome(l, [&] { return l.RECEIVE_STATE.load() != RECEIVE_AWAITED; });
            if (l.RECEIVE_STATE.load() != RECEIVE_COMPLETE) break;
            records += RECORDS_PER_BLOCK;
        }
        const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
        const int64_t cpu = OtherThreadsCpuNs(writerTid.load()) - cpuBefore;
        const long switches = OtherThreadsSwitches(writerTid.load()) - switchesBefore;
        writer.join();
        if (records < RECORDS - RECORDS_PER_BLOCK) {
            state.SkipWithError("records went missing");
            break;
        }
        cpuMsPerSecond = static_cast<double>(cpu) / 1e6 / seconds;
        wakeupsPerSecond = static_cast<double>(switches) / seconds;
    }
    state.counters["link_cpu_ms_per_s"] = cpuMsPerSecond;
    state.counters["wakeups_per_s"] = wakeupsPerSecond;
    l.SampleStreamMode.store(0);
    CloseComPort(l);
    ::close(master);
}

void BM_StartStop(benchmark::State& state) {
    RealClock clock;
    auto qln = std::make_unique<QlnState>(clock);
    RecordingNotifier notifier;
    const RealTimer timer;
    for (auto _ : state) {
        EngineThreads threads(*qln, notifier);
        threads.Start();
        threads.Stop();
    }
    timer.Report(state, 0);
}
} // namespace

BENCHMARK(BM_Exchange)->Arg(19200)->Arg(57600)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ReadParams)
    ->Args({19200, 0})
    ->Args({57600, 0})
    ->Args({19200, 1})
    ->Args({57600, 1})
    ->ArgNames({"baud", "given"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_CliProcess)
    ->Args({0, 0})
    ->Args({19200, 0})
    ->Args({57600, 0})
    ->Args({57600, 1})
    ->ArgNames({"baud", "given"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_IdleWakeups)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("port")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_SampleStream)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_StartStop)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Recording)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
