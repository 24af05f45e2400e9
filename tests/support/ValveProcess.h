#pragma once
// The real qln-valve program, started for a test (QLN_VALVE_PATH is the built program).
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qln_test {

// A started qln-valve with the first line of its output (the terminal's path) read. It is ended
// with SIGTERM and reaped however the test ends. With `logToPipe` its log (stderr, --log) comes
// through the same pipe, line by line after the path.
class ValveProcess {
public:
    explicit ValveProcess(std::vector<std::string> args, bool logToPipe = false)
        : ValveProcess(QLN_VALVE_PATH, std::move(args), logToPipe, true) {}
    // Any program, its stdout (and with `mergeStderr` its stderr) on the pipe.
    ValveProcess(const char* program, std::vector<std::string> args, bool mergeStderr, bool readPath) {
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (mergeStderr) posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        stdout_ = out[0];
        if (readPath) path_ = ReadLine(std::chrono::seconds(5));
    }
    ValveProcess(const ValveProcess&) = delete;
    ValveProcess& operator=(const ValveProcess&) = delete;
    ~ValveProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (WaitExit(std::chrono::seconds(5)) < 0 && pid_ > 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        if (stdout_ >= 0) ::close(stdout_);
    }

    const std::string& SlavePath() const { return path_; }
    pid_t Pid() const { return pid_; }

    // The exit status, or -1 if the program has not ended within `limit`.
    int WaitExit(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return -1;
    }

    // The next line of output without its end; "" when none came within `limit` or the pipe ended.
    std::string ReadLine(std::chrono::milliseconds limit) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char c;
            if (::read(stdout_, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }

    // The lines that come until the program has been quiet for a while: the first within `first`,
    // each further one within `quiet`; each with its end.
    std::string ReadLines(std::chrono::milliseconds first, std::chrono::milliseconds quiet) {
        std::string lines;
        for (std::string line = ReadLine(first); !line.empty(); line = ReadLine(quiet))
            lines += line + "\n";
        return lines;
    }

    // Everything until the program closes its end of the pipe (or `limit` passes).
    std::string ReadToEnd(std::chrono::milliseconds limit) {
        std::string all;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(stdout_, buf, sizeof buf);
            if (n <= 0) break;
            all.append(buf, static_cast<size_t>(n));
        }
        return all;
    }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string path_;
};

} // namespace qln_test
